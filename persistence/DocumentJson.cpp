#include "persistence/DocumentJson.h"

#include "actions/CSEventAction.h"
#include "actions/CSEventActionFactory.h"
#include "foundation/Exceptions.h"
#include "persistence/DocumentJsonFields.h"
#include "persistence/JsonSchema.h"
#include "persistence/MaskPng.h"
#include "persistence/SecretText.h"
#include "platform/Guid.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

namespace DocumentJson {

namespace {

using namespace DocumentJsonFields;
using Problems = std::vector<std::string>;

// The camera keys naming the chain of each event, in the order of the event kinds 1 to 7.
const char* const kEventKeys[] = {"AEvent", "DEvent", "MSEvent", "MPEvent", "RBEvent", "RFEvent", "EOEvent"};

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

bool FromHex(const std::string& hex, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// ---- export ----

std::string ExportText(const std::string& name, const std::string& text, bool secret, bool withSecrets) {
    if (withSecrets) {
        return text;
    }
    // An empty password stays empty: masking it would make the import refuse a value that was never
    // a secret.
    if ((secret || SecretText::IsSecretName(name)) && !text.empty()) {
        return kSecretMask;
    }
    return SecretText::MaskUrlPasswords(text);
}

Json ExportRow(const CRow& row, bool withSecrets) {
    switch (row.kind) {
    case FieldKind::Integer:
        return row.integer;
    case FieldKind::Flag:
        return row.integer == 1;
    case FieldKind::Text:
        return ExportText(row.key, row.text, false, withSecrets);
    case FieldKind::Guid:
        if (row.bytes.size() == 16) {
            return GUID::FromBytes(row.bytes.data()).ToString();
        }
        break;
    case FieldKind::Bytes:
        break;
    }
    return Hex(row.bytes);
}

// The members of an element stored under kPrefix of table, after the id.
template <class T>
Json ExportElement(const T& element, int32_t id, bool withSecrets, const CBinaryImage* mask = nullptr) {
    CMemoryTable table;
    element.Store(kPrefix, table.Store());
    Json json = Json::object();
    if (id >= 0) {
        json["id"] = id;
    }
    const std::string maskPrefix = std::string(kMaskMember) + ".";
    for (const CRow& row : ElementRows(table.Rows())) {
        if (mask != nullptr && row.key.rfind(maskPrefix, 0) == 0) {
            if (row.key == maskPrefix + "ImageAvailable") {
                json[kMaskMember] = mask->IsEmpty() ? Json() : Json(MaskPng::ToDataUrl(*mask));
            }
            continue;
        }
        json[row.key] = ExportRow(row, withSecrets);
    }
    return json;
}

Json ExportAction(const CSEventAction& action, bool withSecrets) {
    Json properties = Json::object();
    for (const CSEAPropertyRow* row = action.GetPropertyTable(); row != nullptr && row->key != nullptr;
         ++row) {
        const std::string key = row->key;
        if (row->type == SEAPropertyType::Integer || row->type == SEAPropertyType::Bool) {
            const auto& integers = action.GetIntegerProps();
            const auto it = integers.find(key);
            if (it != integers.end()) {
                properties[key] =
                    row->type == SEAPropertyType::Bool ? Json(it->second == 1) : Json(it->second);
            }
        } else {
            const auto& strings = action.GetStringProps();
            const auto it = strings.find(key);
            if (it != strings.end()) {
                properties[key] =
                    ExportText(key, it->second, row->type == SEAPropertyType::Password, withSecrets);
            }
        }
    }
    return {{"type", action.GetName()}, {"properties", properties}};
}

// ---- import ----

// The value of a member as a row of its field; none, with the problem noted, when it cannot be one.
std::optional<CRow> ImportField(const CField& field, const Json& value, const std::string& path,
                                Problems& problems) {
    CRow row;
    row.key = std::string(kPrefix) + "." + field.name;
    row.kind = field.kind;
    switch (field.kind) {
    case FieldKind::Integer:
        row.integer = value.get<int64_t>(); // the schema holds it within 32 bits
        return row;
    case FieldKind::Flag:
        row.integer = value.get<bool>() ? 1 : 0;
        return row;
    case FieldKind::Text:
        row.text = value.get<std::string>();
        if ((SecretText::IsSecretName(field.name) && row.text == kSecretMask) ||
            SecretText::HasMaskedUrlPassword(row.text)) {
            problems.push_back(path + ": \"" + kSecretMask +
                               "\" stands for a password the export left out; write the password itself "
                               "(or export with --with-secrets)");
            return std::nullopt;
        }
        return row;
    case FieldKind::Guid: {
        GUID guid;
        if (!GUID::FromString(value.get<std::string>(), guid)) {
            problems.push_back(path + ": is not a GUID");
            return std::nullopt;
        }
        const auto bytes = guid.ToBytes();
        row.bytes.assign(bytes.begin(), bytes.end());
        return row;
    }
    case FieldKind::Bytes:
        if (!FromHex(value.get<std::string>(), row.bytes)) {
            problems.push_back(path + ": must be bytes in hexadecimal, two digits each");
            return std::nullopt;
        }
        return row;
    }
    return std::nullopt;
}

// Loads element from the fields of a new one overwritten by the members of json.
template <class T>
void ImportElement(const Json& json, const std::vector<CField>& fields, const std::string& path, T& element,
                   Problems& problems) {
    CMemoryTable table;
    T().Store(kPrefix, table.Store());
    for (const auto& item : json.items()) {
        // Named copies rather than a structured binding, which a lambda cannot capture in C++20.
        const std::string& name = item.key();
        const Json& value = item.value();
        const auto field =
            std::find_if(fields.begin(), fields.end(), [&](const CField& f) { return f.name == name; });
        if (name == "id" || name == kMaskMember || field == fields.end()) {
            continue; // the id and the mask are the caller's; the schema refused unknown members
        }
        if (const auto row = ImportField(*field, value, CJsonSchema::MemberPath(path, name), problems)) {
            table.Set(*row);
        }
    }
    element.Load(kPrefix, table.Store());
}

// Checks that the ids of a list are unique; returns them.
std::map<int32_t, size_t> UniqueIds(const Json& list, const std::string& path, Problems& problems) {
    std::map<int32_t, size_t> ids;
    for (size_t i = 0; i < list.size(); ++i) {
        const auto id = list[i]["id"].get<int32_t>();
        const auto [it, added] = ids.emplace(id, i);
        if (!added) {
            problems.push_back(CJsonSchema::ItemPath(path, i) + ".id: the id " + std::to_string(id) +
                               " is taken by " + CJsonSchema::ItemPath(path, it->second));
        }
    }
    return ids;
}

bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
}

// What the camera's property pages refuse on OK (the same texts).
void CheckCameraAsDialogs(const CCamera& camera, const std::string& path, Problems& problems) {
    if (IsBlank(camera.m_camName)) {
        problems.push_back(path + ".CamName: Please enter a name for the camera.");
    }
    if (IsBlank(camera.m_fileNameTemplate)) {
        problems.push_back(path + ".FileNameTemplate: Please enter a file name template.");
    }
}

CCamera ImportCamera(const Json& json, const std::string& path, Problems& problems) {
    CCamera camera;
    ImportElement(json, CameraFields(), path, camera, problems);
    camera.SetId(json["id"].get<int32_t>());
    if (!json.contains("CamName")) {
        camera.m_camName = "Camera_" + std::to_string(camera.GetId()); // as a camera added in the desktop
    }
    CheckCameraAsDialogs(camera, path, problems);
    camera.m_areaMaskImage = CBinaryImage();
    if (json.contains(kMaskMember) && !json[kMaskMember].is_null()) {
        std::string error;
        if (!MaskPng::FromDataUrl(json[kMaskMember].get<std::string>(), camera.m_areaMaskImage, error)) {
            problems.push_back(CJsonSchema::MemberPath(path, kMaskMember) + ": " + error);
        }
    }
    return camera;
}

CTimeSchedule ImportSchedule(const Json& json, const std::string& path, Problems& problems) {
    CTimeSchedule schedule;
    schedule.SetId(json["id"].get<int32_t>());
    schedule.SetName(json.value("ScheduleName", "Schedule_" + std::to_string(schedule.GetId())));
    if (IsBlank(schedule.GetName())) {
        problems.push_back(path + ".ScheduleName: Please give every schedule a name.");
    }
    if (json.contains("rules")) {
        const Json& rules = json["rules"];
        for (size_t j = 0; j < rules.size(); ++j) {
            CTimeScheduleEntry rule;
            const std::string rulePath = CJsonSchema::ItemPath(path + ".rules", j);
            ImportElement(rules[j], RuleFields(), rulePath, rule, problems);
            // The schedule editor's own check of a rule.
            std::string message;
            if (!rule.Validate(message)) {
                problems.push_back(rulePath + ": " + message);
            }
            schedule.AddEntry(rule);
        }
    }
    return schedule;
}

std::unique_ptr<CSEventAction> ImportAction(const Json& json, const std::string& path, Problems& problems) {
    std::unique_ptr<CSEventAction> action;
    for (const int32_t classId : ActionClasses()) {
        auto candidate = CSEventActionFactory::Instance().Create(classId);
        if (candidate->GetName() == json["type"].get<std::string>()) {
            action = std::move(candidate);
        }
    }
    if (!action || !json.contains("properties")) {
        return action; // the schema allows only known types
    }
    for (const CSEAPropertyRow* row = action->GetPropertyTable(); row != nullptr && row->key != nullptr;
         ++row) {
        const Json& properties = json["properties"];
        if (!properties.contains(row->key)) {
            continue;
        }
        const Json& value = properties[row->key];
        if (row->type == SEAPropertyType::Integer) {
            action->SetIntegerProp(row->key, value.get<int32_t>());
        } else if (row->type == SEAPropertyType::Bool) {
            action->SetBoolProp(row->key, value.get<bool>());
        } else {
            const std::string text = value.get<std::string>();
            const bool secret = row->type == SEAPropertyType::Password || SecretText::IsSecretName(row->key);
            if ((secret && text == kSecretMask) || SecretText::HasMaskedUrlPassword(text)) {
                problems.push_back(CJsonSchema::MemberPath(path + ".properties", row->key) + ": \"" +
                                   kSecretMask +
                                   "\" stands for a password the export left out; write the password itself "
                                   "(or export with --with-secrets)");
            }
            action->SetStringProp(row->key, text);
        }
    }
    return action;
}

CSEventActionChain ImportChain(const Json& json, const std::string& path, Problems& problems) {
    CSEventActionChain chain;
    chain.SetId(json["id"].get<int32_t>());
    chain.SetName(json.value("ChainName", "EventActionChain_" + std::to_string(chain.GetId())));
    if (IsBlank(chain.GetName())) {
        problems.push_back(path + ".ChainName: Please give every action chain a name.");
    }
    if (json.contains("actions")) {
        const Json& actions = json["actions"];
        for (size_t j = 0; j < actions.size(); ++j) {
            if (auto action =
                    ImportAction(actions[j], CJsonSchema::ItemPath(path + ".actions", j), problems)) {
                chain.AddAction(std::move(action));
            }
        }
    }
    return chain;
}

// The schedule and the chains a camera names must exist.
void CheckReferences(const CCamera& camera, const std::string& path,
                     const std::map<int32_t, size_t>& schedules, const std::map<int32_t, size_t>& chains,
                     Problems& problems) {
    if (camera.m_timeScheduleId != -1 && schedules.count(camera.m_timeScheduleId) == 0) {
        problems.push_back(path + ".TimeScheduleId: no schedule has the id " +
                           std::to_string(camera.m_timeScheduleId));
    }
    for (int32_t kind = 1; kind <= 7; ++kind) {
        const int32_t chainId = camera.GetChainId(kind);
        if (chainId != -1 && chains.count(chainId) == 0) {
            problems.push_back(path + "." + kEventKeys[kind - 1] + ": no chain has the id " +
                               std::to_string(chainId));
        }
    }
}

const Json& Member(const Json& json, const char* name) {
    static const Json kEmpty = Json::array();
    return json.contains(name) ? json[name] : kEmpty;
}

// Stores the elements of a list as a document does and loads the map from them, so that the result
// is what opening the saved file gives (ids, next ids).
template <class T>
void LoadMap(const std::vector<T>& elements, const char* prefix, SerializeableMap<T>& map) {
    CMemoryTable table;
    table.Store().PutInt(std::string(prefix) + ".count", static_cast<int32_t>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
        const std::string key = std::string(prefix) + "." + std::to_string(i);
        table.Store().PutInt(key + ".id", elements[i].GetId());
        elements[i].Store(key, table.Store());
    }
    map.Load(prefix, table.Store());
}

} // namespace

Json Export(const CTavrixDocData& data, bool withSecrets) {
    Json json;
    json["format"] = kFormat;
    json["version"] = kVersion;
    json["global"] = {
        {"ActivateAtStartup", data.m_activateAtStartup},
        {"CommonFilePath", ExportText("CommonFilePath", data.m_commonFilePath, false, withSecrets)}};
    json["cameras"] = Json::array();
    for (const auto& [id, camera] : data.m_cameras) {
        json["cameras"].push_back(ExportElement(*camera, id, withSecrets, &camera->m_areaMaskImage));
    }
    json["schedules"] = Json::array();
    for (const auto& [id, schedule] : data.m_schedules) {
        Json rules = Json::array();
        for (size_t j = 0; j < schedule->GetEntryCount(); ++j) {
            rules.push_back(ExportElement(*schedule->GetEntry(j), -1, withSecrets));
        }
        json["schedules"].push_back(
            {{"id", id},
             {"ScheduleName", ExportText("ScheduleName", schedule->GetName(), false, withSecrets)},
             {"rules", rules}});
    }
    json["chains"] = Json::array();
    for (const auto& [id, chain] : data.m_chains) {
        Json actions = Json::array();
        for (size_t j = 0; j < chain->GetActionCount(); ++j) {
            actions.push_back(ExportAction(*chain->GetAction(j), withSecrets));
        }
        json["chains"].push_back(
            {{"id", id},
             {"ChainName", ExportText("ChainName", chain->GetName(), false, withSecrets)},
             {"actions", actions}});
    }
    return json;
}

std::vector<std::string> Import(const Json& json, CTavrixDocData& data) {
    static const CJsonSchema kValidator(Schema());
    Problems problems = kValidator.Validate(json);
    if (!problems.empty()) {
        return problems;
    }
    const Json& cameraList = Member(json, "cameras");
    const Json& scheduleList = Member(json, "schedules");
    const Json& chainList = Member(json, "chains");
    const auto cameraIds = UniqueIds(cameraList, "$.cameras", problems);
    const auto scheduleIds = UniqueIds(scheduleList, "$.schedules", problems);
    const auto chainIds = UniqueIds(chainList, "$.chains", problems);

    std::vector<CCamera> cameras;
    for (size_t i = 0; i < cameraList.size(); ++i) {
        const std::string path = CJsonSchema::ItemPath("$.cameras", i);
        cameras.push_back(ImportCamera(cameraList[i], path, problems));
        CheckReferences(cameras.back(), path, scheduleIds, chainIds, problems);
    }
    std::vector<CTimeSchedule> schedules;
    for (size_t i = 0; i < scheduleList.size(); ++i) {
        schedules.push_back(
            ImportSchedule(scheduleList[i], CJsonSchema::ItemPath("$.schedules", i), problems));
    }
    // The document page's check of the record folder.
    if (json.contains("global") && json["global"].contains("CommonFilePath") &&
        json["global"]["CommonFilePath"].get<std::string>()[0] != '/') {
        problems.push_back("$.global.CommonFilePath: Please choose the record folder with its full path.");
    }
    std::vector<CSEventActionChain> chains;
    for (size_t i = 0; i < chainList.size(); ++i) {
        chains.push_back(ImportChain(chainList[i], CJsonSchema::ItemPath("$.chains", i), problems));
    }
    if (!problems.empty()) {
        return problems;
    }

    CTavrixDocData result;
    if (json.contains("global")) {
        const Json& global = json["global"];
        result.m_activateAtStartup = global.value("ActivateAtStartup", false);
        result.m_commonFilePath = global.value("CommonFilePath", result.m_commonFilePath);
    }
    LoadMap(cameras, "Cameras", result.m_cameras);
    LoadMap(schedules, "Schedules", result.m_schedules);
    LoadMap(chains, "EventActionChains", result.m_chains);
    data = std::move(result);
    return {};
}

} // namespace DocumentJson
