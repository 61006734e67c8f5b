#pragma once
// The file format of the snapshots a camera's "Save Snapshot" writes: PNG (lossless, the default)
// or JPEG (smaller files), chosen in the Options dialog. Kept in the settings file, group
// [Snapshots], key "Format" ("PNG" or "JPEG"); a missing or unknown value is PNG, so that a
// settings file written before the choice existed keeps its snapshots as they were.
// GUI thread only.

#include <QString>

#include <string>

namespace SnapshotFormat {

enum class EFormat { Png, Jpeg };

constexpr const char* kGroup = "Snapshots";
constexpr int kJpegQuality = 90;

EFormat Read(const std::string& settingsPath);
bool Write(const std::string& settingsPath, EFormat format);
// The file name's suffix ("png", "jpg") and Qt's name of the format ("PNG", "JPEG").
QString Suffix(EFormat format);
const char* QtName(EFormat format);

} // namespace SnapshotFormat
