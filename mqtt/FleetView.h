#pragma once
// The fleet as the broker keeps it: every Tavrix node under one prefix with its status, the base
// URL of its web interface and its cameras' state, motion and last motion start, taken from the
// retained topics the nodes publish (see CMqttNode).
//
// CFleetTable is the plain table (no lock): `tavrix fleet status` fills one and prints it.
// CFleetView keeps a table up to date on a connection of its own, for the web interface: its
// network thread applies the messages, any thread takes a copy with Snapshot.
// Locks: m_lock (the table) is innermost; the client's handlers take it, never the other way round.

#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct CFleetCamera {
    std::string state;
    std::string motion;
    std::string lastMotion;
};

struct CFleetNode {
    std::string status; // "online", "offline", empty while unknown
    std::string web;    // the node's web interface, empty when it runs none
    std::map<std::string, CFleetCamera> cameras;
};

class CFleetTable {
public:
    // Bounds against a broker full of stray topics: further nodes and cameras are left out.
    static constexpr size_t kMaxNodes = 4096;
    static constexpr size_t kMaxCamerasPerNode = 1024;
    static constexpr size_t kMaxPayload = 512;

    explicit CFleetTable(std::string prefix);

    // The subscriptions that feed the table.
    std::vector<std::string> Patterns() const;
    // One message of those subscriptions; false when the topic is none of the fleet's (or over
    // the bounds). An empty payload (a retained message deleted) empties the value.
    bool Apply(const std::string& topic, const std::string& payload);
    const std::map<std::string, CFleetNode>& Nodes() const { return m_nodes; }
    const std::string& Prefix() const { return m_prefix; }

    static std::vector<std::string> Levels(const std::string& topic);

private:
    std::string m_prefix;
    size_t m_prefixLevels;
    std::map<std::string, CFleetNode> m_nodes;
};

class CFleetView {
public:
    CFleetView(const CMqttSettings& settings, CMqttClient::LogFn log);
    ~CFleetView();
    CFleetView(const CFleetView&) = delete;
    CFleetView& operator=(const CFleetView&) = delete;

    // Connects in the background; false with the reason when the client cannot be set up.
    bool Start(std::string* error = nullptr);
    void Stop();

    // A copy of the table; version (when given) grows with every change.
    CFleetTable Snapshot(uint64_t* version = nullptr) const;
    bool IsConnected() const { return m_client->IsConnected(); }
    const CMqttSettings& GetSettings() const { return m_settings; }

private:
    const CMqttSettings m_settings;
    std::unique_ptr<CMqttClient> m_client;
    mutable std::mutex m_lock; // guards m_table and m_version
    CFleetTable m_table;
    uint64_t m_version = 0;
};
