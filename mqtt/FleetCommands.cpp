#include "mqtt/FleetCommands.h"

#include "mqtt/FleetView.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

namespace {

// Names from the broker never drive the terminal and never break the columns.
std::string Cell(const std::string& text) {
    std::string cell = text.empty() ? "-" : text;
    for (char& c : cell) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            c = ' ';
        }
    }
    return cell;
}

// The settings with the command's overrides; nothing (said on err) when no broker is known.
std::optional<CMqttSettings> Settings(const CFleetOptions& options, std::ostream& err) {
    CMqttSettings settings = CMqttSettings::LoadDefault();
    if (!options.mqtt.empty()) {
        const auto hostPort = CMqttSettings::ParseHostPort(options.mqtt);
        if (!hostPort) {
            err << "tavrix: '" << options.mqtt << "' is no HOST or HOST:PORT\n";
            return std::nullopt;
        }
        settings.Override(*hostPort);
    }
    if (!options.prefix.empty()) {
        settings.prefix = options.prefix;
    }
    if (!settings.Enabled()) {
        err << "tavrix: no MQTT broker: give --mqtt HOST[:PORT] or set Host in the settings' [MQTT] group\n";
        return std::nullopt;
    }
    return settings;
}

CMqttClient::COptions ClientOptions(const CMqttSettings& settings, const char* role) {
    return settings.ClientOptions(std::string("tavrix-fleet-") + role + "-" + std::to_string(::getpid()));
}

void PrintTable(const std::map<std::string, CFleetNode>& nodes, std::ostream& out) {
    out << "NODE\tSTATUS\tCAMERA\tSTATE\tMOTION\tLAST MOTION\n";
    for (const auto& [node, row] : nodes) {
        if (row.cameras.empty()) {
            out << Cell(node) << "\t" << Cell(row.status) << "\t-\t-\t-\t-\n";
        }
        for (const auto& [camera, cameraRow] : row.cameras) {
            out << Cell(node) << "\t" << Cell(row.status) << "\t" << Cell(camera) << "\t"
                << Cell(cameraRow.state) << "\t" << Cell(cameraRow.motion) << "\t"
                << Cell(cameraRow.lastMotion) << "\n";
        }
    }
}

} // namespace

namespace FleetCommands {

int Status(const CFleetOptions& options, std::ostream& out, std::ostream& err) {
    const auto settings = Settings(options, err);
    if (!settings) {
        return 1;
    }
    const std::string prefix = settings->prefix;
    std::mutex lock; // guards table and done
    std::condition_variable changed;
    CFleetTable table(prefix);
    bool done = false;
    std::string lastError;

    CMqttClient::COptions clientOptions = ClientOptions(*settings, "status");
    // The end of the retained messages: the broker sends them on the subscription, before a
    // message published afterwards on the same connection comes back.
    const std::string marker = prefix + "/_fleet/" + clientOptions.clientId;
    CMqttClient client(clientOptions, [&](const std::string& text, bool error) {
        if (error) {
            std::lock_guard<std::mutex> guard(lock);
            lastError = text;
        }
    });
    for (const std::string& pattern : table.Patterns()) {
        client.Subscribe(pattern);
    }
    client.Subscribe(marker);
    client.SetConnectHandler([&] { client.Publish(marker, "end", false); });
    client.SetMessageHandler([&](const std::string& topic, const std::string& payload, bool /*retained*/) {
        std::lock_guard<std::mutex> guard(lock);
        if (topic == marker) {
            done = true;
            changed.notify_all();
            return;
        }
        table.Apply(topic, payload);
    });
    std::string error;
    if (!client.Start(&error)) {
        err << "tavrix: " << error << "\n";
        return 1;
    }
    const double seconds = options.timeoutSeconds > 0 ? options.timeoutSeconds : 10.0;
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return done; });
    }
    client.Stop();
    std::lock_guard<std::mutex> guard(lock);
    if (!done) {
        err << "tavrix: the MQTT broker at " << settings->BrokerText() << " did not answer in time"
            << (lastError.empty() ? "" : ": " + lastError) << "\n";
        return 1;
    }
    if (table.Nodes().empty()) {
        err << "tavrix: the MQTT broker at " << settings->BrokerText() << " knows no node under '" << prefix
            << "/'\n";
        return 1;
    }
    PrintTable(table.Nodes(), out);
    out.flush();
    return 0;
}

std::string WatchLine(const std::string& node, const std::string& payload) {
    const nlohmann::json event = nlohmann::json::parse(payload, nullptr, false);
    if (!event.is_object()) {
        return "-\t" + Cell(node) + "\t-\t-\t" + Cell(payload.substr(0, 200)) + "\t-";
    }
    const auto field = [&](const char* name) {
        const auto found = event.find(name);
        return Cell(found != event.end() && found->is_string() ? found->get<std::string>() : std::string());
    };
    return field("time") + "\t" + Cell(node) + "\t" + field("document") + "\t" + field("camera") + "\t" +
           field("type") + "\t" + field("recordFile");
}

int Watch(const CFleetOptions& options, std::ostream& out, std::ostream& err) {
    const auto settings = Settings(options, err);
    if (!settings) {
        return 1;
    }
    const std::string prefix = settings->prefix;
    const size_t prefixLevels = CFleetTable::Levels(prefix).size();
    std::mutex lock; // guards seen and lines
    std::condition_variable changed;
    std::vector<std::string> lines;
    int seen = 0;

    CMqttClient client(ClientOptions(*settings, "watch"), [&](const std::string& text, bool error) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back((error ? "# error: " : "# ") + text);
        changed.notify_all();
    });
    client.Subscribe(prefix + "/+/events");
    client.SetMessageHandler([&](const std::string& topic, const std::string& payload, bool /*retained*/) {
        const std::vector<std::string> levels = CFleetTable::Levels(topic);
        if (levels.size() != prefixLevels + 2) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(WatchLine(levels[prefixLevels], payload));
        ++seen;
        changed.notify_all();
    });
    std::string error;
    if (!client.Start(&error)) {
        err << "tavrix: " << error << "\n";
        return 1;
    }
    const auto end = options.timeoutSeconds > 0
                         ? std::chrono::steady_clock::now() +
                               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(options.timeoutSeconds))
                         : std::chrono::steady_clock::time_point::max();
    int printed = 0;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        for (const std::string& line : lines) {
            (line.rfind("# ", 0) == 0 ? err : out) << line << "\n";
        }
        out.flush();
        err.flush();
        lines.clear();
        printed = seen;
        if (options.count > 0 && printed >= options.count) {
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            break;
        }
        if (end == std::chrono::steady_clock::time_point::max()) {
            changed.wait(guard, [&] { return !lines.empty(); });
        } else {
            changed.wait_until(guard, end, [&] { return !lines.empty(); });
        }
    }
    guard.unlock();
    client.Stop();
    return 0;
}

} // namespace FleetCommands
