#include "web/WebSettings.h"

#include "platform/SettingsFile.h"

CWebSettings CWebSettings::Load(const std::string& path) {
    platform::CSettingsFile file(path.empty() ? platform::CSettingsFile::DefaultPath() : path);
    CWebSettings settings;
    if (!file.Load()) {
        return settings;
    }
    if (const auto enabled = file.ReadDword(kGroup, "Enabled")) {
        settings.enabled = *enabled != 0;
    }
    if (const auto address = file.ReadString(kGroup, "Address"); address && !address->empty()) {
        settings.address = *address;
    }
    if (const auto port = file.ReadDword(kGroup, "Port"); port && *port >= 1 && *port <= 65535) {
        settings.port = static_cast<int>(*port);
    }
    if (const auto base = file.ReadString(kGroup, "BasePath"); base && !base->empty()) {
        settings.basePath = *base;
    }
    settings.tlsCertificate = file.ReadString(kGroup, "TlsCertificate").value_or("");
    settings.tlsKey = file.ReadString(kGroup, "TlsKey").value_or("");
    settings.publicUrl = file.ReadString(kGroup, "PublicUrl").value_or("");
    return settings;
}

bool CWebSettings::Save(const std::string& path) const {
    platform::CSettingsFile file(path.empty() ? platform::CSettingsFile::DefaultPath() : path);
    if (!file.Load()) {
        return false; // a damaged file is never overwritten here
    }
    file.WriteDword(kGroup, "Enabled", enabled ? 1 : 0);
    file.WriteString(kGroup, "Address", address);
    file.WriteDword(kGroup, "Port", static_cast<uint32_t>(port));
    file.WriteString(kGroup, "BasePath", basePath);
    file.WriteString(kGroup, "TlsCertificate", tlsCertificate);
    file.WriteString(kGroup, "TlsKey", tlsKey);
    file.WriteString(kGroup, "PublicUrl", publicUrl);
    return file.Save();
}

CWebServerOptions CWebSettings::ToOptions() const {
    CWebServerOptions options;
    options.address = address;
    options.port = port;
    options.basePath = basePath;
    options.tlsCertificate = tlsCertificate;
    options.tlsKey = tlsKey;
    options.publicUrl = publicUrl;
    return options;
}
