#pragma once
// The web server's settings in the settings file, group [Web]: Enabled (DWORD, 0: the desktop does
// not start the server), Address ("127.0.0.1"), Port (8080), BasePath ("/"), TlsCertificate and
// TlsKey (PEM files; both empty: plain HTTP), PublicUrl (how other machines reach it, for the links
// of the MQTT fleet; empty: its own address). Missing or unreadable values keep their defaults.
// The headless shell takes address and port from --http and the rest from here.
//
// Load and Save on the user-interface thread.

#include "web/WebServer.h"

#include <string>

struct CWebSettings {
    bool enabled = false;
    std::string address = "127.0.0.1";
    int port = 8080;
    std::string basePath = "/";
    std::string tlsCertificate;
    std::string tlsKey;
    std::string publicUrl;

    static constexpr const char* kGroup = "Web";

    bool operator==(const CWebSettings&) const = default;

    // From the settings file at path (empty: the default one).
    static CWebSettings Load(const std::string& path = {});
    // False when the file cannot be written.
    bool Save(const std::string& path = {}) const;
    // Server options for these settings.
    CWebServerOptions ToOptions() const;
};
