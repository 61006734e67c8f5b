#include "web/WebLaunch.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "mqtt/MqttNode.h"
#include "persistence/NotificationLog.h"

#include <cstdio>

namespace WebLaunch {

std::unique_ptr<CWebServer> Start(const CWebServerOptions& given) {
    CWebServerOptions options = given;
    // The broker of this process's MQTT node (with the host of --mqtt): the fleet page shows it.
    if (!options.fleet.Enabled()) {
        CMqttNode::WithCurrent([&options](CMqttNode* node) {
            if (node != nullptr) {
                options.fleet = node->GetSettings();
            }
        });
    }
    auto server = std::make_unique<CWebServer>();
    server->Start(options);
    CNotificationLog& log = CNotificationLog::Instance();
    log.AddEntry("", "", "Web interface listening on " + server->GetUrl());
    if (!CWebServer::IsLoopback(options.address)) {
        log.AddEntry("", "",
                     "Web interface reachable from other machines: listening on " + options.address +
                         " as chosen in the settings or on the command line");
    }
    return server;
}

bool StartHeadless(const std::string& listen, std::unique_ptr<CWebServer>& server) {
    CWebServerOptions options = CWebSettings::Load().ToOptions();
    if (!CWebServer::ParseListen(listen, options.address, options.port)) {
        std::fprintf(stderr, "tavrix: '%s' is no [ADDRESS:]PORT\n", listen.c_str());
        return false;
    }
    std::string error;
    try {
        server = Start(options);
        return true;
    } catch (const CBaseException& e) {
        error = e.First().info.empty() ? e.GetMessage() : e.GetMessage() + ": " + e.First().info;
    }
    // An error entry: the headless shell writes it to standard error as well.
    CNotificationLog::Instance().AddErrorEntry("", "", "The web interface could not start: " + error);
    return false;
}

bool StartFromSettings(const CWebSettings& settings, std::unique_ptr<CWebServer>& server,
                       std::string& error) {
    server.reset();
    if (!settings.enabled) {
        return true;
    }
    try {
        server = Start(settings.ToOptions());
        return true;
    } catch (const CBaseException& e) {
        error = e.First().info.empty() ? e.GetMessage() : e.GetMessage() + ": " + e.First().info;
    }
    CNotificationLog::Instance().AddErrorEntry("", "", "The web interface could not start: " + error);
    return false;
}

} // namespace WebLaunch
