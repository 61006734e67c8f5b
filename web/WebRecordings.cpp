// The recordings of the JSON API: the catalogue's rows, their files (with HTTP range requests, so
// that a browser can seek in a video), their thumbnails, "keep" and deletion for admins, and the
// retention settings of the catalogued documents.
//
// A file is only ever reached through a catalogue id: the path comes from the catalogue's row,
// never from the request, so no request can name another file.
#include "camera/CameraHub.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "library/RecordingCatalogue.h"
#include "library/Retention.h"
#include "persistence/NotificationLog.h"
#include "persistence/SettingRanges.h"
#include "platform/Paths.h"
#include "web/WebServerImpl.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string WebQueryValue(SoupServerMessage* msg, const char* name);

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Extension(const std::string& path) {
    const std::string name = platform::BaseName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
}

// Digits only, at most 18 of them (an int64); else nullopt.
std::optional<int64_t> ParseId(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(text);
}

// A number of the query, or fallback when the parameter is absent; nullopt when it is no number.
std::optional<int64_t> QueryNumber(SoupServerMessage* msg, const char* name, int64_t fallback) {
    const std::string text = WebQueryValue(msg, name);
    if (text.empty()) {
        return fallback;
    }
    const bool negative = text[0] == '-';
    const std::optional<int64_t> value = ParseId(negative ? text.substr(1) : text);
    if (!value) {
        return std::nullopt;
    }
    return negative ? -*value : *value;
}

// "filename" for Content-Disposition: the name with what a quoted string cannot hold replaced,
// and the exact name as RFC 5987's filename*.
std::string DispositionFor(const std::string& name, bool download) {
    std::string plain;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        plain += (u < 0x20 || u >= 0x7f || c == '"' || c == '\\') ? '_' : c;
    }
    char* escaped = g_uri_escape_string(name.c_str(), nullptr, FALSE);
    std::string text = std::string(download ? "attachment" : "inline") + "; filename=\"" + plain +
                       "\"; filename*=UTF-8''" + escaped;
    g_free(escaped);
    return text;
}

} // namespace

std::string WebRecordingMime(const CRecording& recording) {
    const std::string container = Lower(recording.container);
    const std::string extension = Extension(recording.filePath);
    if (container == "mp4" || extension == "mp4" || extension == "m4v") {
        return "video/mp4";
    }
    if (container == "matroska" || extension == "mkv") {
        return "video/x-matroska";
    }
    if (extension == "webm") {
        return "video/webm";
    }
    if (container == "avi" || extension == "avi") {
        return "video/x-msvideo";
    }
    if (container == "wmv" || extension == "wmv" || extension == "asf") {
        return "video/x-ms-wmv";
    }
    return "application/octet-stream";
}

std::optional<CWebByteRange> WebParseRange(const std::string& header, int64_t size, bool& unsatisfiable) {
    unsatisfiable = false;
    // Other units are ignored, as RFC 9110 asks: the whole file is sent.
    if (header.compare(0, 6, "bytes=") != 0) {
        return std::nullopt;
    }
    std::string spec = header.substr(6);
    while (!spec.empty() && spec.back() == ' ') {
        spec.pop_back();
    }
    // Several ranges are answered with the whole file (allowed; a player asks for one).
    if (spec.find(',') != std::string::npos) {
        return std::nullopt;
    }
    const size_t dash = spec.find('-');
    const auto digits = [](const std::string& text) {
        return !text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (dash == std::string::npos) {
        unsatisfiable = true;
        return std::nullopt;
    }
    const std::string first = spec.substr(0, dash);
    const std::string last = spec.substr(dash + 1);
    CWebByteRange range;
    if (first.empty()) {
        // A suffix: the last N bytes.
        if (!digits(last) || std::stoll(last) == 0 || size == 0) {
            unsatisfiable = true;
            return std::nullopt;
        }
        range.first = std::max<int64_t>(0, size - static_cast<int64_t>(std::stoll(last)));
        range.last = size - 1;
        return range;
    }
    if (!digits(first) || (!last.empty() && !digits(last))) {
        unsatisfiable = true;
        return std::nullopt;
    }
    range.first = std::stoll(first);
    range.last = last.empty() ? size - 1 : std::min<int64_t>(std::stoll(last), size - 1);
    if (range.first >= size || (!last.empty() && std::stoll(last) < range.first)) {
        unsatisfiable = true;
        return std::nullopt;
    }
    return range;
}

CRecordingCatalogue* CWebServer::CImpl::Catalogue(SoupServerMessage* msg) {
    if (!catalogue) {
        auto opened = std::make_unique<CRecordingCatalogue>();
        try {
            opened->Open(userDbPath);
        } catch (const CBaseException& e) {
            TRACE("CWebServer: the recordings catalogue cannot be opened: %s", e.GetMessage().c_str());
            ReplyError(msg, SOUP_STATUS_SERVICE_UNAVAILABLE,
                       "the recordings catalogue cannot be opened: " + e.GetMessage());
            return nullptr;
        }
        catalogue = std::move(opened);
    }
    return catalogue.get();
}

nlohmann::json CWebServer::CImpl::RecordingJson(const CRecording& r) {
    const std::string prefix = "api/v1/recordings/" + std::to_string(r.id);
    const std::string mime = WebRecordingMime(r);
    nlohmann::json item{{"id", r.id},
                        {"document", r.documentName},
                        {"camera", r.cameraName},
                        {"cameraId", r.cameraId},
                        {"fileName", platform::BaseName(r.filePath)},
                        {"container", r.container},
                        {"codec", r.codec},
                        {"mime", mime},
                        // What a browser's video element can play.
                        {"playable", mime == "video/mp4" || mime == "video/x-matroska" || mime == "video/webm"},
                        {"start", r.startLocal},
                        {"startUtcMs", r.startUtcMs},
                        {"end", r.endLocal},
                        {"durationMs", r.durationMs},
                        {"sizeBytes", r.sizeBytes},
                        {"frames", r.frames},
                        {"startEvent", r.startEvent},
                        {"state", RecordingStateName(r.state)},
                        {"keep", r.keep},
                        {"motionMs", r.motionMs},
                        {"file", prefix + "/file"},
                        {"download", prefix + "/file?download=1"},
                        {"thumbnail", nullptr}};
    if (!r.thumbnail.empty()) {
        item["thumbnail"] = prefix + "/thumbnail";
    }
    return item;
}

void CWebServer::CImpl::HandleRecordings(SoupServerMessage* msg, const std::string& rel, const CWebIdentity& who) {
    const std::string method = soup_server_message_get_method(msg);
    const bool read = method == "GET" || method == "HEAD";
    const std::optional<std::vector<std::string>> parts = WebSplitPath(rel);
    if (!parts || parts->empty() || parts->size() > 2) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "not found");
        return;
    }
    CRecordingCatalogue* cat = Catalogue(msg);
    if (cat == nullptr) {
        return;
    }
    if (parts->size() == 1 && (*parts)[0] == "retention") {
        if (read) {
            ListRetention(msg, *cat);
        } else if (method == "PUT" || method == "POST") {
            ChangeRetention(msg, *cat, who);
        } else {
            ReplyError(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, "method not allowed");
        }
        return;
    }
    const std::optional<int64_t> id = ParseId((*parts)[0]);
    if (!id) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such recording");
        return;
    }
    const std::string action = parts->size() == 2 ? (*parts)[1] : std::string();
    const bool admin = who.role == EWebRole::Admin;
    if (!read && !admin) {
        ReplyError(msg, SOUP_STATUS_FORBIDDEN, "only an admin may change or delete recordings");
        return;
    }
    // Thumbnails are small JPEGs: read with the row.
    std::optional<CRecording> row = cat->Get(*id, true);
    if (!row) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such recording");
        return;
    }
    if (action.empty() && read) {
        Reply(msg, SOUP_STATUS_OK, RecordingJson(*row));
    } else if (action.empty() && method == "DELETE") {
        std::string error;
        if (!cat->Delete(*id, &error)) {
            ReplyError(msg, SOUP_STATUS_CONFLICT, error);
            return;
        }
        CNotificationLog::Instance().AddEntry(row->documentName, row->cameraName,
                                              "Recording '" + row->filePath + "' deleted by web user '" +
                                                  who.user + "'");
        Reply(msg, SOUP_STATUS_OK, nlohmann::json{{"id", *id}, {"deleted", true}});
    } else if (action == "keep" && (method == "POST" || method == "DELETE")) {
        const bool keep = method == "POST";
        if (!cat->SetKeep(*id, keep)) {
            ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such recording");
            return;
        }
        TRACE("CWebServer: user '%s' set keep=%d on recording %lld", who.user.c_str(), keep ? 1 : 0,
              static_cast<long long>(*id));
        Reply(msg, SOUP_STATUS_OK, nlohmann::json{{"id", *id}, {"keep", keep}});
    } else if (action == "file" && read) {
        ServeRecordingFile(msg, *row);
    } else if (action == "thumbnail" && read) {
        if (row->thumbnail.empty()) {
            ReplyError(msg, SOUP_STATUS_NOT_FOUND, "the recording has no thumbnail");
            return;
        }
        ReplyBytes(msg, SOUP_STATUS_OK, "image/jpeg",
                   std::string(row->thumbnail.begin(), row->thumbnail.end()));
    } else {
        ReplyError(msg, read ? SOUP_STATUS_NOT_FOUND : SOUP_STATUS_METHOD_NOT_ALLOWED,
                   read ? "not found" : "method not allowed");
    }
}

void CWebServer::CImpl::ListRecordings(SoupServerMessage* msg) {
    CRecordingCatalogue* cat = Catalogue(msg);
    if (cat == nullptr) {
        return;
    }
    CRecordingFilter filter;
    filter.documentName = WebQueryValue(msg, "document");
    filter.cameraName = WebQueryValue(msg, "camera");
    const std::optional<int64_t> since = QueryNumber(msg, "since", 0);
    const std::optional<int64_t> until = QueryNumber(msg, "until", 0);
    const std::optional<int64_t> offset = QueryNumber(msg, "offset", 0);
    const std::optional<int64_t> limit = QueryNumber(msg, "limit", 100);
    if (!since || !until || !offset || !limit || *since < 0 || *until < 0 || *offset < 0 || *limit < 1) {
        ReplyError(msg, SOUP_STATUS_BAD_REQUEST,
                   "since and until (ms since 1970 UTC), offset and limit must be numbers, limit at least 1");
        return;
    }
    filter.sinceUtcMs = *since;
    filter.untilUtcMs = *until;
    filter.offset = *offset;
    filter.limit = std::min<int64_t>(*limit, 1000);
    filter.withThumbnails = true; // only to say whether there is one
    nlohmann::json items = nlohmann::json::array();
    // "file" names one recording by the path an event reported (an MQTT event's link): it is only
    // compared with the catalogue's rows, never opened.
    const std::string file = WebQueryValue(msg, "file");
    if (!file.empty()) {
        const std::optional<CRecording> row = cat->FindByPath(file);
        if (row && (filter.documentName.empty() || filter.documentName == row->documentName) &&
            (filter.cameraName.empty() || filter.cameraName == row->cameraName)) {
            items.push_back(RecordingJson(*row));
        }
        const auto total = static_cast<int64_t>(items.size());
        Reply(msg, SOUP_STATUS_OK,
              nlohmann::json{{"total", total}, {"offset", 0}, {"limit", filter.limit}, {"recordings", items}});
        return;
    }
    for (const CRecording& row : cat->List(filter)) {
        items.push_back(RecordingJson(row));
    }
    Reply(msg, SOUP_STATUS_OK,
          nlohmann::json{{"total", cat->Count(filter)},
                         {"offset", filter.offset},
                         {"limit", filter.limit},
                         {"recordings", items}});
}

void CWebServer::CImpl::ListRetention(SoupServerMessage* msg, CRecordingCatalogue& cat) {
    nlohmann::json documents = nlohmann::json::array();
    for (const std::string& path : cat.Documents()) {
        CRecordingFilter filter;
        filter.documentPath = path;
        int64_t usedBytes = 0;
        std::string name = platform::BaseName(path);
        for (const CRecording& row : cat.List(filter)) {
            usedBytes += row.state == ERecordingState::Missing ? 0 : row.sizeBytes;
            name = row.documentName;
        }
        std::string error;
        const std::optional<CRetentionSettings> settings = CRetention::ReadDocument(path, &error);
        bool open = false;
        CCameraHub::Instance().ForEachDocument(
            [&path, &open](IDocumentControl& document) { open = open || document.GetDocumentPath() == path; });
        nlohmann::json item{{"document", settings ? settings->documentName : name},
                            {"open", open},
                            {"recordings", cat.Count(filter)},
                            {"usedBytes", usedBytes}};
        if (settings) {
            item["retentionDays"] = settings->days;
            item["retentionMaxGiB"] = settings->maxGiB;
            item["minFreeGiB"] = settings->minFreeGiB;
            item["freeBytes"] = CRetention::StatvfsFreeBytes(settings->recordFolder);
        } else {
            item["error"] = "the document cannot be read";
        }
        documents.push_back(item);
    }
    Reply(msg, SOUP_STATUS_OK, documents);
}

namespace {

// The retention members of the API and the document keys they set.
struct CRetentionMember {
    const char* member;
    const char* key;
    int32_t CDocumentRetention::*field;
};
constexpr std::array<CRetentionMember, 3> kRetentionMembers{{
    {"retentionDays", "Global.RetentionDays", &CDocumentRetention::days},
    {"retentionMaxGiB", "Global.RetentionMaxGiB", &CDocumentRetention::maxGiB},
    {"minFreeGiB", "Global.MinFreeGiB", &CDocumentRetention::minFreeGiB},
}};

std::string TitleOf(const std::string& path) {
    std::string title = platform::BaseName(path);
    const std::string extension = ".tvrx";
    if (title.size() > extension.size() &&
        title.compare(title.size() - extension.size(), extension.size(), extension) == 0) {
        title.resize(title.size() - extension.size());
    }
    return title;
}

CUiCall::CAnswer ErrorAnswer(int status, const std::string& text) {
    return CUiCall::CAnswer{status, nlohmann::json{{"error", text}}};
}

std::string NotOpenText(const std::string& document) {
    return "The document '" + document +
           "' is not open in this Tavrix: its retention can only be changed while it is open here "
           "(an open document writes its own values back when it is saved), or with 'tavrix doc set' "
           "while no Tavrix has it open";
}

} // namespace

void CWebServer::CImpl::ChangeRetention(SoupServerMessage* msg, CRecordingCatalogue& cat, const CWebIdentity& who) {
    if (who.role != EWebRole::Admin) {
        ReplyError(msg, SOUP_STATUS_FORBIDDEN, "only an admin may change retention");
        return;
    }
    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    const nlohmann::json request = nlohmann::json::parse(data, data + size, nullptr, false);
    g_bytes_unref(bytes);
    if (!request.is_object() || !request.contains("document") || !request["document"].is_string() ||
        request["document"].get<std::string>().empty()) {
        ReplyError(msg, SOUP_STATUS_BAD_REQUEST,
                   "expected {\"document\": NAME, \"retentionDays\": N, \"retentionMaxGiB\": N, "
                   "\"minFreeGiB\": N} (the numbers that change)");
        return;
    }
    const std::string document = request["document"].get<std::string>();
    // Every value is checked before anything changes; a member of another name is refused, so that
    // a misspelt one does not pass for a change.
    std::array<std::optional<int32_t>, kRetentionMembers.size()> values;
    for (const auto& item : request.items()) {
        const std::string member = item.key();
        const nlohmann::json& value = item.value();
        if (member == "document") {
            continue;
        }
        const auto known = std::find_if(kRetentionMembers.begin(), kRetentionMembers.end(),
                                        [&member](const CRetentionMember& m) { return member == m.member; });
        if (known == kRetentionMembers.end()) {
            ReplyError(msg, SOUP_STATUS_BAD_REQUEST, "unknown member '" + member + "'");
            return;
        }
        const std::optional<CSettingRange> range = SettingRanges::ForKey(known->key);
        const bool integer = value.is_number_integer();
        const bool inRange =
            integer && range &&
            (value.is_number_unsigned() ? value.get<uint64_t>() <= static_cast<uint64_t>(range->maximum)
                                        : SettingRanges::Contains(*range, value.get<int64_t>()));
        if (!inRange) {
            ReplyError(msg, SOUP_STATUS_BAD_REQUEST,
                       std::string(known->member) + " (" + known->key + ") must be a whole number from " +
                           std::to_string(range ? range->minimum : 0) + " to " +
                           std::to_string(range ? range->maximum : 0) +
                           (range && range->unit[0] != '\0' ? std::string(" (") + range->unit + ")" : std::string()));
            return;
        }
        values[static_cast<size_t>(known - kRetentionMembers.begin())] = static_cast<int32_t>(value.get<int64_t>());
    }
    if (std::none_of(values.begin(), values.end(), [](const std::optional<int32_t>& v) { return v.has_value(); })) {
        ReplyError(msg, SOUP_STATUS_BAD_REQUEST, "nothing to change: give retentionDays, retentionMaxGiB or minFreeGiB");
        return;
    }
    int open = 0;
    CCameraHub::Instance().ForEachDocument([&document, &open](IDocumentControl& candidate) {
        const std::string path = candidate.GetDocumentPath();
        open += candidate.GetDocumentName() == document || (!path.empty() && path == document) ? 1 : 0;
    });
    if (open == 0) {
        const std::vector<std::string> known = cat.Documents();
        const bool catalogued = std::any_of(known.begin(), known.end(), [&document](const std::string& path) {
            return path == document || TitleOf(path) == document;
        });
        if (catalogued) {
            ReplyError(msg, SOUP_STATUS_CONFLICT, NotOpenText(document));
        } else {
            ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no document '" + document + "' is catalogued or open");
        }
        return;
    }
    const std::string user = who.user;
    AnswerFromUiThread(msg, [document, values, user]() -> CUiCall::CAnswer {
        CUiCall::CAnswer answer;
        std::string logTitle, logText;
        const int matches = CCameraHub::Instance().WithDocument(document, [&](IDocumentControl& target) {
            const CDocumentRetention before = target.GetRetention();
            CDocumentRetention after = before;
            std::string changes;
            for (size_t i = 0; i < kRetentionMembers.size(); ++i) {
                if (!values[i]) {
                    continue;
                }
                const CRetentionMember& member = kRetentionMembers[i];
                after.*member.field = *values[i];
                if (after.*member.field != before.*member.field) {
                    changes += std::string(changes.empty() ? "" : ", ") + member.key + " " +
                               std::to_string(before.*member.field) + " -> " + std::to_string(after.*member.field);
                }
            }
            std::string error;
            if (!target.SetRetention(after, error)) {
                answer = ErrorAnswer(SOUP_STATUS_CONFLICT,
                                     "The retention of '" + target.GetDocumentName() + "' cannot be written: " + error);
                return;
            }
            if (!changes.empty()) {
                logTitle = target.GetDocumentName();
                logText = "Retention changed by web user '" + user + "': " + changes;
            }
            answer.status = SOUP_STATUS_OK;
            answer.body = nlohmann::json{{"document", target.GetDocumentName()},
                                         {"retentionDays", after.days},
                                         {"retentionMaxGiB", after.maxGiB},
                                         {"minFreeGiB", after.minFreeGiB},
                                         {"changed", !changes.empty()}};
        });
        if (matches == 0) {
            return ErrorAnswer(SOUP_STATUS_CONFLICT, NotOpenText(document));
        }
        if (matches > 1) {
            return ErrorAnswer(SOUP_STATUS_CONFLICT, "Several open documents are called '" + document +
                                                         "': name the document by its file");
        }
        if (!logText.empty()) {
            CNotificationLog::Instance().AddEntry(logTitle, "", logText);
        }
        return answer;
    });
}

void CWebServer::CImpl::AnswerFromUiThread(SoupServerMessage* msg, std::function<CUiCall::CAnswer()> work) {
    auto call = std::make_shared<CUiCall>();
    call->impl = this;
    call->context = g_main_context_ref(context);
    call->msg = msg;
    g_object_ref(msg);
    call->finishedHandler = g_signal_connect(
        msg, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer data) { static_cast<CUiCall*>(data)->gone = true; }),
        call.get());
    soup_server_message_pause(msg);
    uiCalls.insert(call);

    using WeakCall = std::weak_ptr<CUiCall>;
    call->timeout = g_timeout_source_new(static_cast<guint>(std::max(1, options.uiCallTimeoutMs)));
    g_source_set_callback(
        call->timeout,
        [](gpointer data) -> gboolean {
            const std::shared_ptr<CUiCall> late = static_cast<WeakCall*>(data)->lock();
            if (!late) {
                return G_SOURCE_REMOVE;
            }
            CImpl* impl = nullptr;
            {
                std::lock_guard<std::mutex> guard(late->lock);
                if (late->started || late->impl == nullptr) {
                    return G_SOURCE_REMOVE; // the work runs: its answer comes
                }
                late->timedOut = true;
                impl = late->impl;
            }
            TRACE("CWebServer: the user-interface thread did not take a call in time");
            impl->FinishUiCall(late, ErrorAnswer(SOUP_STATUS_SERVICE_UNAVAILABLE,
                                                 "the user interface did not answer in time; nothing was changed"));
            return G_SOURCE_REMOVE;
        },
        new WeakCall(call), [](gpointer data) { delete static_cast<WeakCall*>(data); });
    g_source_attach(call->timeout, context);

    using SharedCall = std::shared_ptr<CUiCall>;
    CCameraHub::RunOnUiThread([call, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> guard(call->lock);
            if (call->timedOut || call->impl == nullptr) {
                return;
            }
            call->started = true;
        }
        CUiCall::CAnswer answer;
        try {
            answer = work();
        } catch (const CBaseException& e) {
            answer = ErrorAnswer(SOUP_STATUS_INTERNAL_SERVER_ERROR, e.GetMessage());
        } catch (const std::exception& e) {
            answer = ErrorAnswer(SOUP_STATUS_INTERNAL_SERVER_ERROR, e.what());
        }
        std::lock_guard<std::mutex> guard(call->lock);
        call->answer = std::move(answer);
        if (call->context == nullptr) {
            return; // the server stopped meanwhile
        }
        // An idle source, never a direct call: the answer is always handled on the server's side.
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                const SharedCall& back = *static_cast<SharedCall*>(data);
                CImpl* impl = nullptr;
                CUiCall::CAnswer answer;
                {
                    std::lock_guard<std::mutex> guard(back->lock);
                    impl = back->impl;
                    answer = back->answer;
                }
                if (impl != nullptr) {
                    impl->FinishUiCall(back, answer);
                }
                return G_SOURCE_REMOVE;
            },
            new SharedCall(call), [](gpointer data) { delete static_cast<SharedCall*>(data); });
        g_source_attach(idle, call->context);
        g_source_unref(idle);
    });
}

void CWebServer::CImpl::FinishUiCall(const std::shared_ptr<CUiCall>& call, const CUiCall::CAnswer& answer) {
    if (call->done) {
        return;
    }
    call->done = true;
    const std::shared_ptr<CUiCall> keep = call; // erased from uiCalls below
    {
        std::lock_guard<std::mutex> guard(call->lock);
        call->impl = nullptr;
        if (call->context != nullptr) {
            g_main_context_unref(call->context);
            call->context = nullptr;
        }
    }
    if (call->timeout != nullptr) {
        g_source_destroy(call->timeout);
        g_source_unref(call->timeout);
        call->timeout = nullptr;
    }
    SoupServerMessage* msg = call->msg;
    g_signal_handler_disconnect(msg, call->finishedHandler);
    if (!call->gone) {
        Reply(msg, answer.status, answer.body);
        soup_server_message_unpause(msg);
    }
    g_object_unref(msg);
    call->msg = nullptr;
    uiCalls.erase(keep);
}

void CWebServer::CImpl::DetachUiCalls() {
    const std::vector<std::shared_ptr<CUiCall>> waiting(uiCalls.begin(), uiCalls.end());
    for (const std::shared_ptr<CUiCall>& call : waiting) {
        FinishUiCall(call, ErrorAnswer(SOUP_STATUS_SERVICE_UNAVAILABLE, "the server is stopping"));
    }
}

void CWebServer::CImpl::ServeRecordingFile(SoupServerMessage* msg, const CRecording& row) {
    if (row.state == ERecordingState::Writing) {
        // Its size changes under the reader; a mapped file that shrinks would end the process.
        ReplyError(msg, SOUP_STATUS_CONFLICT, "the recording is being written");
        return;
    }
    const int fd = ::open(row.filePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        ReplyError(msg, SOUP_STATUS_NOT_FOUND,
                   std::string("the recording's file is not there: ") + std::strerror(error));
        return;
    }
    const int64_t size = info.st_size;
    SoupMessageHeaders* request = soup_server_message_get_request_headers(msg);
    SoupMessageHeaders* response = soup_server_message_get_response_headers(msg);
    SetCommonHeaders(msg);
    soup_message_headers_replace(response, "Accept-Ranges", "bytes");
    // A recording does not change once finished: the browser may keep what it read while seeking.
    soup_message_headers_replace(response, "Cache-Control", "private, max-age=3600");
    const char* rangeHeader = soup_message_headers_get_one(request, "Range");
    bool unsatisfiable = false;
    std::optional<CWebByteRange> range;
    if (rangeHeader != nullptr) {
        range = WebParseRange(rangeHeader, size, unsatisfiable);
        // libsoup would answer a Range itself on a full reply, copying the whole file; it is ours.
        soup_message_headers_remove(request, "Range");
    }
    if (unsatisfiable) {
        ::close(fd);
        soup_message_headers_replace(response, "Content-Range", ("bytes */" + std::to_string(size)).c_str());
        ReplyError(msg, SOUP_STATUS_REQUESTED_RANGE_NOT_SATISFIABLE, "the range lies outside the file");
        return;
    }
    const bool download = WebQueryValue(msg, "download") == "1";
    soup_message_headers_replace(response, "Content-Disposition",
                                 DispositionFor(platform::BaseName(row.filePath), download).c_str());
    const int64_t first = range ? range->first : 0;
    const int64_t length = range ? range->last - range->first + 1 : size;
    GBytes* part = nullptr;
    if (length > 0) {
        GError* error = nullptr;
        GMappedFile* mapped = g_mapped_file_new_from_fd(fd, FALSE, &error);
        if (mapped == nullptr) {
            ::close(fd);
            ReplyError(msg, SOUP_STATUS_INTERNAL_SERVER_ERROR,
                       std::string("the recording's file cannot be read: ") + (error ? error->message : ""));
            g_clear_error(&error);
            return;
        }
        GBytes* whole = g_mapped_file_get_bytes(mapped);
        g_mapped_file_unref(mapped);
        part = g_bytes_new_from_bytes(whole, static_cast<gsize>(first), static_cast<gsize>(length));
        g_bytes_unref(whole);
    }
    ::close(fd); // the mapping holds the file
    if (range) {
        soup_message_headers_set_content_range(response, first, range->last, size);
    }
    soup_server_message_set_status(msg, range ? SOUP_STATUS_PARTIAL_CONTENT : SOUP_STATUS_OK, nullptr);
    soup_message_headers_set_content_type(response, WebRecordingMime(row).c_str(), nullptr);
    SoupMessageBody* body = soup_server_message_get_response_body(msg);
    soup_message_body_truncate(body);
    if (part != nullptr) {
        soup_message_body_append_bytes(body, part);
        g_bytes_unref(part);
    }
    soup_message_body_complete(body);
}
