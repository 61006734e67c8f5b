#include "actions/MySMTPAttachment.h"

#include "foundation/Exceptions.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mylib {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the base64 groups of data; lineLength 0 means no line breaks inside.
void AppendBase64(std::string& out, const uint8_t* data, size_t size, size_t lineLength) {
    size_t column = 0;
    auto put = [&](char c) {
        out.push_back(c);
        if (lineLength != 0 && ++column == lineLength) {
            out += "\r\n";
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        uint32_t group = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(kAlphabet[(group >> 6) & 63]);
        put(kAlphabet[group & 63]);
    }
    size_t rest = size - i;
    if (rest > 0) {
        uint32_t group = uint32_t(data[i]) << 16;
        if (rest == 2) {
            group |= uint32_t(data[i + 1]) << 8;
        }
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        put('=');
    }
}

} // namespace

std::string MySMTPAttachment::Encode(const uint8_t* data, size_t size) {
    std::string out;
    size_t chars = (size + 2) / 3 * 4;
    out.reserve(chars + (chars / kLineLength) * 2 + 3);
    AppendBase64(out, data, size, kLineLength);
    out += "\r\n";
    return out;
}

std::string MySMTPAttachment::EncodeLine(const std::string& text) {
    std::string out;
    AppendBase64(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0);
    out += "\r\n";
    return out;
}

void MySMTPAttachment::LoadFromFile(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) {
        THROW_SMTP("Failed to get the status for file " + path + ", probably does not exist");
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        THROW_SMTP("Failed to open file to be attached");
    }
    std::vector<uint8_t> content;
    if (S_ISREG(status.st_mode)) {
        content.reserve(static_cast<size_t>(status.st_size));
    }
    uint8_t block[65536];
    bool failed = !S_ISREG(status.st_mode);
    while (!failed) {
        ssize_t got = ::read(fd, block, sizeof(block));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), block, block + got);
    }
    ::close(fd);
    if (failed) {
        THROW_SMTP("Failed to open file to be attached");
    }
    m_encoded = Encode(content.data(), content.size());
    size_t slash = path.find_last_of('/');
    m_title = slash == std::string::npos ? path : path.substr(slash + 1);
    m_fileName = m_title;
}

} // namespace mylib
