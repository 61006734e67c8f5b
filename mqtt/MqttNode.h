#pragma once
// CMqttNode: this Tavrix node on the MQTT broker. It listens to the camera hub and publishes, with
// QoS 1 (PREFIX and NODE from the settings, CAMERA the camera's name made topic-safe):
//   PREFIX/NODE/status               "online" retained; "offline" at a clean stop and as the will
//   PREFIX/NODE/CAMERA/state         the camera state's name, retained
//   PREFIX/NODE/CAMERA/motion        "ON" / "OFF" at motion start and stop, retained
//   PREFIX/NODE/CAMERA/last_motion   the time of the last motion start, retained
//   PREFIX/NODE/events               a JSON object for every camera event
//   PREFIX/NODE/web                  the base URL of the node's web interface while it runs, retained
//                                    (deleted, an empty retained message, when it runs none)
// and, with Home Assistant discovery on, a motion binary sensor and a state sensor per camera under
// "homeassistant/". It obeys "activate" / "deactivate" on PREFIX/NODE/CAMERA/set when the settings
// allow remote control, and logs the refusal otherwise.
//
// Threads: Start and Stop on the owner's thread (the shell's user-interface thread); the hub's
// notes arrive on camera and document threads and only queue messages (CMqttClient never waits for
// the network); the broker's messages arrive on the client's network thread, which posts camera
// commands to the user-interface thread.
// Locks: m_lock (the cameras seen) is innermost apart from the client's, which it may call.

#include "camera/CameraHub.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class CMqttNode final : public ICameraHubListener {
public:
    using LogFn = std::function<void(const std::string& document, const std::string& camera,
                                     const std::string& text, bool error)>;

    CMqttNode(CMqttSettings settings, LogFn log);
    ~CMqttNode();
    CMqttNode(const CMqttNode&) = delete;
    CMqttNode& operator=(const CMqttNode&) = delete;

    // Connects (in the background) and starts listening to the camera hub; false with the reason
    // when the client cannot be set up.
    bool Start(std::string* error = nullptr);
    // "offline", disconnect, stop listening. Runs once.
    void Stop();

    const CMqttSettings& GetSettings() const { return m_settings; }
    CMqttClient& GetClient() { return *m_client; }

    std::string NodeTopic(const std::string& leaf) const;
    std::string CameraTopic(const std::string& cameraName, const std::string& leaf) const;

    // The event as PREFIX/NODE/events carries it; with the web interface's base URL, also that
    // ("web") and the camera's snapshot there ("snapshot").
    static std::string EventJson(const CCameraEventNote& note, const std::string& node,
                                 const std::string& webUrl = {});
    // The base URL of this node's web interface ("http://gate.lan:8080/"), published retained on
    // PREFIX/NODE/web and put into the events; empty: none runs. Any thread.
    void SetWebUrl(const std::string& url);
    // Empties the URL when it is still the one given (a server that stops).
    void ClearWebUrl(const std::string& url);
    std::string GetWebUrl() const;
    // Local time in ISO 8601 with milliseconds and the offset: 2026-12-08T15:10:00.123+01:00.
    static std::string IsoTime(int64_t unixTimeMs);
    // The discovery messages of one camera: topic and payload of the binary sensor, then the sensor.
    std::vector<std::pair<std::string, std::string>> DiscoveryMessages(const std::string& cameraName) const;

    // The node of this program as the settings file's group "[MQTT]" describes it, with the host
    // of "--mqtt HOST[:PORT]" when given, started, its news in the notification log. Null when no
    // broker is set, or when it cannot start (said in the log).
    static std::unique_ptr<CMqttNode> StartFromSettings(const std::string& hostOverride = {});

    // The node that runs now in this process (for the MQTT publish action), under its lock; fn
    // gets null when none runs.
    static void WithCurrent(const std::function<void(CMqttNode*)>& fn);

private:
    void OnCameraEvent(const CCameraEventNote& note) override;
    void OnCameraState(const CCameraStateNote& note) override;
    // On every (re-)connect, on the network thread: "online", the cameras' states, discovery.
    void Announce();
    void AnnounceCamera(const std::string& cameraName);
    void OnMessage(const std::string& topic, const std::string& payload, bool retained);
    void OnSetCommand(const std::string& cameraLevel, const std::string& payload);
    void Log(const std::string& document, const std::string& camera, const std::string& text,
             bool error) const;

    const CMqttSettings m_settings;
    LogFn m_log;
    std::unique_ptr<CMqttClient> m_client;
    bool m_started = false;
    bool m_stopped = false;

    // Guards the two sets below and m_webUrl; held while the URL is handed to the client, so
    // that the broker keeps the newest.
    mutable std::mutex m_lock;
    std::set<std::string> m_announced; // cameras whose discovery went out on this connection
    std::set<std::string> m_motionOn;  // cameras whose motion is ON
    std::string m_webUrl;
};
