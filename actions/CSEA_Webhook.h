#pragma once
// The "Webhook" event action (class id 6): one HTTP(S) request through libcurl for the event:
// method, URL, extra headers (one "Name: value" a line, or several separated by " | "), an
// Authorization header value kept as a secret, and a body template (EventTemplate.h). Every
// answer's status is logged; a failure to connect, a time-out, 429 and 5xx are tried again (the
// given number of times, 1 s and then 2 s, 4 s... apart); 2xx is success, anything else a failure.
// The URL is logged without its query (which may carry a token) and the secret never.
//
// Execute runs on the thread that runs the event's chain and blocks it while it waits, never
// longer than the time-out per try, and stops early when the chain runner cuts its actions short.

#include "actions/CSEventAction.h"

class CSEA_Webhook : public CSEventAction {
public:
    static constexpr int32_t kClassId = 6;

    CSEA_Webhook();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Webhook"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;

    // The URL as logged: scheme, host and path, without user information, query or fragment.
    static std::string LoggedUrl(const std::string& url);
};
