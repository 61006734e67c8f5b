#include "persistence/SecretText.h"

#include <cctype>
#include <utility>
#include <vector>

namespace SecretText {

namespace {

std::string Lower(const std::string& text) {
    std::string lower;
    for (const char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

} // namespace

bool IsSecretName(const std::string& name) {
    const std::string lower = Lower(name);
    const auto endsWith = [&](const std::string& tail) {
        return lower.size() >= tail.size() &&
               lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
    };
    return lower.find("password") != std::string::npos || endsWith("pass") ||
           lower.find("secret") != std::string::npos || lower.find("token") != std::string::npos;
}

namespace {

// Calls f(start, length) for the password of every "scheme://user:password@" in text.
template <class F>
void ForEachUrlPassword(const std::string& text, F&& f) {
    for (size_t scheme = text.find("://"); scheme != std::string::npos;
         scheme = text.find("://", scheme + 3)) {
        const size_t start = scheme + 3;
        const size_t end = text.find_first_of("/?# \t\n", start);
        const size_t at = text.rfind('@', end == std::string::npos ? text.size() : end);
        if (at == std::string::npos || at < start) {
            continue;
        }
        const size_t colon = text.find(':', start);
        if (colon != std::string::npos && colon < at) {
            f(colon + 1, at - colon - 1);
        }
    }
}

} // namespace

std::string MaskUrlPasswords(const std::string& text) {
    std::vector<std::pair<size_t, size_t>> passwords;
    ForEachUrlPassword(text, [&](size_t start, size_t length) { passwords.emplace_back(start, length); });
    std::string masked = text;
    for (auto it = passwords.rbegin(); it != passwords.rend(); ++it) {
        if (it->second != 0) {
            masked.replace(it->first, it->second, kMask);
        }
    }
    return masked;
}

bool HasMaskedUrlPassword(const std::string& text) {
    bool masked = false;
    ForEachUrlPassword(text, [&](size_t start, size_t length) {
        masked = masked || text.compare(start, length, kMask) == 0;
    });
    return masked;
}

} // namespace SecretText
