#include "recording/AviRepair.h"

#include "foundation/Tracer.h"
#include "recording/RepairFile.h"
#include "recording/WmvRepair.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

namespace avirepair {
namespace {

constexpr uint32_t kKeyFrame = 0x10; // AVIIF_KEYFRAME
constexpr int64_t kMaxRiffBytes = int64_t{1} << 32;

std::mutex s_activeLock;
std::set<std::string> s_active;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool IsFourCc(const uint8_t* p, const char* fourCc) {
    return std::memcmp(p, fourCc, 4) == 0;
}

// The parts of an AVI header the repair fills in.
struct CLayout {
    int64_t fileSize = 0;
    uint32_t riffSize = 0;
    int64_t avih = -1;      // data of the main header
    int64_t videoStrh = -1; // data of the video stream header
    int64_t dmlh = -1;      // data of the OpenDML header
    int64_t movi = -1;      // the LIST chunk of the frames
    uint32_t moviSize = 0;
    bool h264 = false; // the video is H.264 (key frames found by their NAL units)
};

// Walks the header list: avih, the stream lists (strh of the video), odml/dmlh; then finds movi.
bool ReadLayout(const CRepairFile& file, CLayout& layout) {
    struct stat status {};
    if (fstat(file.Fd(), &status) != 0) {
        return false;
    }
    layout.fileSize = status.st_size;
    uint8_t head[12];
    if (!file.ReadAt(0, head, 12) || !IsFourCc(head, "RIFF") || !IsFourCc(head + 8, "AVI ")) {
        return false;
    }
    layout.riffSize = Le32(head + 4);
    // Chunks inside lists: descend into LIST hdrl, strl and odml; stop at LIST movi.
    int64_t at = 12;
    std::vector<int64_t> ends = {layout.fileSize};
    while (at + 8 <= layout.fileSize) {
        while (ends.size() > 1 && at >= ends.back()) {
            ends.pop_back();
        }
        uint8_t chunk[12];
        if (!file.ReadAt(at, chunk, 12)) {
            return false;
        }
        const uint32_t size = Le32(chunk + 4);
        if (IsFourCc(chunk, "LIST")) {
            if (IsFourCc(chunk + 8, "movi")) {
                layout.movi = at;
                layout.moviSize = size;
                return layout.avih >= 0;
            }
            ends.push_back(at + 8 + size);
            at += 12;
            continue;
        }
        if (IsFourCc(chunk, "avih")) {
            layout.avih = at + 8;
        } else if (IsFourCc(chunk, "strh") && layout.videoStrh < 0 && IsFourCc(chunk + 8, "vids")) {
            layout.videoStrh = at + 8;
            uint8_t handler[4];
            if (file.ReadAt(at + 12, handler, 4)) {
                const std::string name(reinterpret_cast<const char*>(handler), 4);
                layout.h264 = name == "H264" || name == "h264" || name == "X264" || name == "x264" ||
                              name == "avc1" || name == "AVC1";
            }
        } else if (IsFourCc(chunk, "dmlh")) {
            layout.dmlh = at + 8;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

bool IsChunkId(const uint8_t* p) {
    for (int i = 0; i < 4; ++i) {
        if (!std::isalnum(p[i]) && p[i] != ' ' && p[i] != '_') {
            return false;
        }
    }
    return true;
}

// Whether an H.264 access unit (byte stream) holds an IDR picture or a sequence parameter set.
bool IsH264KeyFrame(const CRepairFile& file, int64_t data, uint32_t size) {
    uint8_t bytes[256];
    const size_t n = std::min<size_t>(size, sizeof bytes);
    if (!file.ReadAt(data, bytes, n)) {
        return false;
    }
    for (size_t i = 0; i + 3 < n; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            const int type = bytes[i + 3] & 0x1F;
            if (type == 5 || type == 7) {
                return true;
            }
        }
    }
    return false;
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

} // namespace

EState Inspect(const std::string& name) {
    CRepairFile file(name, O_RDONLY);
    CLayout layout;
    if (file.Fd() < 0 || !ReadLayout(file, layout)) {
        return EState::NotAvi;
    }
    const bool finished = static_cast<int64_t>(layout.riffSize) + 8 >= layout.fileSize && layout.moviSize > 4;
    if (finished) {
        return EState::Finished;
    }
    if (layout.fileSize >= kMaxRiffBytes || layout.moviSize != 4) {
        return EState::Unrepairable;
    }
    return EState::Unfinished;
}

CResult Repair(const std::string& name) {
    CResult result;
    result.file = name;
    CRepairFile file(name, O_RDWR);
    CLayout layout;
    if (file.Fd() < 0 || !ReadLayout(file, layout)) {
        result.problem = "not an AVI file that can be read and written";
        return result;
    }
    if (layout.fileSize >= kMaxRiffBytes) {
        result.problem = "larger than one RIFF part";
        return result;
    }
    // The frames that reached the disk whole; a chunk cut short ends the list.
    std::vector<uint8_t> index = {'i', 'd', 'x', '1', 0, 0, 0, 0};
    const int64_t moviData = layout.movi + 8; // index offsets count from the list's type
    int64_t at = layout.movi + 12;
    int64_t frames = 0;
    while (at + 8 <= layout.fileSize) {
        uint8_t chunk[8];
        if (!file.ReadAt(at, chunk, 8) || !IsChunkId(chunk)) {
            break;
        }
        const uint32_t size = Le32(chunk + 4);
        const int64_t next = at + 8 + size + (size & 1);
        if (at + 8 + static_cast<int64_t>(size) > layout.fileSize) {
            break;
        }
        const bool video = chunk[2] == 'd' && (chunk[3] == 'c' || chunk[3] == 'b');
        const bool audio = chunk[2] == 'w' && chunk[3] == 'b';
        if (video || audio) {
            const bool key = !video || !layout.h264 || IsH264KeyFrame(file, at + 8, size);
            index.insert(index.end(), chunk, chunk + 4);
            AppendLe32(index, key ? kKeyFrame : 0);
            AppendLe32(index, static_cast<uint32_t>(at - moviData));
            AppendLe32(index, size);
            frames += video ? 1 : 0;
        }
        at = std::min(next, layout.fileSize);
    }
    const int64_t end = at;
    result.cutBytes = layout.fileSize - end;
    const uint32_t indexBytes = static_cast<uint32_t>(index.size() - 8);
    for (int i = 0; i < 4; ++i) {
        index[4 + i] = static_cast<uint8_t>(indexBytes >> (8 * i));
    }
    const int64_t newSize = end + static_cast<int64_t>(index.size());
    const bool written =
        ftruncate(file.Fd(), end) == 0 && file.WriteAt(end, index.data(), index.size()) &&
        file.WriteLeAt(layout.movi + 4, static_cast<uint32_t>(end - moviData), 4) &&
        file.WriteLeAt(4, static_cast<uint32_t>(newSize - 8), 4) &&
        file.WriteLeAt(layout.avih + 16, static_cast<uint32_t>(frames), 4) && // dwTotalFrames
        (layout.videoStrh < 0 || file.WriteLeAt(layout.videoStrh + 32, static_cast<uint32_t>(frames), 4)) &&
        (layout.dmlh < 0 || file.WriteLeAt(layout.dmlh, static_cast<uint32_t>(frames), 4)) &&
        fdatasync(file.Fd()) == 0;
    if (!written) {
        result.problem = std::string("cannot write the file: ") + std::strerror(errno);
        return result;
    }
    result.repaired = true;
    result.frames = frames;
    TRACE("avirepair::Repair() '%s': %lld frames indexed, %lld bytes cut", name.c_str(),
          static_cast<long long>(frames), static_cast<long long>(result.cutBytes));
    return result;
}

std::vector<CResult> RepairFolder(const std::string& folder, int64_t minAgeSeconds) {
    std::vector<CResult> results;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return results;
    }
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && (strcasecmp(name.c_str() + name.size() - 4, ".avi") == 0 ||
                                strcasecmp(name.c_str() + name.size() - 4, ".wmv") == 0)) {
            candidates.push_back(folder + "/" + name);
        }
    }
    closedir(directory);
    const time_t now = time(nullptr);
    for (const std::string& file : candidates) {
        struct stat status {};
        if (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            now - status.st_mtime < minAgeSeconds) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(s_activeLock);
            if (s_active.count(file) != 0) {
                continue;
            }
        }
        const bool wmv = strcasecmp(file.c_str() + file.size() - 4, ".wmv") == 0;
        const EState state = wmv ? wmvrepair::Inspect(file) : Inspect(file);
        if (state == EState::Unfinished) {
            results.push_back(wmv ? wmvrepair::Repair(file) : Repair(file));
        } else if (state == EState::Unrepairable) {
            CResult result;
            result.file = file;
            result.problem = wmv ? "an unfinished WMV file without a whole data packet"
                                 : "an unfinished file of more than one RIFF part";
            results.push_back(result);
        }
    }
    return results;
}

void BeginRecording(const std::string& file) {
    std::lock_guard<std::mutex> lock(s_activeLock);
    s_active.insert(file);
}

void EndRecording(const std::string& file) {
    std::lock_guard<std::mutex> lock(s_activeLock);
    s_active.erase(file);
}

} // namespace avirepair
