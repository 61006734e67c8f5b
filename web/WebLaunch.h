#pragma once
// Starting the web server from the shells: the options from the command line or the settings, the
// log lines that say where it listens (and that an address other than loopback was chosen), and
// the error when it cannot start. User-interface thread.

#include "web/WebServer.h"
#include "web/WebSettings.h"

#include <memory>
#include <string>

namespace WebLaunch {

// The headless shell: listen is "[ADDR:]PORT"; base path and TLS files from the settings group
// [Web]. On failure the reason goes to standard error and the log, and false is returned.
bool StartHeadless(const std::string& listen, std::unique_ptr<CWebServer>& server);
// The desktop: starts the server of the settings when they enable it; error gets the reason.
bool StartFromSettings(const CWebSettings& settings, std::unique_ptr<CWebServer>& server, std::string& error);
// Starts with the given options and logs where; throws CGeneralEx / CUserDbEx when it cannot.
std::unique_ptr<CWebServer> Start(const CWebServerOptions& options);

} // namespace WebLaunch
