// DocumentJson::Schema: the JSON Schema of the document format, built from what the program stores
// (the fields of a new camera and rule, the property tables of the action classes) and from the
// ranges the dialogs allow (SettingRanges), so that it cannot drift from the code that reads it.

#include "persistence/DocumentJson.h"

#include "actions/CSEventAction.h"
#include "actions/CSEventActionFactory.h"
#include "persistence/DocumentJsonFields.h"
#include "persistence/MaskPng.h"
#include "persistence/SettingRanges.h"

#include <functional>
#include <limits>
#include <optional>

namespace DocumentJson {

namespace {

using DocumentJsonFields::CField;
using DocumentJsonFields::FieldKind;
using RangeOf = std::function<std::optional<CSettingRange>(const std::string&)>;

constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

Json Integer(int32_t minimum, int32_t maximum, const std::string& description = {}) {
    Json schema = {{"type", "integer"}, {"minimum", minimum}, {"maximum", maximum}};
    if (!description.empty()) {
        schema["description"] = description;
    }
    return schema;
}

Json FieldSchema(const CField& field, const RangeOf& rangeOf) {
    switch (field.kind) {
    case FieldKind::Integer: {
        const auto range = rangeOf(field.name);
        return range ? Integer(range->minimum, range->maximum, range->unit) : Integer(kMinInt, kMaxInt);
    }
    case FieldKind::Flag:
        return {{"type", "boolean"}};
    case FieldKind::Text:
        return {{"type", "string"}};
    case FieldKind::Guid:
        return {{"type", "string"},
                {"pattern",
                 "^\\{[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\\}$"},
                {"description", "a GUID such as {e436eb7d-524f-11ce-9f53-0020af0ba770}"}};
    case FieldKind::Bytes:
        if (field.name == DocumentJsonFields::kMaskMember) {
            return {{"type", Json::array({"string", "null"})},
                    {"pattern", std::string("^") + MaskPng::kDataUrlPrefix},
                    {"description",
                     "a PNG picture as a data URL: black pixels are masked, white ones watched; "
                     "null for no mask"}};
        }
        return {{"type", "string"}, {"description", "bytes in hexadecimal, two digits each"}};
    }
    return true;
}

// An element of a map: its id and its fields, every one optional but the id.
Json ElementSchema(const std::vector<CField>& fields, const RangeOf& rangeOf) {
    Json properties = Json::object();
    properties["id"] = Integer(0, kMaxInt);
    for (const CField& field : fields) {
        properties[field.name] = FieldSchema(field, rangeOf);
    }
    return {{"type", "object"},
            {"required", Json::array({"id"})},
            {"additionalProperties", false},
            {"properties", properties}};
}

Json PropertySchema(const CSEAPropertyRow& row) {
    Json schema;
    switch (row.type) {
    case SEAPropertyType::Integer:
        schema = Integer(kMinInt, kMaxInt);
        break;
    case SEAPropertyType::Bool:
        schema = {{"type", "boolean"}};
        break;
    default:
        schema = {{"type", "string"}};
        break;
    }
    schema["title"] = row.label;
    return schema;
}

Json ActionSchema() {
    Json names = Json::array();
    Json cases = Json::array();
    for (const int32_t classId : DocumentJsonFields::ActionClasses()) {
        const auto action = CSEventActionFactory::Instance().Create(classId);
        Json properties = Json::object();
        for (const CSEAPropertyRow* row = action->GetPropertyTable(); row != nullptr && row->key != nullptr;
             ++row) {
            properties[row->key] = PropertySchema(*row);
        }
        names.push_back(action->GetName());
        cases.push_back(
            {{"if", {{"properties", {{"type", {{"const", action->GetName()}}}}}}},
             {"then",
              {{"properties",
                {{"properties",
                  {{"type", "object"}, {"additionalProperties", false}, {"properties", properties}}}}}}}});
    }
    return {{"type", "object"},
            {"required", Json::array({"type"})},
            {"additionalProperties", false},
            {"properties", {{"type", {{"enum", names}}}, {"properties", {{"type", "object"}}}}},
            {"allOf", cases}};
}

Json BuildSchema() {
    const RangeOf cameraRange = [](const std::string& name) { return SettingRanges::ForCameraField(name); };
    const RangeOf ruleRange = [](const std::string& name) {
        return SettingRanges::ForScheduleRuleField(name);
    };

    Json schedule = ElementSchema({{"ScheduleName", FieldKind::Text}}, ruleRange);
    schedule["properties"]["rules"] = {{"type", "array"}, {"items", {{"$ref", "#/$defs/rule"}}}};
    Json chain = ElementSchema({{"ChainName", FieldKind::Text}}, cameraRange);
    chain["properties"]["actions"] = {{"type", "array"}, {"items", {{"$ref", "#/$defs/action"}}}};
    Json rule = ElementSchema(DocumentJsonFields::RuleFields(), ruleRange);
    rule["properties"].erase("id");
    rule.erase("required");

    Json schema;
    schema["$schema"] = "https://json-schema.org/draft/2020-12/schema";
    schema["title"] = "Tavrix document";
    schema["description"] =
        "A Tavrix document as written by 'tavrix doc export' and read by 'tavrix doc import'. "
        "Members left out take the values of a new camera, rule or action.";
    schema["type"] = "object";
    schema["required"] = Json::array({"format", "version"});
    schema["additionalProperties"] = false;
    schema["properties"] = {
        {"format", {{"const", kFormat}}},
        {"version", {{"const", kVersion}}},
        {"global",
         {{"type", "object"},
          {"additionalProperties", false},
          {"properties",
           {{"ActivateAtStartup", {{"type", "boolean"}}},
            {"CommonFilePath",
             {{"type", "string"}, {"minLength", 1}, {"description", "the record folder"}}}}}}},
        {"cameras", {{"type", "array"}, {"items", {{"$ref", "#/$defs/camera"}}}}},
        {"schedules", {{"type", "array"}, {"items", {{"$ref", "#/$defs/schedule"}}}}},
        {"chains", {{"type", "array"}, {"items", {{"$ref", "#/$defs/chain"}}}}}};
    schema["$defs"] = {{"camera", ElementSchema(DocumentJsonFields::CameraFields(), cameraRange)},
                       {"schedule", schedule},
                       {"rule", rule},
                       {"chain", chain},
                       {"action", ActionSchema()}};
    return schema;
}

} // namespace

const Json& Schema() {
    static const Json kSchema = BuildSchema();
    return kSchema;
}

} // namespace DocumentJson
