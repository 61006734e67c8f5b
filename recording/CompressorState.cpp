#include "recording/CompressorState.h"

#include <cstring>

namespace {

bool IsSkipped(const GParamSpec* spec) {
    const GParamFlags flags = spec->flags;
    return (flags & G_PARAM_READABLE) == 0 || (flags & G_PARAM_WRITABLE) == 0 ||
           (flags & G_PARAM_CONSTRUCT_ONLY) != 0 || std::strcmp(spec->name, "name") == 0 ||
           std::strcmp(spec->name, "parent") == 0;
}

// Text that a person or this program wrote: valid UTF-8 without control characters other than
// blanks. Anything else (the binary state of another program's codec) is not applied at all.
bool IsText(const std::string& state) {
    if (!g_utf8_validate(state.data(), static_cast<gssize>(state.size()), nullptr)) {
        return false;
    }
    for (const unsigned char c : state) {
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
            return false;
        }
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::string CCompressorState::Save(GstElement* encoder) {
    std::string state;
    if (encoder == nullptr) {
        return state;
    }
    guint count = 0;
    GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(encoder), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* spec = specs[i];
        if (IsSkipped(spec)) {
            continue;
        }
        GValue value = G_VALUE_INIT;
        g_value_init(&value, spec->value_type);
        g_object_get_property(G_OBJECT(encoder), spec->name, &value);
        if (!g_param_value_defaults(spec, &value)) {
            gchar* text = gst_value_serialize(&value);
            // A value that would not survive the trip (no serialiser, or a null string) is left out.
            if (text != nullptr && !(G_VALUE_HOLDS_STRING(&value) && g_value_get_string(&value) == nullptr)) {
                if (!state.empty()) {
                    state += ' ';
                }
                state += spec->name;
                state += '=';
                state += text;
            }
            g_free(text);
        }
        g_value_unset(&value);
    }
    g_free(specs);
    return state;
}

std::vector<uint8_t> CCompressorState::SaveBytes(GstElement* encoder) {
    const std::string state = Save(encoder);
    return std::vector<uint8_t>(state.begin(), state.end());
}

std::vector<std::string> CCompressorState::Tokenize(const std::string& state) {
    std::vector<std::string> tokens;
    std::string token;
    bool quoted = false;
    for (size_t i = 0; i < state.size(); ++i) {
        const char c = state[i];
        if (quoted) {
            token += c;
            if (c == '\\' && i + 1 < state.size()) {
                token += state[++i];
            } else if (c == '"') {
                quoted = false;
            }
        } else if (IsBlank(c)) {
            if (!token.empty()) {
                tokens.push_back(std::move(token));
                token.clear();
            }
        } else {
            token += c;
            quoted = c == '"';
        }
    }
    if (!token.empty()) {
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::vector<std::string> CCompressorState::Restore(GstElement* encoder, const std::string& state) {
    std::vector<std::string> problems;
    if (encoder == nullptr || state.empty()) {
        return problems;
    }
    if (!IsText(state)) {
        problems.push_back("the stored settings are not readable and were ignored");
        return problems;
    }
    GObjectClass* objectClass = G_OBJECT_GET_CLASS(encoder);
    for (const std::string& token : Tokenize(state)) {
        const size_t equals = token.find('=');
        if (equals == std::string::npos || equals == 0) {
            problems.push_back("'" + token + "' is not a setting and was ignored");
            continue;
        }
        const std::string name = token.substr(0, equals);
        const std::string text = token.substr(equals + 1);
        GParamSpec* spec = g_object_class_find_property(objectClass, name.c_str());
        if (spec == nullptr) {
            problems.push_back("unknown setting '" + name + "' was ignored");
            continue;
        }
        if (IsSkipped(spec)) {
            problems.push_back("setting '" + name + "' cannot be changed and was ignored");
            continue;
        }
        GValue value = G_VALUE_INIT;
        g_value_init(&value, spec->value_type);
        // g_param_value_validate returns true when it had to change the value to fit the range.
        if (!gst_value_deserialize(&value, text.c_str()) || g_param_value_validate(spec, &value)) {
            problems.push_back("value '" + text + "' of setting '" + name + "' is not valid and was ignored");
        } else {
            g_object_set_property(G_OBJECT(encoder), spec->name, &value);
        }
        g_value_unset(&value);
    }
    return problems;
}

std::vector<std::string> CCompressorState::Restore(GstElement* encoder, const std::vector<uint8_t>& state) {
    return Restore(encoder, std::string(state.begin(), state.end()));
}
