#include "actions/S3Uploader.h"

#include "actions/ActionAbort.h"
#include "foundation/Tracer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

const std::string kPrefix = "S3 Upload Event Action: ";

std::string Sha256Hex(const std::string& data) {
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(data.data()),
                                             data.size());
    std::string result(hex);
    g_free(hex);
    return result;
}

int OnProgress(void* /*data*/, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return ActionCutShort() ? 1 : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    if (body->size() < 1024 * 1024) {
        body->append(data, size * count);
    }
    return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    const std::string line(data, size * count);
    if (line.size() > 5 && g_ascii_strncasecmp(line.c_str(), "etag:", 5) == 0) {
        std::string value = line.substr(5);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t\r\n") + 1);
        *static_cast<std::string*>(user) = value;
    }
    return size * count;
}

// The text of an XML element of S3's answer (<Code>, <UploadId>), empty when missing.
std::string XmlText(const std::string& xml, const std::string& element) {
    const size_t open = xml.find("<" + element + ">");
    if (open == std::string::npos) {
        return {};
    }
    const size_t start = open + element.size() + 2;
    const size_t close = xml.find("</" + element + ">", start);
    return close == std::string::npos ? std::string() : xml.substr(start, close - start);
}

std::string XmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool ReadFully(int fd, std::string& buffer, size_t bytes) {
    buffer.resize(bytes);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(fd, buffer.data() + done, bytes - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string CS3Uploader::ObjectUrl(const std::string& endpoint, const std::string& bucket,
                                   const std::string& key) {
    std::string url = endpoint;
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    url += "/" + bucket + "/";
    static const char* kHex = "0123456789ABCDEF";
    for (const char c : key) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            url += c;
        } else {
            url += '%';
            url += kHex[u >> 4];
            url += kHex[u & 15];
        }
    }
    return url;
}

void CS3Uploader::Log(const std::string& text, bool error) const {
    if (m_log) {
        m_log(kPrefix + text, error);
    }
}

std::string CS3Uploader::FailureText(const CResponse& response) {
    if (!response.sent) {
        return response.error;
    }
    std::string text = "the storage answered " + std::to_string(response.status);
    const std::string code = XmlText(response.body, "Code");
    const std::string message = XmlText(response.body, "Message");
    if (!code.empty()) {
        text += " " + code;
    }
    if (!message.empty()) {
        text += ": " + message;
    }
    return text;
}

CS3Uploader::CResponse CS3Uploader::Request(const CS3UploadJob& job, const std::string& method,
                                            const std::string& url, const std::string& body) const {
    CResponse response;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        response.error = "libcurl could not start";
        return response;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const std::string sigv4 = "aws:amz:" + job.region + ":s3";
    curl_slist* headers = curl_slist_append(nullptr, ("x-amz-content-sha256: " + Sha256Hex(body)).c_str());
    if (method == "PUT" || method == "POST") {
        headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "PUT" || method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, job.accessKey.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, job.secret.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tavrix");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(ActionTimeLeftMs(m_requestTimeoutMs)));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.etag);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    response.sent = code == CURLE_OK;
    response.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
    TRACE("CS3Uploader::Request() %s %s: curl %d, status %ld", method.c_str(), url.c_str(),
          static_cast<int>(code), response.status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return response;
}

bool CS3Uploader::Upload(const CS3UploadJob& job) {
    if (job.endpoint.rfind("http://", 0) != 0 && job.endpoint.rfind("https://", 0) != 0) {
        Log("the endpoint '" + job.endpoint + "' is no http:// or https:// address", true);
        return false;
    }
    if (job.bucket.empty() || job.key.empty() || job.bucket.find_first_of("/?#% ") != std::string::npos) {
        Log("the bucket '" + job.bucket + "' or the key '" + job.key + "' cannot be used", true);
        return false;
    }
    // The source, as the FTP upload opens it: an existing regular file within the size limit.
    int fd = job.sourceFile.empty() ? -1 : ::open(job.sourceFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        Log("Error opening the source file: " + job.sourceFile, true);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int64_t size = status.st_size;
    const int64_t limit = job.maxSizeKb < 0 ? -1 : job.maxSizeKb * 1024;
    if (size > limit) {
        ::close(fd);
        Log("File to be attached beyond size limit.");
        return false;
    }
    const std::string url = ObjectUrl(job.endpoint, job.bucket, job.key);
    const std::string where = job.bucket + "/" + job.key;
    const int64_t partSize = std::max(m_partSize, int64_t{1});
    bool ok = false;
    if (size <= partSize) {
        std::string body;
        if (!ReadFully(fd, body, static_cast<size_t>(size))) {
            Log("Error reading the source file: " + job.sourceFile, true);
        } else {
            const CResponse response = Request(job, "PUT", url, body);
            ok = response.sent && response.status >= 200 && response.status < 300;
            if (ok) {
                Log("stored '" + job.sourceFile + "' as '" + where + "' (" + std::to_string(size) +
                    " bytes)");
            } else {
                Log("storing '" + where + "' failed: " + FailureText(response), true);
            }
        }
    } else {
        ok = UploadMultipart(job, fd, size, url);
    }
    ::close(fd);
    return ok;
}

bool CS3Uploader::UploadMultipart(const CS3UploadJob& job, int fd, int64_t size, const std::string& url) {
    const std::string where = job.bucket + "/" + job.key;
    // Queries written in their canonical form ("uploads=", names sorted), so that the signature
    // is the same whichever way a libcurl version canonicalises them.
    const CResponse started = Request(job, "POST", url + "?uploads=", "");
    const std::string uploadId = XmlText(started.body, "UploadId");
    if (!started.sent || started.status != 200 || uploadId.empty()) {
        Log("starting the multipart upload of '" + where + "' failed: " + FailureText(started), true);
        return false;
    }
    char* escapedId = curl_easy_escape(nullptr, uploadId.c_str(), static_cast<int>(uploadId.size()));
    const std::string idQuery = std::string("uploadId=") + (escapedId != nullptr ? escapedId : "");
    curl_free(escapedId);

    const int64_t partSize = std::max(m_partSize, int64_t{1});
    std::vector<std::string> etags;
    std::string part;
    std::string failure;
    for (int64_t offset = 0; offset < size && failure.empty(); offset += partSize) {
        const size_t bytes = static_cast<size_t>(std::min(partSize, size - offset));
        if (!ReadFully(fd, part, bytes)) {
            failure = "the source file could not be read";
            break;
        }
        const int number = static_cast<int>(etags.size()) + 1;
        const CResponse response =
            Request(job, "PUT", url + "?partNumber=" + std::to_string(number) + "&" + idQuery, part);
        if (!response.sent || response.status != 200 || response.etag.empty()) {
            failure = "part " + std::to_string(number) + ": " + FailureText(response);
        } else {
            etags.push_back(response.etag);
        }
    }
    if (failure.empty()) {
        std::string complete = "<CompleteMultipartUpload>";
        for (size_t i = 0; i < etags.size(); ++i) {
            complete += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" +
                        XmlEscaped(etags[i]) + "</ETag></Part>";
        }
        complete += "</CompleteMultipartUpload>";
        const CResponse done = Request(job, "POST", url + "?" + idQuery, complete);
        // S3 may answer 200 with an error document when completing.
        if (done.sent && done.status == 200 && XmlText(done.body, "Code").empty()) {
            Log("stored '" + job.sourceFile + "' as '" + where + "' (" + std::to_string(size) + " bytes in " +
                std::to_string(etags.size()) + " parts)");
            return true;
        }
        failure = "completing: " + FailureText(done);
    }
    Log("the multipart upload of '" + where + "' failed: " + failure, true);
    // No orphaned parts left behind (they would be paid for).
    Request(job, "DELETE", url + "?" + idQuery, "");
    return false;
}
