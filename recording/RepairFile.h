#pragma once
// The file a start-up repair reads and patches in place: positioned reads and writes on a
// descriptor closed on every path.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CRepairFile {
public:
    CRepairFile(const std::string& name, int flags) : m_fd(open(name.c_str(), flags | O_CLOEXEC)) {}
    ~CRepairFile() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CRepairFile(const CRepairFile&) = delete;
    CRepairFile& operator=(const CRepairFile&) = delete;

    int Fd() const { return m_fd; }
    bool ReadAt(int64_t offset, void* out, size_t bytes) const {
        return pread(m_fd, out, bytes, offset) == static_cast<ssize_t>(bytes);
    }
    bool WriteAt(int64_t offset, const void* data, size_t bytes) const {
        return pwrite(m_fd, data, bytes, offset) == static_cast<ssize_t>(bytes);
    }
    // The low `bytes` (at most 8) bytes of value, least significant first (AVI and ASF both
    // store little-endian numbers).
    bool WriteLeAt(int64_t offset, uint64_t value, size_t bytes) const {
        uint8_t data[8];
        for (size_t i = 0; i < bytes && i < sizeof data; ++i) {
            data[i] = static_cast<uint8_t>(value >> (8 * i));
        }
        return bytes <= sizeof data && WriteAt(offset, data, bytes);
    }

private:
    int m_fd;
};
