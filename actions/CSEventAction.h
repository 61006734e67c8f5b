#pragma once
// Base of the event actions (play a sound, send a mail, upload by FTP, run a command, send a chat
// message): a set of string properties and a set of integer properties, both by key, described by
// the class's static property table, stored under the action's key prefix in a document.
//
// Actions belong to a chain. A chain's Run calls Execute on the calling thread; the chains of camera
// events run on the camera's queue of the document's chain runner (CEventChainRunner). Execute
// reads the properties only and keeps no state between calls. Several threads may run
// copies of the same chain at once.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class CConfigStore;
class CSEventRecord;

// Property types of the tables: what the chain editor offers and which map holds the value.
namespace SEAPropertyType {
constexpr int32_t Text = 1;     // string map
constexpr int32_t Integer = 2;  // integer map
constexpr int32_t FilePath = 3; // string map, edited with a file browser
constexpr int32_t Password = 4; // string map, masked
constexpr int32_t Bool = 5;     // integer map, 0 or 1
} // namespace SEAPropertyType

// One row of a property table; a table ends with a row whose key is null.
struct CSEAPropertyRow {
    const char* key;
    const char* label;
    int32_t type;
};

class CSEventAction {
public:
    virtual ~CSEventAction() = default;
    virtual int32_t GetClassId() const = 0;
    virtual std::string GetName() const = 0;
    // Runs the action for an event; true on success. Failures are written to the notification log
    // by the action; exceptions it does not handle travel to the caller (the chain runner reports them).
    virtual bool Execute(const CSEventRecord& record) = 0;
    virtual const CSEAPropertyRow* GetPropertyTable() const = 0;
    // A new action of the same class with copies of both property maps: by default created through
    // CSEventActionFactory from the class id (null for a class the factory does not know).
    virtual std::unique_ptr<CSEventAction> Clone() const;

    // File and password properties use the string operations, booleans the integer map (1 or 0).
    void SetStringProp(const std::string& key, const std::string& text) { m_stringProps[key] = text; }
    void SetIntegerProp(const std::string& key, int32_t value) { m_integerProps[key] = value; }
    void SetBoolProp(const std::string& key, bool flag) { m_integerProps[key] = flag ? 1 : 0; }
    // Empty, 0 and false for a key that is not set.
    std::string GetStringProp(const std::string& key) const;
    int32_t GetIntegerProp(const std::string& key) const;
    bool GetBoolProp(const std::string& key) const { return GetIntegerProp(key) == 1; }
    // True when the class's property table lists the key.
    bool HasProperty(const std::string& key) const;

    const std::map<std::string, std::string>& GetStringProps() const { return m_stringProps; }
    const std::map<std::string, int32_t>& GetIntegerProps() const { return m_integerProps; }
    // Both property maps of another action (used when a chain is copied).
    void CopyPropertiesFrom(const CSEventAction& other);

    // Writes both maps under prefix: prefix + ".StringProp" (".Count", then ".<j>.id" and
    // ".<j>.value" in key order) and prefix + ".IntegerProp" the same way.
    void Store(const std::string& prefix, CConfigStore& store) const;
    // Reads both maps; a stored entry replaces the default of its key, other defaults stay.
    void Load(const std::string& prefix, CConfigStore& store);

protected:
    CSEventAction() = default;
    CSEventAction(const CSEventAction&) = default;
    CSEventAction& operator=(const CSEventAction&) = default;

    std::map<std::string, std::string> m_stringProps;
    std::map<std::string, int32_t> m_integerProps;
};
