#pragma once
// The two containers through which collections are flattened into the dotted keys of a document:
//
// SerializeableMap<T>: elements with numeric ids (cameras, time schedules, event action chains),
// kept in ascending id order, plus the next id a new element gets. Stored under prefix P as
//   P.count            number of elements
//   P.<i>.id           id of the element at position i (0, 1, ... in ascending id order)
//   P.<i>...           the element's own keys
// Loading sets the next id to the largest id loaded + 1 (1 for an empty map); a map that was never
// loaded starts with next id 0.
//
// SerializeableVec<T>: elements held by value in vector order (time schedule entries), stored as
// P.count and each element under P.<i>.
//
// What an element type provides:
//   map element: default constructor (its built-in defaults), copy constructor (deep copy),
//                void SetId(int32_t), int32_t GetId() const,
//                void Store(const std::string& prefix, CConfigStore& store) const,
//                void Load(const std::string& prefix, CConfigStore& store)
//   vec element: default constructor, copy, Store and Load as above.
//
// A load reads every key with CConfigStore's getters, so a missing key ends it with
// sqlite3x::database_error("nothing to read"). A failed load leaves the container as it was. The
// count read from the file is never used to allocate ahead, so a damaged count fails at the first
// missing element instead of reserving memory for it.
//
// No locks: a container is used by one thread at a time (the document's owner guards access).

#include "persistence/ConfigStore.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

template <class T>
class SerializeableMap {
public:
    using Elements = std::map<int32_t, std::unique_ptr<T>>;

    SerializeableMap() = default;
    virtual ~SerializeableMap() = default;
    SerializeableMap(const SerializeableMap& other) : m_nextId(other.m_nextId) {
        for (const auto& [id, element] : other.m_elements) {
            m_elements.emplace(id, std::make_unique<T>(*element));
        }
    }
    SerializeableMap& operator=(const SerializeableMap& other) {
        if (this != &other) {
            SerializeableMap copy(other);
            swap(copy);
        }
        return *this;
    }
    SerializeableMap(SerializeableMap&&) noexcept = default;
    SerializeableMap& operator=(SerializeableMap&&) noexcept = default;

    void swap(SerializeableMap& other) noexcept {
        m_elements.swap(other.m_elements);
        std::swap(m_nextId, other.m_nextId);
    }

    void Load(const std::string& prefix, CConfigStore& store) {
        SerializeableMap loaded;
        const int32_t count = store.GetInt(prefix + ".count");
        int64_t maxId = 0;
        for (int32_t i = 0; i < count; ++i) {
            const std::string key = prefix + "." + std::to_string(i);
            const int32_t id = store.GetInt(key + ".id");
            maxId = std::max<int64_t>(maxId, id);
            auto element = std::make_unique<T>();
            element->SetId(id);
            element->Load(key, store);
            // A duplicate id keeps the element loaded first.
            loaded.m_elements.emplace(id, std::move(element));
        }
        // An id of INT32_MAX would make the next id overflow; Add() then looks for a free id.
        loaded.m_nextId = maxId >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(maxId + 1);
        swap(loaded);
    }

    void Save(const std::string& prefix, CConfigStore& store) const {
        store.PutInt(prefix + ".count", static_cast<int32_t>(m_elements.size()));
        int32_t position = 0;
        for (const auto& [id, element] : m_elements) {
            const std::string key = prefix + "." + std::to_string(position++);
            store.PutInt(key + ".id", id);
            element->Store(key, store);
        }
    }

    // Adds a new element with its defaults; its id is the next id, which is then incremented.
    // Returns null only when every id from the next id up to INT32_MAX is taken.
    T* Add() {
        while (m_elements.count(m_nextId) != 0) {
            if (m_nextId == INT32_MAX) {
                return nullptr;
            }
            ++m_nextId;
        }
        const int32_t id = m_nextId;
        if (m_nextId < INT32_MAX) {
            ++m_nextId;
        }
        auto element = std::make_unique<T>();
        element->SetId(id);
        T* raw = element.get();
        m_elements.emplace(id, std::move(element));
        return raw;
    }

    T* Find(int32_t id) {
        auto it = m_elements.find(id);
        return it == m_elements.end() ? nullptr : it->second.get();
    }
    const T* Find(int32_t id) const {
        auto it = m_elements.find(id);
        return it == m_elements.end() ? nullptr : it->second.get();
    }
    bool Remove(int32_t id) { return m_elements.erase(id) != 0; }
    void Clear() { m_elements.clear(); }

    size_t Size() const { return m_elements.size(); }
    bool Empty() const { return m_elements.empty(); }
    int32_t GetNextId() const { return m_nextId; }

    // Iteration in ascending id order; each item is (id, std::unique_ptr<T>).
    typename Elements::iterator begin() { return m_elements.begin(); }
    typename Elements::iterator end() { return m_elements.end(); }
    typename Elements::const_iterator begin() const { return m_elements.begin(); }
    typename Elements::const_iterator end() const { return m_elements.end(); }

private:
    Elements m_elements;
    int32_t m_nextId = 0;
};

template <class T>
class SerializeableVec : public std::vector<T> {
public:
    using std::vector<T>::vector;
    SerializeableVec() = default;
    SerializeableVec(const SerializeableVec&) = default;
    SerializeableVec(SerializeableVec&&) noexcept = default;
    SerializeableVec& operator=(const SerializeableVec&) = default;
    SerializeableVec& operator=(SerializeableVec&&) noexcept = default;
    virtual ~SerializeableVec() = default;

    void Load(const std::string& prefix, CConfigStore& store) {
        std::vector<T> loaded;
        const int32_t count = store.GetInt(prefix + ".count");
        for (int32_t i = 0; i < count; ++i) {
            T element;
            element.Load(prefix + "." + std::to_string(i), store);
            loaded.push_back(std::move(element));
        }
        std::vector<T>::swap(loaded);
    }

    void Save(const std::string& prefix, CConfigStore& store) const {
        store.PutInt(prefix + ".count", static_cast<int32_t>(this->size()));
        for (size_t i = 0; i < this->size(); ++i) {
            (*this)[i].Store(prefix + "." + std::to_string(i), store);
        }
    }
};
