#include "actions/CSEventActionChain.h"

#include "actions/CSEventActionFactory.h"
#include "actions/CSEventRecord.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigStore.h"
#include "persistence/NotificationLog.h"

CSEventActionChain::CSEventActionChain(const CSEventActionChain& other)
    : m_name(other.m_name), m_id(other.m_id) {
    for (const auto& action : other.m_actions) {
        if (auto copy = action->Clone()) {
            m_actions.push_back(std::move(copy));
        }
    }
}

CSEventActionChain& CSEventActionChain::operator=(const CSEventActionChain& other) {
    if (this != &other) {
        CSEventActionChain copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CSEventAction* CSEventActionChain::AddAction(std::unique_ptr<CSEventAction> action) {
    if (!action) {
        return nullptr;
    }
    m_actions.push_back(std::move(action));
    return m_actions.back().get();
}

void CSEventActionChain::RemoveAction(size_t index) {
    if (index < m_actions.size()) {
        m_actions.erase(m_actions.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void CSEventActionChain::MoveAction(size_t from, size_t to) {
    if (from >= m_actions.size() || to >= m_actions.size() || from == to) {
        return;
    }
    auto action = std::move(m_actions[from]);
    m_actions.erase(m_actions.begin() + static_cast<std::ptrdiff_t>(from));
    m_actions.insert(m_actions.begin() + static_cast<std::ptrdiff_t>(to), std::move(action));
}

void CSEventActionChain::Store(const std::string& prefix, CConfigStore& store) const {
    store.PutString(prefix + ".ChainName", m_name);
    store.PutInt(prefix + ".count", static_cast<int32_t>(m_actions.size()));
    for (size_t i = 0; i < m_actions.size(); ++i) {
        const std::string key = prefix + "." + std::to_string(i);
        store.PutInt(key + ".class_id", m_actions[i]->GetClassId());
        m_actions[i]->Store(key, store);
    }
}

void CSEventActionChain::Load(const std::string& prefix, CConfigStore& store) {
    std::string name = store.GetString(prefix + ".ChainName");
    const int32_t count = store.GetInt(prefix + ".count");
    std::vector<std::unique_ptr<CSEventAction>> actions;
    for (int32_t i = 0; i < count; ++i) {
        const std::string key = prefix + "." + std::to_string(i);
        const int32_t classId = store.GetInt(key + ".class_id");
        auto action = CSEventActionFactory::Instance().Create(classId);
        if (!action) {
            TRACE("CSEventActionChain::Load() unknown action class %d at '%s' skipped", classId, key.c_str());
            CNotificationLog::Instance().AddEntry("", "",
                                                  "Event action chain '" + name + "': action " +
                                                      std::to_string(i) + " has the unknown class id " +
                                                      std::to_string(classId) + " and is left out");
            continue;
        }
        action->Load(key, store);
        actions.push_back(std::move(action));
    }
    m_name = std::move(name);
    m_actions = std::move(actions);
}

bool CSEventActionChain::Run(const CSEventRecord& record) {
    bool result = true;
    for (const auto& action : m_actions) {
        if (!action->Execute(record)) {
            result = false;
        }
    }
    return result;
}
