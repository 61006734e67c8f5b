#include "web/tests/WebTestSupport.h"

#include "TavrixBuildPaths.h"
#include "camera/CamViewStateMgr.h"
#include "camera/MessageDispatcher.h"
#include "web/WebUsers.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

// ---- CScriptedCamera ----

CScriptedCamera::CScriptedCamera(std::string document, int32_t id, std::string name, int32_t width,
                                 int32_t height, int fps, bool noise)
    : m_document(std::move(document)), m_id(id), m_name(std::move(name)), m_width(width), m_height(height),
      m_noise(noise), m_frame(static_cast<size_t>(width) * height * 3, 0) {
    CCameraHub::Instance().RegisterCamera(this);
    if (fps > 0) {
        m_thread = std::thread([this, fps] {
            const auto interval = std::chrono::microseconds(1000000 / fps);
            auto next = std::chrono::steady_clock::now();
            while (!m_stop.load()) {
                PublishOne();
                next += interval;
                std::this_thread::sleep_until(next);
            }
        });
    }
}

CScriptedCamera::~CScriptedCamera() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    CCameraHub::Instance().UnregisterCamera(this);
}

void CScriptedCamera::PublishOne() {
    const int64_t n = m_published.load();
    if (m_noise) {
        for (auto& byte : m_frame) {
            m_seed = m_seed * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(m_seed >> 24);
        }
    } else {
        // A bright bar moving across a dark picture: every frame differs.
        std::fill(m_frame.begin(), m_frame.end(), 30);
        const int32_t bar = static_cast<int32_t>((n * 16) % m_width);
        for (int32_t y = 0; y < m_height; ++y) {
            for (int32_t x = bar; x < std::min(m_width, bar + 40); ++x) {
                uint8_t* p = &m_frame[(static_cast<size_t>(y) * m_width + x) * 3];
                p[0] = 40;
                p[1] = 200;
                p[2] = 250;
            }
        }
    }
    CCameraFrameNote note;
    note.camera = this;
    note.bgr = m_frame.data();
    note.width = m_width;
    note.height = m_height;
    note.stride = m_width * 3;
    note.unixTimeMs = CCameraHub::NowUnixMs();
    CCameraHub::Instance().PublishFrame(note);
    m_published.fetch_add(1);
}

void CScriptedCamera::Activate() {
    ++m_activations;
    m_state = CCamViewStateMgr::kIdle;
}

void CScriptedCamera::Deactivate() {
    ++m_deactivations;
    m_state = CCamViewStateMgr::kInactive;
}

// ---- CUiThread ----

CUiThread::CUiThread() {
    CMessageDispatcher::Instance().ResetQuit();
    m_thread = std::thread([] { CMessageDispatcher::Instance().Run(); });
}

CUiThread::~CUiThread() {
    CMessageDispatcher::Instance().Quit();
    m_thread.join();
    CMessageDispatcher::Instance().ResetQuit();
}

// ---- HTTP ----

std::string CHttpReply::Header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

namespace {

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
            value.pop_back();
        }
        static_cast<std::multimap<std::string, std::string>*>(user)->emplace(name, value);
    }
    return size * count;
}

} // namespace

CHttpReply HttpRequest(const std::string& method, const std::string& url, const std::string& body,
                       const std::vector<std::string>& headers) {
    CHttpReply reply;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : headers) {
        list = curl_slist_append(list, header.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // The TLS tests' certificate is self-signed and made for the test.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    if (!body.empty() || method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

int RawGet(int port, const std::string& path, const std::string& extraHeaders) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ReadStreamParts(int socket, int count, std::chrono::milliseconds limit, std::string* lastJpeg) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string data;
    int parts = 0;
    size_t searched = 0;
    char buffer[65536];
    while (parts < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd poller{socket, POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
        // Counts complete parts: a part is complete when the next boundary (or its JPEG end) is there.
        for (;;) {
            const size_t start = data.find("Content-Length: ", searched);
            if (start == std::string::npos) {
                break;
            }
            const size_t lineEnd = data.find("\r\n\r\n", start);
            if (lineEnd == std::string::npos) {
                break;
            }
            const size_t length = std::strtoul(data.c_str() + start + 16, nullptr, 10);
            if (data.size() < lineEnd + 4 + length) {
                break;
            }
            if (lastJpeg != nullptr) {
                *lastJpeg = data.substr(lineEnd + 4, length);
            }
            ++parts;
            searched = lineEnd + 4 + length;
        }
        if (searched > (1u << 20)) {
            data.erase(0, searched);
            searched = 0;
        }
    }
    return parts;
}

bool JpegSize(const std::string& jpeg, int& width, int& height) {
    if (jpeg.size() < 4 || static_cast<uint8_t>(jpeg[0]) != 0xFF || static_cast<uint8_t>(jpeg[1]) != 0xD8) {
        return false;
    }
    size_t i = 2;
    while (i + 9 < jpeg.size()) {
        if (static_cast<uint8_t>(jpeg[i]) != 0xFF) {
            return false;
        }
        const uint8_t marker = static_cast<uint8_t>(jpeg[i + 1]);
        const size_t length = (static_cast<uint8_t>(jpeg[i + 2]) << 8) | static_cast<uint8_t>(jpeg[i + 3]);
        if (marker >= 0xC0 && marker <= 0xC3) {
            height = (static_cast<uint8_t>(jpeg[i + 5]) << 8) | static_cast<uint8_t>(jpeg[i + 6]);
            width = (static_cast<uint8_t>(jpeg[i + 7]) << 8) | static_cast<uint8_t>(jpeg[i + 8]);
            return true;
        }
        i += 2 + length;
    }
    return false;
}

// ---- the server ----

std::string MakeWebTempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/tavrix-web-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

void RemoveTree(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

CWebFixtureServer::CWebFixtureServer(const std::function<void(CWebServerOptions&)>& adjust)
    : m_dir(MakeWebTempDir()) {
    {
        CWebUsers users(m_dir + "/Tavrix.db");
        users.Add("alice", kAdminPassword, EWebRole::Admin);
        users.Add("bob", kViewerPassword, EWebRole::Viewer);
    }
    CWebServerOptions options;
    options.port = 0;
    options.userDbPath = m_dir + "/Tavrix.db";
    options.wwwDir = std::string(TAVRIX_SOURCE_DIR) + "/web/www";
    if (adjust) {
        adjust(options);
    }
    m_server.Start(options);
}

CWebFixtureServer::~CWebFixtureServer() {
    m_server.Stop();
    RemoveTree(m_dir);
}

bool CWebFixtureServer::Login(const std::string& user, const std::string& password, std::string& cookie,
                              std::string& csrf) {
    const CHttpReply reply = HttpRequest("POST", Url("api/v1/session"),
                                         "{\"user\":\"" + user + "\",\"password\":\"" + password + "\"}",
                                         {"Content-Type: application/json"});
    if (reply.status != 200) {
        return false;
    }
    const std::string setCookie = reply.Header("set-cookie");
    cookie = "Cookie: " + setCookie.substr(0, setCookie.find(';'));
    const size_t at = reply.body.find("\"csrf\":\"");
    if (at == std::string::npos) {
        return false;
    }
    csrf = reply.body.substr(at + 8, 64);
    return true;
}
