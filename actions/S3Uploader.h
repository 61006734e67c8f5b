#pragma once
// Uploads one file to S3-compatible storage (AWS, MinIO, Ceph RGW, Garage) for the S3 upload
// action, on libcurl with its AWS signature version 4 (CURLOPT_AWS_SIGV4, service "s3"), path-style
// URLs (ENDPOINT/BUCKET/KEY) and the payload's SHA-256 in x-amz-content-sha256. A file up to the
// part size goes in one PUT; a larger one as a multipart upload (initiate, the parts, complete; an
// upload that fails half-way is aborted so that the storage keeps no orphaned parts). The size
// limit is checked before any connection, as the FTP upload does.
//
// Runs on the thread that runs the event's chain and blocks it for the transfer, bounded by the
// time-outs, and stops within about a second when the chain runner cuts its actions short. Holds
// one part in memory at a time. The secret is never written to the log or the trace.

#include <cstdint>
#include <functional>
#include <string>

struct CS3UploadJob {
    std::string sourceFile;
    std::string endpoint; // "https://s3.eu-central-1.amazonaws.com", "http://127.0.0.1:9000"
    std::string region = "us-east-1";
    std::string bucket;
    std::string key;
    std::string accessKey;
    std::string secret;
    int64_t maxSizeKb = 102400;
};

class CS3Uploader {
public:
    using LogSink = std::function<void(const std::string& text, bool error)>;
    static constexpr int64_t kDefaultPartSize = 8 * 1024 * 1024;
    static constexpr int64_t kMinimumPartSize = 5 * 1024 * 1024; // S3's smallest part but the last

    explicit CS3Uploader(LogSink log) : m_log(std::move(log)) {}

    // True after the whole object is stored; false after the failure has been logged.
    bool Upload(const CS3UploadJob& job);
    void SetPartSize(int64_t bytes) { m_partSize = bytes; }
    void SetTimeoutsMs(long connectMs, long requestMs) {
        m_connectTimeoutMs = connectMs;
        m_requestTimeoutMs = requestMs;
    }

    // ENDPOINT/BUCKET/KEY with the key's segments percent-encoded ("/" kept), as signed.
    static std::string ObjectUrl(const std::string& endpoint, const std::string& bucket,
                                 const std::string& key);

private:
    struct CResponse {
        bool sent = false; // an HTTP answer arrived
        long status = 0;
        std::string body;
        std::string etag;
        std::string error; // curl's text when nothing arrived
    };
    CResponse Request(const CS3UploadJob& job, const std::string& method, const std::string& url,
                      const std::string& body) const;
    // The log text of a failed request: the status and S3's error code and message.
    static std::string FailureText(const CResponse& response);
    bool UploadMultipart(const CS3UploadJob& job, int fd, int64_t size, const std::string& url);
    void Log(const std::string& text, bool error = false) const;

    LogSink m_log;
    int64_t m_partSize = kDefaultPartSize;
    long m_connectTimeoutMs = 30000;
    long m_requestTimeoutMs = 300000;
};
