#include "app/qt/SnapshotFormat.h"

#include "platform/SettingsFile.h"

namespace SnapshotFormat {

EFormat Read(const std::string& settingsPath) {
    platform::CSettingsFile file(settingsPath);
    if (!file.Load()) {
        return EFormat::Png;
    }
    const std::string stored = file.ReadString(kGroup, "Format").value_or("PNG");
    return QString::fromStdString(stored).compare("JPEG", Qt::CaseInsensitive) == 0 ? EFormat::Jpeg
                                                                                   : EFormat::Png;
}

bool Write(const std::string& settingsPath, EFormat format) {
    platform::CSettingsFile file(settingsPath);
    if (!file.Load()) {
        return false;
    }
    file.WriteString(kGroup, "Format", format == EFormat::Jpeg ? "JPEG" : "PNG");
    return file.Save();
}

QString Suffix(EFormat format) {
    return format == EFormat::Jpeg ? "jpg" : "png";
}

const char* QtName(EFormat format) {
    return format == EFormat::Jpeg ? "JPEG" : "PNG";
}

} // namespace SnapshotFormat
