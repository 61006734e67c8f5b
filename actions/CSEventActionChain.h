#pragma once
// A named, ordered list of event actions that a camera runs for one of its events. Kept by the
// document in its chain map under "EventActionChains"; stored under its element prefix K as
//   K.ChainName, K.count, and per action K.<i>.class_id followed by the action's properties
//   under K.<i>.
//
// Run executes every action in order on the calling thread (ActivateChain's caller; the camera
// events' chains run on the document's chain runner, which executes the actions itself). The
// document hands each run its own copy of the chain, so the user interface may replace the
// document's chains while a camera's chain is running.

#include "actions/CSEventAction.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CConfigStore;
class CSEventRecord;

class CSEventActionChain {
public:
    CSEventActionChain() = default;
    // Copies name and id and clones every action (same class, both property maps copied).
    CSEventActionChain(const CSEventActionChain& other);
    CSEventActionChain& operator=(const CSEventActionChain& other);
    CSEventActionChain(CSEventActionChain&&) noexcept = default;
    CSEventActionChain& operator=(CSEventActionChain&&) noexcept = default;
    virtual ~CSEventActionChain() = default;

    int32_t GetId() const { return m_id; }
    void SetId(int32_t id) { m_id = id; }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }

    size_t GetActionCount() const { return m_actions.size(); }
    CSEventAction* GetAction(size_t index) {
        return index < m_actions.size() ? m_actions[index].get() : nullptr;
    }
    const CSEventAction* GetAction(size_t index) const {
        return index < m_actions.size() ? m_actions[index].get() : nullptr;
    }
    // Appends an action (ignored when null); returns it.
    CSEventAction* AddAction(std::unique_ptr<CSEventAction> action);
    void RemoveAction(size_t index);
    // Moves the action at index one place up or down (the chain editor's order buttons).
    void MoveAction(size_t from, size_t to);

    void Store(const std::string& prefix, CConfigStore& store) const;
    // Reads name, count and actions. A stored class id that names no action kind (a damaged or
    // hand-edited file) is skipped: the action is left out and the skip is written to the
    // notification log, so the rest of the document still opens.
    void Load(const std::string& prefix, CConfigStore& store);

    // Executes every action in list order; true when every one returned true. A failing action does
    // not stop the chain.
    bool Run(const CSEventRecord& record);

private:
    std::string m_name;
    int32_t m_id = -1;
    std::vector<std::unique_ptr<CSEventAction>> m_actions;
};
