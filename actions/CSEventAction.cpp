#include "actions/CSEventAction.h"

#include "actions/CSEventActionFactory.h"
#include "actions/CSEventRecord.h"
#include "persistence/ConfigStore.h"

std::string CSEventAction::GetStringProp(const std::string& key) const {
    auto it = m_stringProps.find(key);
    return it == m_stringProps.end() ? std::string() : it->second;
}

int32_t CSEventAction::GetIntegerProp(const std::string& key) const {
    auto it = m_integerProps.find(key);
    return it == m_integerProps.end() ? 0 : it->second;
}

bool CSEventAction::HasProperty(const std::string& key) const {
    for (const CSEAPropertyRow* row = GetPropertyTable(); row && row->key; ++row) {
        if (key == row->key) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<CSEventAction> CSEventAction::Clone() const {
    return CSEventActionFactory::Instance().Clone(*this);
}

void CSEventAction::CopyPropertiesFrom(const CSEventAction& other) {
    m_stringProps = other.m_stringProps;
    m_integerProps = other.m_integerProps;
}

void CSEventAction::Store(const std::string& prefix, CConfigStore& store) const {
    const std::string strings = prefix + ".StringProp";
    store.PutInt(strings + ".Count", static_cast<int32_t>(m_stringProps.size()));
    int32_t j = 0;
    for (const auto& [key, value] : m_stringProps) {
        const std::string entry = strings + "." + std::to_string(j++);
        store.PutString(entry + ".id", key);
        store.PutString(entry + ".value", value);
    }
    const std::string integers = prefix + ".IntegerProp";
    store.PutInt(integers + ".Count", static_cast<int32_t>(m_integerProps.size()));
    j = 0;
    for (const auto& [key, value] : m_integerProps) {
        const std::string entry = integers + "." + std::to_string(j++);
        store.PutString(entry + ".id", key);
        store.PutInt(entry + ".value", value);
    }
}

void CSEventAction::Load(const std::string& prefix, CConfigStore& store) {
    // Read into copies so that a failed load leaves the action as it was.
    auto strings = m_stringProps;
    auto integers = m_integerProps;
    const std::string stringPrefix = prefix + ".StringProp";
    const int32_t stringCount = store.GetInt(stringPrefix + ".Count");
    for (int32_t j = 0; j < stringCount; ++j) {
        const std::string entry = stringPrefix + "." + std::to_string(j);
        strings[store.GetString(entry + ".id")] = store.GetString(entry + ".value");
    }
    const std::string integerPrefix = prefix + ".IntegerProp";
    const int32_t integerCount = store.GetInt(integerPrefix + ".Count");
    for (int32_t j = 0; j < integerCount; ++j) {
        const std::string entry = integerPrefix + "." + std::to_string(j);
        integers[store.GetString(entry + ".id")] = store.GetInt(entry + ".value");
    }
    m_stringProps.swap(strings);
    m_integerProps.swap(integers);
}
