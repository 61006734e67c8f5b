#include "persistence/JsonSchema.h"

#include "foundation/Exceptions.h"

#include <cctype>
#include <regex>
#include <set>

namespace {

using Json = CJsonSchema::Json;

const std::set<std::string>& Keywords() {
    static const std::set<std::string> kKeywords = {
        "type",  "properties",  "required", "additionalProperties",
        "items", "minimum",     "maximum",  "minLength",
        "enum",  "const",       "pattern",  "$ref",
        "allOf", "if",          "then",     "else",
        "$defs", "$schema",     "$id",      "$comment",
        "title", "description", "default",  "examples"};
    return kKeywords;
}

bool IsInteger(const Json& value) {
    return value.is_number_integer() || value.is_number_unsigned();
}

bool HasType(const Json& value, const std::string& type) {
    if (type == "integer") {
        return IsInteger(value);
    }
    if (type == "number") {
        return value.is_number();
    }
    if (type == "string") {
        return value.is_string();
    }
    if (type == "boolean") {
        return value.is_boolean();
    }
    if (type == "object") {
        return value.is_object();
    }
    if (type == "array") {
        return value.is_array();
    }
    return type == "null" && value.is_null();
}

// The value as it appears in a message, shortened.
std::string Shown(const Json& value) {
    std::string text = value.dump();
    if (text.size() > 60) {
        text = text.substr(0, 57) + "...";
    }
    return text;
}

std::string TypeList(const Json& type) {
    if (type.is_string()) {
        return type.get<std::string>();
    }
    std::string text;
    for (size_t i = 0; i < type.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == type.size() ? " or " : ", ") + type[i].get<std::string>();
    }
    return text;
}

// The number as a long double, exactly enough for comparisons of 64-bit integers with limits.
long double Number(const Json& value) {
    if (value.is_number_unsigned()) {
        return static_cast<long double>(value.get<uint64_t>());
    }
    if (value.is_number_integer()) {
        return static_cast<long double>(value.get<int64_t>());
    }
    return static_cast<long double>(value.get<double>());
}

bool IsIdentifier(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) != 0) {
        return false;
    }
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
            return false;
        }
    }
    return true;
}

} // namespace

CJsonSchema::CJsonSchema(Json schema) : m_schema(std::move(schema)) {
    Check(m_schema, "#");
}

std::string CJsonSchema::MemberPath(const std::string& path, const std::string& name) {
    if (IsIdentifier(name)) {
        return path + "." + name;
    }
    std::string quoted;
    for (const char c : name) {
        quoted += c == '\'' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    }
    return path + "['" + quoted + "']";
}

std::string CJsonSchema::ItemPath(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

// Refuses what the validator would not enforce: unknown keywords, references to nothing, patterns
// that are no regular expressions.
void CJsonSchema::Check(const Json& schema, const std::string& where) const {
    if (schema.is_boolean()) {
        return;
    }
    if (!schema.is_object()) {
        THROW_GENERAL("the schema at " + where + " is neither an object nor a boolean");
    }
    for (const auto& [keyword, value] : schema.items()) {
        if (Keywords().count(keyword) == 0) {
            THROW_GENERAL("the schema at " + where + " uses '" + keyword +
                          "', which this validator does not know");
        }
        if (keyword == "properties" || keyword == "$defs") {
            for (const auto& [name, member] : value.items()) {
                Check(member, where + "/" + keyword + "/" + name);
            }
        } else if (keyword == "allOf") {
            for (size_t i = 0; i < value.size(); ++i) {
                Check(value[i], where + "/allOf/" + std::to_string(i));
            }
        } else if (keyword == "items" || keyword == "additionalProperties" || keyword == "if" ||
                   keyword == "then" || keyword == "else") {
            Check(value, where + "/" + keyword);
        } else if (keyword == "$ref") {
            Resolve(value.get<std::string>());
        } else if (keyword == "pattern") {
            try {
                std::regex expression(value.get<std::string>(), std::regex::ECMAScript);
            } catch (const std::regex_error&) {
                THROW_GENERAL("the pattern at " + where + " is no regular expression");
            }
        }
    }
}

const Json& CJsonSchema::Resolve(const std::string& reference) const {
    const std::string prefix = "#/$defs/";
    if (reference.rfind(prefix, 0) == 0 && m_schema.contains("$defs")) {
        const Json& defs = m_schema["$defs"];
        const std::string name = reference.substr(prefix.size());
        if (defs.contains(name)) {
            return defs[name];
        }
    }
    THROW_GENERAL("the schema reference '" + reference + "' names nothing");
}

std::vector<std::string> CJsonSchema::Validate(const Json& document) const {
    std::vector<std::string> problems;
    Validate(m_schema, document, "$", problems);
    return problems;
}

void CJsonSchema::Validate(const Json& schema, const Json& value, const std::string& path,
                           std::vector<std::string>& problems) const {
    if (schema.is_boolean()) {
        if (!schema.get<bool>()) {
            problems.push_back(path + ": is not allowed here");
        }
        return;
    }
    if (schema.contains("$ref")) {
        Validate(Resolve(schema["$ref"].get<std::string>()), value, path, problems);
    }
    if (schema.contains("type")) {
        const Json& type = schema["type"];
        bool matches = false;
        if (type.is_string()) {
            matches = HasType(value, type.get<std::string>());
        } else {
            for (const Json& one : type) {
                matches = matches || HasType(value, one.get<std::string>());
            }
        }
        if (!matches) {
            const std::string expected = TypeList(type);
            const bool vowel = std::string("aeiou").find(expected[0]) != std::string::npos;
            problems.push_back(path + ": must be " + (vowel ? "an " : "a ") + expected + ", not " +
                               Shown(value));
            return; // the other keywords would only repeat the mismatch
        }
    }
    if (schema.contains("allOf")) {
        for (const Json& part : schema["allOf"]) {
            Validate(part, value, path, problems);
        }
    }
    if (schema.contains("if")) {
        std::vector<std::string> ignored;
        Validate(schema["if"], value, path, ignored);
        const char* branch = ignored.empty() ? "then" : "else";
        if (schema.contains(branch)) {
            Validate(schema[branch], value, path, problems);
        }
    }
    if (value.is_object()) {
        ValidateObject(schema, value, path, problems);
    } else if (value.is_array()) {
        if (schema.contains("items")) {
            for (size_t i = 0; i < value.size(); ++i) {
                Validate(schema["items"], value[i], ItemPath(path, i), problems);
            }
        }
    } else {
        ValidateScalar(schema, value, path, problems);
    }
}

void CJsonSchema::ValidateObject(const Json& schema, const Json& value, const std::string& path,
                                 std::vector<std::string>& problems) const {
    if (schema.contains("required")) {
        for (const Json& name : schema["required"]) {
            if (!value.contains(name.get<std::string>())) {
                problems.push_back(path + ": the member \"" + name.get<std::string>() + "\" is missing");
            }
        }
    }
    static const Json kNoProperties = Json::object();
    const Json& properties = schema.contains("properties") ? schema["properties"] : kNoProperties;
    for (const auto& [name, member] : value.items()) {
        const std::string memberPath = MemberPath(path, name);
        if (properties.contains(name)) {
            Validate(properties[name], member, memberPath, problems);
        } else if (schema.contains("additionalProperties")) {
            const Json& additional = schema["additionalProperties"];
            if (additional.is_boolean() && !additional.get<bool>()) {
                problems.push_back(memberPath + ": unknown member");
            } else {
                Validate(additional, member, memberPath, problems);
            }
        }
    }
}

void CJsonSchema::ValidateScalar(const Json& schema, const Json& value, const std::string& path,
                                 std::vector<std::string>& problems) const {
    if (schema.contains("const") && value != schema["const"]) {
        problems.push_back(path + ": must be " + schema["const"].dump() + ", not " + Shown(value));
    }
    if (schema.contains("enum")) {
        bool found = false;
        std::string choices;
        for (const Json& choice : schema["enum"]) {
            found = found || choice == value;
            choices += (choices.empty() ? "" : ", ") + choice.dump();
        }
        if (!found) {
            problems.push_back(path + ": must be one of " + choices + ", not " + Shown(value));
        }
    }
    if (value.is_number()) {
        const bool low = schema.contains("minimum") && Number(value) < Number(schema["minimum"]);
        const bool high = schema.contains("maximum") && Number(value) > Number(schema["maximum"]);
        if (low || high) {
            std::string range;
            if (schema.contains("minimum") && schema.contains("maximum")) {
                range = "must be from " + schema["minimum"].dump() + " to " + schema["maximum"].dump();
            } else if (low) {
                range = "must be at least " + schema["minimum"].dump();
            } else {
                range = "must be at most " + schema["maximum"].dump();
            }
            if (schema.contains("description")) {
                range += " (" + schema["description"].get<std::string>() + ")";
            }
            problems.push_back(path + ": " + value.dump() + " is out of range: " + range);
        }
    }
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (schema.contains("minLength") &&
            Number(schema["minLength"]) > static_cast<long double>(text.size())) {
            problems.push_back(path + ": must not be empty");
        }
        if (schema.contains("pattern") &&
            !std::regex_search(text,
                               std::regex(schema["pattern"].get<std::string>(), std::regex::ECMAScript))) {
            std::string expected = "must match " + schema["pattern"].get<std::string>();
            if (schema.contains("description")) {
                expected = "must be " + schema["description"].get<std::string>();
            }
            problems.push_back(path + ": " + Shown(value) + " " + expected);
        }
    }
}
