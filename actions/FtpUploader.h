#pragma once
// Uploads one file to an FTP server for the FTP upload action, on libcurl, writing the action's log
// line of every step in its order: open the source file, check the size limit (before any
// connection), open the connection (connect and log in), change to the remote directory, open the
// remote file (data connection and STOR), stream the content, done. A refusal by the server is
// reported with the server's own last response; other failures with curl's text.
//
// Runs on the thread that runs the event's chain and blocks it for the whole transfer, but never
// without bound: connecting, each server reply and a stalled transfer have their time-outs (a
// transfer slower than 1 byte a second for the stall time-out fails), and the whole upload ends
// after the total time-out, 120 s plus 1 s for every 16 KB of the file, however the server
// trickles. When the chain runner of the calling thread cuts its actions short, the upload stops
// within about a second and fails. Keeps no state between uploads; the password is never written to
// the log or the trace.

#include <cstdint>
#include <functional>
#include <string>

struct CFtpUploadJob {
    std::string sourceFile;
    std::string server;
    int port = 21;
    std::string user; // empty: anonymous login
    std::string password;
    bool passive = false;
    int64_t maxSizeKb = 512;
    std::string remoteDirectory; // empty: the login directory
    std::string remoteName;
};

class CFtpUploader {
public:
    // error: the line reports a failure of the upload.
    using LogSink = std::function<void(const std::string& text, bool error)>;

    explicit CFtpUploader(LogSink log) : m_log(std::move(log)) {}

    // True after a complete transfer; false after the failure has been logged.
    bool Upload(const CFtpUploadJob& job);

    // Time-outs of the connection, of one server reply, and of a stalled transfer.
    void SetTimeoutsMs(long connectMs, long responseMs, long stallMs) {
        m_connectTimeoutMs = connectMs;
        m_responseTimeoutMs = responseMs;
        m_stallTimeoutMs = stallMs;
    }
    // The whole upload's time-out: totalMs plus 1 s for every bytesPerExtraSecond of the file.
    void SetTotalTimeoutMs(long totalMs, long bytesPerExtraSecond) {
        m_totalTimeoutMs = totalMs;
        m_bytesPerExtraSecond = bytesPerExtraSecond;
    }
    // The total time-out of an upload of size bytes.
    long TotalTimeoutMs(int64_t size) const;

    // The URL path of a remote directory and name: a leading "/" of the directory makes it absolute
    // (sent as %2F), other "/" separate its levels; the name is one segment ("/" in it is kept as a
    // character of the name); everything else outside the unreserved set is percent-encoded.
    static std::string UrlPath(const std::string& directory, const std::string& name);

private:
    void Log(const std::string& text, bool error = false) const;
    void LogError(const std::string& text) const { Log(text, true); }
    // Opens the source file (an existing regular file) and checks the size limit: the descriptor and
    // the size, or -1 after the step's log line.
    int OpenSource(const CFtpUploadJob& job, int64_t& size) const;

    LogSink m_log;
    long m_connectTimeoutMs = 30000;
    long m_responseTimeoutMs = 60000;
    long m_stallTimeoutMs = 60000;
    long m_totalTimeoutMs = 120000;
    long m_bytesPerExtraSecond = 16 * 1024;
};
