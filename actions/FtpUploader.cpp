#include "actions/FtpUploader.h"

#include "actions/ActionAbort.h"

#include "foundation/Tracer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kPrefix = "Send FTP Event Action: ";

// Where the transfer stands, in the order of the steps the log names.
enum class Phase { Connect, Directory, Destination, Writing };

struct Transfer {
    std::function<void()> onTransferring; // logs "Transferring file" once, when the directory is set
    int fd = -1;
    int64_t remaining = 0;
    Phase phase = Phase::Connect;
    bool transferringLogged = false;
    std::string readError;
    std::string replyLines;        // lines of the reply being received
    std::string lastReply;         // the last complete reply
    bool lastReplyRefused = false; // 4xx or 5xx
    bool cut = false;              // the chain runner cut the actions short
};

bool IsControlText(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 32 || c == 127) {
            return true;
        }
    }
    return false;
}

std::string Percent(unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    return std::string{'%', kHex[c >> 4], kHex[c & 15]};
}

std::string EncodeSegment(const std::string& text, bool keepSlash) {
    std::string out;
    for (unsigned char c : text) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved || (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += Percent(c);
        }
    }
    return out;
}

std::string TrimLineBreak(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// The command word of a line sent to the server, upper case.
std::string CommandWord(const char* data, size_t size) {
    std::string word;
    for (size_t i = 0; i < size && data[i] != ' ' && data[i] != '\r' && data[i] != '\n'; ++i) {
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(data[i])));
    }
    return word;
}

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    if (type == CURLINFO_HEADER_OUT) {
        std::string word = CommandWord(data, size);
        if (word == "PASS") {
            TRACE("CFtpUploader: > PASS ****");
        } else {
            TRACE("CFtpUploader: > %s", TrimLineBreak(std::string(data, size)).c_str());
        }
        bool login = word == "USER" || word == "PASS" || word == "ACCT" || word == "PWD" || word == "SYST" ||
                     word == "AUTH" || word == "PBSZ" || word == "PROT" || word == "FEAT" || word == "OPTS";
        if (word == "CWD") {
            if (transfer.phase == Phase::Connect) {
                transfer.phase = Phase::Directory;
            }
        } else if (!login && transfer.phase < Phase::Destination) {
            transfer.phase = Phase::Destination;
            transfer.onTransferring();
        }
    } else if (type == CURLINFO_HEADER_IN) {
        std::string line = TrimLineBreak(std::string(data, size));
        TRACE("CFtpUploader: < %s", line.c_str());
        if (!transfer.replyLines.empty()) {
            transfer.replyLines += " ";
        }
        transfer.replyLines += line;
        // A reply ends with the line whose fourth character is not "-".
        if (line.size() < 4 || line[3] != '-') {
            transfer.lastReply = transfer.replyLines;
            transfer.replyLines.clear();
            transfer.lastReplyRefused = !line.empty() && (line[0] == '4' || line[0] == '5');
        }
    } else if (type == CURLINFO_TEXT) {
        TRACE("CFtpUploader: %s", TrimLineBreak(std::string(data, size)).c_str());
    }
    return 0;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    transfer.phase = Phase::Writing;
    size_t wanted = size * count;
    if (static_cast<int64_t>(wanted) > transfer.remaining) {
        wanted = static_cast<size_t>(transfer.remaining);
    }
    if (wanted == 0) {
        return 0;
    }
    for (;;) {
        ssize_t got = ::read(transfer.fd, buffer, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            char text[256];
            transfer.readError = strerror_r(errno, text, sizeof(text));
            return CURL_READFUNC_ABORT;
        }
        if (got == 0) {
            transfer.readError = "The source file became shorter while it was sent";
            return CURL_READFUNC_ABORT;
        }
        transfer.remaining -= got;
        return static_cast<size_t>(got);
    }
}

// Called by curl about once a second at least, also while nothing moves.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    if (ActionCutShort()) {
        transfer.cut = true;
        return 1;
    }
    return 0;
}

struct CurlTimeouts {
    long connectMs, responseMs, stallMs, totalMs;
};

// Every option of one upload: the URL, the login, the mode, the callbacks and the time-outs.
void SetTransferOptions(CURL* curl, const CFtpUploadJob& job, const std::string& url, int64_t size,
                        Transfer& transfer, char* errorBuffer, const CurlTimeouts& timeouts) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tavrix");
    if (!job.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, job.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, job.password.c_str());
    }
    if (job.passive) {
        curl_easy_setopt(curl, CURLOPT_FTPPORT, nullptr);
    } else {
        curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    }
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE));
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, (timeouts.responseMs + 999) / 1000);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (timeouts.stallMs + 999) / 1000);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeouts.totalMs);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
}

// The failure as the log line names it: the server's own refusal, a read error of the source, or
// curl's text.
std::string FailureText(CURLcode result, const Transfer& transfer, const char* errorBuffer) {
    if (result == CURLE_ABORTED_BY_CALLBACK && transfer.cut) {
        return "Operation cancelled";
    }
    if (transfer.lastReplyRefused && !transfer.lastReply.empty()) {
        return transfer.lastReply; // the server's own words
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && !transfer.readError.empty()) {
        return transfer.readError;
    }
    return errorBuffer[0] ? TrimLineBreak(errorBuffer) : curl_easy_strerror(result);
}

// The beginning of the log line of a failure in phase.
std::string FailureStep(Phase phase) {
    switch (phase) {
    case Phase::Connect:
        return "Error opening FTP connection: ";
    case Phase::Directory:
        return "Error unable to change directory: ";
    case Phase::Destination:
        return "Error opening the destination file: ";
    case Phase::Writing:
        break;
    }
    return "Error writing file: ";
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

std::string CFtpUploader::UrlPath(const std::string& directory, const std::string& name) {
    std::string dir = directory;
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    std::string path = "/";
    if (!dir.empty()) {
        if (dir[0] == '/') {
            path += "%2F";
            dir.erase(0, 1);
        }
        path += EncodeSegment(dir, true);
        path += "/";
    }
    return path + EncodeSegment(name, false);
}

long CFtpUploader::TotalTimeoutMs(int64_t size) const {
    const int64_t extra = m_bytesPerExtraSecond > 0 ? size / m_bytesPerExtraSecond * 1000 : 0;
    return static_cast<long>(std::min<int64_t>(m_totalTimeoutMs + extra, LONG_MAX));
}

void CFtpUploader::Log(const std::string& text, bool error) const {
    if (m_log) {
        m_log(kPrefix + text, error);
    }
}

int CFtpUploader::OpenSource(const CFtpUploadJob& job, int64_t& size) const {
    // The source: an existing regular file. O_NONBLOCK so that a named pipe cannot block the open.
    int fd = job.sourceFile.empty() ? -1 : ::open(job.sourceFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        LogError("Error opening the source file: " + job.sourceFile);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = status.st_size;
    const int64_t limit = job.maxSizeKb < 0 ? -1 : job.maxSizeKb * 1024;
    if (size > limit) {
        ::close(fd);
        Log("File to be attached beyond size limit.");
        return -1;
    }
    return fd;
}

bool CFtpUploader::Upload(const CFtpUploadJob& job) {
    TRACE("CFtpUploader::Upload() of '%s' to %s:%d", job.sourceFile.c_str(), job.server.c_str(), job.port);
    int64_t size = 0;
    const int fd = OpenSource(job, size);
    if (fd < 0) {
        return false;
    }

    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        ::close(fd);
        LogError("Error opening internet connection: " + std::to_string(CURLE_FAILED_INIT));
        return false;
    }
    Log("Open ftp connection to '" + job.server + "'");

    Transfer transfer;
    transfer.fd = fd;
    transfer.remaining = size;
    transfer.onTransferring = [&] {
        if (!transfer.transferringLogged) {
            transfer.transferringLogged = true;
            Log("Transferring file '" + job.remoteName + "'");
        }
    };
    auto finish = [&](bool ok) {
        curl_easy_cleanup(curl);
        ::close(fd);
        return ok;
    };

    // Names that would break the command line of CWD or STOR are refused at their own step.
    if (IsControlText(job.server) || job.port <= 0 || job.port > 65535) {
        LogError("Error opening FTP connection: invalid server name or port");
        return finish(false);
    }
    if (IsControlText(job.remoteDirectory)) {
        LogError("Error unable to change directory: the directory name contains a control character");
        return finish(false);
    }
    if (IsControlText(job.remoteName) || job.remoteName.empty()) {
        transfer.onTransferring();
        LogError("Error opening the destination file: invalid remote file name '" + job.remoteName + "'");
        return finish(false);
    }

    std::string host = job.server.find(':') != std::string::npos ? "[" + job.server + "]" : job.server;
    std::string url =
        "ftp://" + host + ":" + std::to_string(job.port) + UrlPath(job.remoteDirectory, job.remoteName);
    TRACE("CFtpUploader::Upload() url %s, %s mode, %lld bytes", url.c_str(),
          job.passive ? "passive" : "active", static_cast<long long>(size));
    char errorBuffer[CURL_ERROR_SIZE] = {};
    SetTransferOptions(curl, job, url, size, transfer, errorBuffer,
                       {m_connectTimeoutMs, m_responseTimeoutMs, m_stallTimeoutMs, TotalTimeoutMs(size)});

    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        // A transfer of an empty file reads nothing; the steps before it still happened.
        transfer.onTransferring();
        Log("succesfully transferred.");
        return finish(true);
    }

    const std::string error = FailureText(result, transfer, errorBuffer);
    TRACE("CFtpUploader::Upload() failed with curl code %d: %s", static_cast<int>(result), error.c_str());
    LogError(FailureStep(transfer.phase) + error);
    return finish(false);
}
