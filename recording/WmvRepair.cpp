#include "recording/WmvRepair.h"

#include "foundation/Tracer.h"
#include "recording/RepairFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace wmvrepair {
namespace {

using avirepair::CResult;
using avirepair::EState;

// Object GUIDs as they are stored in the file.
constexpr uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kSimpleIndexGuid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                          0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr int64_t kDataHeaderBytes = 50;     // GUID, size, file ID, packet count, reserved
constexpr int64_t kIndexInterval = 10000000; // one index entry a second, in 100-ns units
constexpr uint32_t kBroadcastFlag = 1;       // the header's counts are not valid by design

uint64_t Le(const uint8_t* p, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
        value |= static_cast<uint64_t>(p[i]) << (8 * i);
    }
    return value;
}

void PutLe(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// Bytes of a field whose length type is 0 (absent), 1 (byte), 2 (word) or 3 (double word).
size_t FieldBytes(unsigned type) {
    return type == 3 ? 4 : type;
}

// Where the header keeps what the repair fills in.
struct CLayout {
    int64_t fileSize = 0;       // of the file on the disk
    int64_t fileProperties = 0; // start of the file properties object
    int64_t data = 0;           // start of the data object
    uint64_t sizeField = 0;     // the file size the header states
    uint64_t packetsField = 0;  // the data packets it counts
    uint64_t prerollMs = 0;
    uint32_t flags = 0;
    uint32_t packetSize = 0; // 0 when the packets are not all of one size
};

bool ReadLayout(const CRepairFile& file, CLayout& layout) {
    struct stat status {};
    if (file.Fd() < 0 || fstat(file.Fd(), &status) != 0) {
        return false;
    }
    layout.fileSize = status.st_size;
    uint8_t head[30];
    if (!file.ReadAt(0, head, sizeof head) || std::memcmp(head, kHeaderGuid, 16) != 0) {
        return false;
    }
    const int64_t headerEnd = static_cast<int64_t>(Le(head + 16, 8));
    if (headerEnd < 30 || headerEnd > layout.fileSize) {
        return false;
    }
    for (int64_t at = 30; at + 24 <= headerEnd;) {
        uint8_t object[24];
        if (!file.ReadAt(at, object, sizeof object)) {
            return false;
        }
        const int64_t size = static_cast<int64_t>(Le(object + 16, 8));
        if (size < 24 || at + size > headerEnd) {
            return false;
        }
        if (std::memcmp(object, kFilePropertiesGuid, 16) == 0 && size >= 104) {
            uint8_t properties[104];
            if (!file.ReadAt(at, properties, sizeof properties)) {
                return false;
            }
            layout.fileProperties = at;
            layout.sizeField = Le(properties + 40, 8);
            layout.packetsField = Le(properties + 56, 8);
            layout.prerollMs = Le(properties + 80, 8);
            layout.flags = static_cast<uint32_t>(Le(properties + 88, 4));
            const uint32_t minPacket = static_cast<uint32_t>(Le(properties + 92, 4));
            const uint32_t maxPacket = static_cast<uint32_t>(Le(properties + 96, 4));
            layout.packetSize = minPacket == maxPacket && minPacket >= 32 ? minPacket : 0;
        }
        at += size;
    }
    uint8_t data[16];
    if (layout.fileProperties == 0 || !file.ReadAt(headerEnd, data, sizeof data) ||
        std::memcmp(data, kDataGuid, 16) != 0) {
        return false;
    }
    layout.data = headerEnd;
    return true;
}

int64_t WholePackets(const CLayout& layout) {
    const int64_t bytes = layout.fileSize - layout.data - kDataHeaderBytes;
    return layout.packetSize == 0 || bytes < 0 ? 0 : bytes / layout.packetSize;
}

// A media object (a frame) that starts in the packets read.
struct CObject {
    unsigned stream = 0;
    uint64_t number = 0;
    uint32_t presentationMs = 0;
    bool key = false;
    int64_t firstPacket = 0;
    int64_t lastPacket = 0;
};

// Reads the payloads of one data packet into objects; false when the packet does not parse (a
// packet of another writer or one the crash damaged: the file is cut before it).
bool ReadPacket(const std::vector<uint8_t>& packet, int64_t index, std::vector<CObject>& objects) {
    const size_t size = packet.size();
    size_t at = 0;
    auto take = [&](size_t bytes, uint64_t& value) {
        if (at + bytes > size) {
            return false;
        }
        value = Le(packet.data() + at, bytes);
        at += bytes;
        return true;
    };
    uint64_t lengthTypes = packet[0];
    if ((lengthTypes & 0x80) != 0) { // error correction data first
        at = 1 + (lengthTypes & 0x0F);
        if (!take(1, lengthTypes)) {
            return false;
        }
    } else {
        at = 1;
    }
    uint64_t properties = 0;
    uint64_t packetLength = 0;
    uint64_t sequence = 0;
    uint64_t padding = 0;
    uint64_t sendTime = 0;
    uint64_t duration = 0;
    if (!take(1, properties) || !take(FieldBytes((lengthTypes >> 5) & 3), packetLength) ||
        !take(FieldBytes((lengthTypes >> 1) & 3), sequence) ||
        !take(FieldBytes((lengthTypes >> 3) & 3), padding) || !take(4, sendTime) || !take(2, duration)) {
        return false;
    }
    const uint64_t length = packetLength > 0 && packetLength <= size ? packetLength : size;
    if (padding > length) {
        return false;
    }
    const size_t end = static_cast<size_t>(length - padding);
    uint64_t count = 1;
    uint64_t payloadFlags = 0;
    const bool multiple = (lengthTypes & 1) != 0;
    if (multiple) {
        if (!take(1, payloadFlags)) {
            return false;
        }
        count = payloadFlags & 0x3F;
    }
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t stream = 0;
        uint64_t number = 0;
        uint64_t offset = 0;
        uint64_t replicated = 0;
        if (!take(1, stream) || !take(FieldBytes((properties >> 4) & 3), number) ||
            !take(FieldBytes((properties >> 2) & 3), offset) ||
            !take(FieldBytes(properties & 3), replicated) || at + replicated > end) {
            return false;
        }
        uint64_t presentation = 0;
        bool starts = false;
        if (replicated >= 8) {
            presentation = Le(packet.data() + at + 4, 4);
            starts = offset == 0;
        } else if (replicated == 1) { // compressed payload: the offset field holds the time
            presentation = offset;
            starts = true;
        }
        at += replicated;
        uint64_t payloadBytes = end - std::min<size_t>(at, end);
        if (multiple && !take(FieldBytes((payloadFlags >> 6) & 3), payloadBytes)) {
            return false;
        }
        if (at + payloadBytes > end) {
            return false;
        }
        at += payloadBytes;
        const unsigned streamNumber = static_cast<unsigned>(stream & 0x7F);
        if (starts) {
            objects.push_back({streamNumber, number, static_cast<uint32_t>(presentation),
                               (stream & 0x80) != 0, index, index});
        } else {
            // A later part of an object: it spans this packet too.
            for (auto it = objects.rbegin(); it != objects.rend() && it - objects.rbegin() < 8; ++it) {
                if (it->stream == streamNumber && it->number == number) {
                    it->lastPacket = index;
                    break;
                }
            }
        }
    }
    return true;
}

// The simple index: for every second of presentation time, the packets of the last key frame
// shown by then (the first key frame before it).
std::vector<uint8_t> SimpleIndex(const std::vector<CObject>& objects, int64_t playDuration100ns,
                                 const uint8_t* fileId) {
    std::vector<const CObject*> keys;
    for (const CObject& object : objects) {
        if (object.key) {
            keys.push_back(&object);
        }
    }
    std::vector<uint8_t> index;
    if (keys.empty()) {
        return index; // nothing to seek to; players read the file without an index
    }
    const int64_t entries = playDuration100ns / kIndexInterval + 1;
    std::vector<uint8_t> body;
    uint64_t maxPackets = 0;
    size_t key = 0;
    for (int64_t i = 0; i < entries; ++i) {
        const int64_t timeMs = i * (kIndexInterval / 10000);
        while (key + 1 < keys.size() && keys[key + 1]->presentationMs <= timeMs) {
            ++key;
        }
        const uint64_t packets = static_cast<uint64_t>(keys[key]->lastPacket - keys[key]->firstPacket + 1);
        maxPackets = std::max(maxPackets, packets);
        PutLe(body, static_cast<uint64_t>(keys[key]->firstPacket), 4);
        PutLe(body, std::min<uint64_t>(packets, 0xFFFF), 2);
    }
    index.insert(index.end(), kSimpleIndexGuid, kSimpleIndexGuid + 16);
    PutLe(index, 56 + body.size(), 8);
    index.insert(index.end(), fileId, fileId + 16);
    PutLe(index, kIndexInterval, 8);
    PutLe(index, maxPackets, 4);
    PutLe(index, static_cast<uint64_t>(entries), 4);
    index.insert(index.end(), body.begin(), body.end());
    return index;
}

} // namespace

EState Inspect(const std::string& name) {
    CRepairFile file(name, O_RDONLY);
    CLayout layout;
    if (!ReadLayout(file, layout)) {
        return EState::NotAvi;
    }
    // The writer and the repair fill in the file size last.
    if (layout.sizeField > 0 || (layout.flags & kBroadcastFlag) != 0) {
        return EState::Finished;
    }
    return WholePackets(layout) > 0 ? EState::Unfinished : EState::Unrepairable;
}

CResult Repair(const std::string& name) {
    CResult result;
    result.file = name;
    CRepairFile file(name, O_RDWR);
    CLayout layout;
    if (!ReadLayout(file, layout) || layout.packetSize == 0) {
        result.problem = "not a WMV file of fixed-size packets that can be read and written";
        return result;
    }
    uint8_t fileId[16];
    if (!file.ReadAt(layout.data + 24, fileId, sizeof fileId)) {
        result.problem = "the data object cannot be read";
        return result;
    }
    const int64_t firstPacket = layout.data + kDataHeaderBytes;
    const int64_t whole = WholePackets(layout);
    std::vector<CObject> objects;
    std::vector<uint8_t> packet(layout.packetSize);
    int64_t packets = 0;
    for (; packets < whole; ++packets) {
        if (!file.ReadAt(firstPacket + packets * layout.packetSize, packet.data(), packet.size()) ||
            !ReadPacket(packet, packets, objects)) {
            break;
        }
    }
    if (packets == 0 || objects.empty()) {
        result.problem = "no whole frame reached the disk";
        return result;
    }
    // Play duration: the last frame's presentation time plus one frame (the last interval
    // between two frames of its stream), preroll included, as the writer states it.
    uint32_t lastMs = 0;
    uint32_t frameMs = 0;
    for (size_t i = 0; i < objects.size(); ++i) {
        lastMs = std::max(lastMs, objects[i].presentationMs);
        if (i > 0 && objects[i].stream == objects[i - 1].stream &&
            objects[i].presentationMs > objects[i - 1].presentationMs) {
            frameMs = objects[i].presentationMs - objects[i - 1].presentationMs;
        }
    }
    const int64_t play100ns = (static_cast<int64_t>(lastMs) + frameMs) * 10000;
    const int64_t send100ns =
        std::max<int64_t>(0, play100ns - static_cast<int64_t>(layout.prerollMs) * 10000);
    const std::vector<uint8_t> index = SimpleIndex(objects, play100ns, fileId);

    const int64_t end = firstPacket + packets * layout.packetSize;
    const int64_t newSize = end + static_cast<int64_t>(index.size());
    const bool written = ftruncate(file.Fd(), end) == 0 &&
                         (index.empty() || pwrite(file.Fd(), index.data(), index.size(), end) ==
                                               static_cast<ssize_t>(index.size())) &&
                         file.WriteLeAt(layout.data + 16, static_cast<uint64_t>(end - layout.data), 8) &&
                         file.WriteLeAt(layout.data + 40, static_cast<uint64_t>(packets), 8) &&
                         file.WriteLeAt(layout.fileProperties + 56, static_cast<uint64_t>(packets), 8) &&
                         file.WriteLeAt(layout.fileProperties + 64, static_cast<uint64_t>(play100ns), 8) &&
                         file.WriteLeAt(layout.fileProperties + 72, static_cast<uint64_t>(send100ns), 8) &&
                         fdatasync(file.Fd()) == 0 &&
                         // The file size last: it marks the file finished.
                         file.WriteLeAt(layout.fileProperties + 40, static_cast<uint64_t>(newSize), 8) &&
                         fdatasync(file.Fd()) == 0;
    if (!written) {
        result.problem = std::string("cannot write the file: ") + std::strerror(errno);
        return result;
    }
    result.repaired = true;
    result.frames = static_cast<int64_t>(objects.size());
    result.cutBytes = layout.fileSize - end;
    TRACE("wmvrepair::Repair() '%s': %lld packets, %lld frames, %lld ms, %lld bytes cut", name.c_str(),
          static_cast<long long>(packets), static_cast<long long>(result.frames),
          static_cast<long long>(send100ns / 10000), static_cast<long long>(result.cutBytes));
    return result;
}

} // namespace wmvrepair
