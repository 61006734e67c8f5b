#include "persistence/StoredKeys.h"

#include <set>

namespace StoredKeys {

namespace {

const std::set<std::string>& FlagNames() {
    static const std::set<std::string> kNames = {"ActivateAtStartup", "ActivateOnWindowsLock",
                                                 "AppendVideoFiles",  "hasCrossbar",
                                                 "hasTuner",          "WMVActive",
                                                 "AreaMaskEnabled",   "ImageAvailable",
                                                 "ValidDoW",          "ValidTime",
                                                 "ValidDay",          "ValidMonth",
                                                 "ValidYear"};
    return kNames;
}

} // namespace

std::string LastPart(const std::string& key) {
    const size_t dot = key.rfind('.');
    return dot == std::string::npos ? key : key.substr(dot + 1);
}

bool IsFlag(const std::string& key) {
    return FlagNames().count(LastPart(key)) != 0;
}

bool IsGuid(const std::string& key) {
    return LastPart(key) == "MediaSubtype";
}

} // namespace StoredKeys
