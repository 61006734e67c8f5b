#include "actions/CSEA_Webhook.h"

#include "actions/ActionAbort.h"
#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/EventTemplate.h"
#include "foundation/Tracer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

const std::string kPrefix = "Webhook Event Action: ";
const CSEAPropertyRow kProperties[] = {
    {"WebhookMethod", "Method", SEAPropertyType::Text},
    {"WebhookURL", "URL", SEAPropertyType::Text},
    {"WebhookHeaders", "Headers (Name: value | ...)", SEAPropertyType::Text},
    {"WebhookAuthorization", "Authorization header", SEAPropertyType::Password},
    {"WebhookBody", "Body", SEAPropertyType::Text},
    {"WebhookTimeout", "Time-out (s)", SEAPropertyType::Integer},
    {"WebhookRetries", "Retries", SEAPropertyType::Integer},
    {nullptr, nullptr, 0},
};

// Stops the transfer once the chain runner cuts its actions short.
int OnProgress(void* /*data*/, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return ActionCutShort() ? 1 : 0;
}

size_t DiscardBody(char* /*data*/, size_t size, size_t count, void* /*user*/) {
    return size * count;
}

std::vector<std::string> HeaderLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    const auto flush = [&] {
        const auto first = current.find_first_not_of(" \t\r");
        const auto last = current.find_last_not_of(" \t\r");
        if (first != std::string::npos && current.find(':') != std::string::npos) {
            lines.push_back(current.substr(first, last - first + 1));
        }
        current.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '|' && i > 0 && text[i - 1] == ' ')) {
            flush();
        } else {
            current += text[i];
        }
    }
    flush();
    return lines;
}

struct CAttempt {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string error;
};

// 1 s, 2 s, 4 s ... before the next try; false when the chain cut its actions short meanwhile.
bool WaitBeforeTry(int attemptNo) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::seconds(1 << std::min(attemptNo - 1, 5));
    while (std::chrono::steady_clock::now() < until && !ActionCutShort()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !ActionCutShort();
}

struct CRequest {
    std::string method;
    std::string url;
    bool hasBody = false;
    std::string body;
    curl_slist* headers = nullptr;
    long timeoutMs = 10000;
};

// One request; its curl result, status and error text.
CAttempt Attempt(const CRequest& request) {
    CAttempt result;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        result.code = CURLE_FAILED_INIT;
        result.error = "libcurl could not start";
        return result;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    }
    if (request.hasBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, request.headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tavrix");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(request.timeoutMs, 30000L));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(ActionTimeLeftMs(request.timeoutMs)));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    result.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    result.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result.code);
    curl_easy_cleanup(curl);
    return result;
}

} // namespace

CSEA_Webhook::CSEA_Webhook() {
    SetStringProp("WebhookMethod", "POST");
    SetStringProp("WebhookURL", "");
    SetStringProp("WebhookHeaders", "Content-Type: application/json");
    SetStringProp("WebhookAuthorization", "");
    SetStringProp("WebhookBody", "{{json}}");
    SetIntegerProp("WebhookTimeout", 10);
    SetIntegerProp("WebhookRetries", 2);
}

const CSEAPropertyRow* CSEA_Webhook::GetPropertyTable() const {
    return kProperties;
}

std::string CSEA_Webhook::LoggedUrl(const std::string& url) {
    std::string shown = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = shown.find("://");
    if (scheme != std::string::npos) {
        const size_t hostStart = scheme + 3;
        const size_t pathStart = std::min(shown.find('/', hostStart), shown.size());
        const size_t at = shown.rfind('@', pathStart);
        if (at != std::string::npos && at >= hostStart) {
            shown.erase(hostStart, at + 1 - hostStart);
        }
    }
    return shown;
}

bool CSEA_Webhook::Execute(const CSEventRecord& record) {
    const CEventActionContext context(record);
    std::string method = GetStringProp("WebhookMethod");
    std::transform(method.begin(), method.end(), method.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (method.empty()) {
        method = "POST";
    }
    const std::string url = context.Expand(GetStringProp("WebhookURL"));
    const std::string shown = LoggedUrl(url);
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
        context.LogError(kPrefix + "the URL '" + shown + "' is no http:// or https:// address");
        return false;
    }
    if (method.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) {
        context.LogError(kPrefix + "the method '" + method + "' is not an HTTP method");
        return false;
    }
    const bool hasBody = method != "GET" && method != "HEAD" && method != "DELETE";
    const std::string body =
        hasBody ? EventTemplate::Expand(context, record, GetStringProp("WebhookBody")) : "";
    const long timeoutMs = std::clamp<long>(GetIntegerProp("WebhookTimeout"), 1, 3600) * 1000;
    const int retries = std::clamp(GetIntegerProp("WebhookRetries"), 0, 10);

    curl_slist* headers = nullptr;
    for (const std::string& line : HeaderLines(context.Expand(GetStringProp("WebhookHeaders")))) {
        headers = curl_slist_append(headers, line.c_str());
    }
    const std::string authorization = GetStringProp("WebhookAuthorization");
    if (!authorization.empty()) {
        headers = curl_slist_append(headers, ("Authorization: " + authorization).c_str());
    }
    const CRequest request{method, url, hasBody, body, headers, timeoutMs};
    bool ok = false;
    for (int attemptNo = 0; attemptNo <= retries; ++attemptNo) {
        if (attemptNo > 0 && !WaitBeforeTry(attemptNo)) {
            break;
        }
        const CAttempt result = Attempt(request);
        const std::string tryText = retries > 0 ? " (try " + std::to_string(attemptNo + 1) + " of " +
                                                      std::to_string(retries + 1) + ")"
                                                : "";
        if (result.code != CURLE_OK) {
            TRACE("CSEA_Webhook::Execute() curl code %d", static_cast<int>(result.code));
            context.LogError(kPrefix + method + " " + shown + " failed: " + result.error + tryText);
            if (ActionCutShort()) {
                break;
            }
            continue;
        }
        const bool success = result.status >= 200 && result.status < 300;
        const std::string line =
            kPrefix + method + " " + shown + " answered " + std::to_string(result.status) + tryText;
        if (success) {
            context.Log(line);
            ok = true;
            break;
        }
        context.LogError(line);
        if (result.status != 429 && result.status < 500) {
            break; // the request itself is wrong: the same again would be refused again
        }
    }
    curl_slist_free_all(headers);
    return ok;
}
