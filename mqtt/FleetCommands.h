#pragma once
// The fleet commands: every Tavrix node on one MQTT broker, seen from any machine.
//   tavrix fleet status   every node and camera the broker keeps (retained topics): the node's
//                         status, each camera's state, motion and last motion start
//   tavrix fleet watch    every node's camera events as they arrive, one line each
// The broker, its user and password and the topic prefix come from the settings file's "[MQTT]"
// group; --mqtt HOST[:PORT] and --prefix override them.
//
// Runs on the main thread; the messages arrive on the client's network thread.

#include <iosfwd>
#include <string>

struct CFleetOptions {
    std::string mqtt;           // HOST[:PORT], empty: the settings' host
    std::string prefix;         // empty: the settings' prefix
    int count = -1;             // watch: end after that many events
    double timeoutSeconds = -1; // status: how long to wait for the broker (10 s); watch: end then
};

namespace FleetCommands {

// 0 with the table on out; 1 when the broker cannot be reached or has nothing of the prefix.
int Status(const CFleetOptions& options, std::ostream& out, std::ostream& err);
// Prints events until interrupted, --count or --timeout; 1 when the broker cannot be reached.
int Watch(const CFleetOptions& options, std::ostream& out, std::ostream& err);

// One line of "fleet watch" for a message of PREFIX/NODE/events (tab-separated: time, node,
// document, camera, event, recording file).
std::string WatchLine(const std::string& node, const std::string& payload);

} // namespace FleetCommands
