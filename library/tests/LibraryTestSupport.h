#pragma once
// Shared by the recordings library tests: a temporary folder with a user database, real files of
// a given size, catalogue rows for them.

#include "library/RecordingCatalogue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace libtest {

class CTempFolder {
public:
    CTempFolder() {
        char folder[] = "/tmp/tavrix-library-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            ADD_FAILURE() << "no temporary folder";
        }
        m_path = folder;
    }
    ~CTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A file of size bytes (created with its folder).
inline void WriteFile(const std::string& path, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string block(4096, 'x');
    for (size_t written = 0; written < size; written += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - written)));
    }
}

// A finished recording row for a file that exists (size bytes), started at startUtcMs.
inline CRecording Row(const std::string& document, const std::string& camera, const std::string& file,
                      int64_t startUtcMs, size_t size = 1000) {
    WriteFile(file, size);
    CRecording row;
    row.documentPath = document;
    row.documentName = std::filesystem::path(document).stem().string();
    row.cameraId = 0;
    row.cameraName = camera;
    row.filePath = file;
    row.container = "AVI";
    row.codec = "Uncompressed";
    row.startUtcMs = startUtcMs;
    row.endUtcMs = startUtcMs + 5000;
    row.durationMs = 5000;
    row.sizeBytes = static_cast<int64_t>(size);
    row.frames = 50;
    row.startEvent = "Motion Start";
    row.state = ERecordingState::Finished;
    return row;
}

} // namespace libtest
