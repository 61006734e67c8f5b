#include "recording/RecordFilePath.h"

#include "recording/WmvWriter.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr mode_t kFolderMode = 0755;

std::vector<std::string> Components(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

// The path with every link resolved; empty with errno set when it cannot be resolved.
std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// Whether path (resolved) is folder (resolved) or lies below it.
bool LiesInside(const std::string& path, const std::string& folder) {
    if (path == folder) {
        return true;
    }
    const std::string prefix = folder == "/" ? folder : folder + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

CRecordFilePath Failure(HRESULT hr, std::string problem) {
    CRecordFilePath result;
    result.hr = hr;
    result.problem = std::move(problem);
    return result;
}

CRecordFilePath ErrnoFailure(const std::string& what) {
    const int error = errno;
    return Failure(HResultFromErrno(error), what + ": " + std::strerror(error));
}

} // namespace

HRESULT HResultFromErrno(int error) {
    return CWmvWriter::HResultFromAvError(-error);
}

CRecordFilePath PrepareRecordFilePath(const std::string& folder, const std::string& name) {
    if (name.empty() || name.back() == '/') {
        return Failure(E_INVALIDARG, "the file name template gives no file name: '" + name + "'");
    }
    const std::vector<std::string> parts = Components(name);
    if (parts.empty()) {
        return Failure(E_INVALIDARG, "the file name template gives no file name: '" + name + "'");
    }
    for (const std::string& part : parts) {
        if (part == "..") {
            return Failure(E_INVALIDARG,
                           "'..' in the record file name '" + name + "' would leave the record folder");
        }
    }
    const std::string realFolder = RealPath(folder);
    if (realFolder.empty()) {
        return ErrnoFailure(folder);
    }
    const std::string base =
        folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
    std::string directory = base;
    std::string relative;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        directory += "/" + parts[i];
        relative += parts[i] + "/";
        if (mkdir(directory.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            return ErrnoFailure(directory);
        }
        struct stat status {};
        if (stat(directory.c_str(), &status) != 0) {
            return ErrnoFailure(directory);
        }
        if (!S_ISDIR(status.st_mode)) {
            errno = ENOTDIR;
            return ErrnoFailure(directory);
        }
        // Checked before anything is made inside it: a link must not lead the next folder out.
        const std::string realDirectory = RealPath(directory);
        if (realDirectory.empty()) {
            return ErrnoFailure(directory);
        }
        if (!LiesInside(realDirectory, realFolder)) {
            return Failure(E_ACCESSDENIED, "'" + directory + "' lies outside the record folder '" +
                                               realFolder + "' (it is '" + realDirectory + "')");
        }
    }
    CRecordFilePath result;
    result.relative = relative + parts.back();
    result.path = (base == "/" ? std::string() : base) + "/" + result.relative;
    return result;
}
