#include "mqtt/MqttClient.h"

#include "foundation/Tracer.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ConnackText(int rc) {
    return mosquitto_connack_string(rc);
}

} // namespace

CMqttClient::CMqttClient(COptions options, LogFn log)
    : m_options(std::move(options)), m_log(std::move(log)) {}

CMqttClient::~CMqttClient() {
    Stop();
}

std::string CMqttClient::BrokerText() const {
    const bool v6 = m_options.host.find(':') != std::string::npos;
    return (v6 ? "[" + m_options.host + "]" : m_options.host) + ":" + std::to_string(m_options.port);
}

void CMqttClient::Log(const std::string& text, bool error) const {
    TRACE("CMqttClient %s", text.c_str());
    if (m_log) {
        m_log(text, error);
    }
}

void CMqttClient::LogFailureOnce(const std::string& text) {
    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        fresh = text != m_lastFailure;
        m_lastFailure = text;
    }
    if (fresh) {
        Log(text, true);
    }
}

bool CMqttClient::Start(std::string* error) {
    const auto fail = [&](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        }
        return false;
    };
    if (m_started) {
        return fail("the MQTT client was started already");
    }
    if (m_options.host.empty()) {
        return fail("no MQTT broker is set");
    }
    InitLibrary();
    m_mosq = mosquitto_new(m_options.clientId.empty() ? nullptr : m_options.clientId.c_str(),
                           m_options.cleanSession || m_options.clientId.empty(), this);
    if (m_mosq == nullptr) {
        return fail("the MQTT client could not be created");
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // More QoS 1 messages on the way at once than the default 20: a burst of events is not held to
    // one round trip per 20 messages.
    mosquitto_int_option(m_mosq, MOSQ_OPT_SEND_MAXIMUM, 1000);
    mosquitto_connect_callback_set(m_mosq, &CMqttClient::OnConnect);
    mosquitto_disconnect_callback_set(m_mosq, &CMqttClient::OnDisconnect);
    mosquitto_publish_callback_set(m_mosq, &CMqttClient::OnPublish);
    mosquitto_message_callback_set(m_mosq, &CMqttClient::OnMessage);
    if (!m_options.willTopic.empty()) {
        const int rc = mosquitto_will_set(m_mosq, m_options.willTopic.c_str(),
                                          static_cast<int>(m_options.willPayload.size()),
                                          m_options.willPayload.data(), 1, m_options.willRetain);
        if (rc != MOSQ_ERR_SUCCESS) {
            return fail(std::string("the MQTT last will cannot be set: ") + mosquitto_strerror(rc));
        }
    }
    if (!m_options.user.empty()) {
        const int rc =
            mosquitto_username_pw_set(m_mosq, m_options.user.c_str(),
                                      m_options.password.empty() ? nullptr : m_options.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            return fail(std::string("the MQTT user name cannot be used: ") + mosquitto_strerror(rc));
        }
    }
    if (m_options.tls) {
        mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = mosquitto_tls_set(m_mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return fail(std::string("TLS cannot be set up for MQTT: ") + mosquitto_strerror(rc));
        }
    }
    mosquitto_reconnect_delay_set(m_mosq, m_options.reconnectMinSeconds, m_options.reconnectMaxSeconds, true);
    m_started = true;
    if (TryConnect()) {
        return StartLoop(error);
    }
    // libmosquitto's thread re-connects only after a first connection attempt got under way: until
    // then a starter thread tries with the same growing delay.
    m_starter = std::thread([this] {
        unsigned delay = std::max(1u, m_options.reconnectMinSeconds);
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_lock);
                if (m_connectedChanged.wait_for(lock, std::chrono::seconds(delay),
                                                [&] { return m_stopping; })) {
                    return;
                }
            }
            if (TryConnect()) {
                StartLoop(nullptr);
                return;
            }
            delay = std::min(delay * 2, std::max(1u, m_options.reconnectMaxSeconds));
        }
    });
    return true;
}

bool CMqttClient::TryConnect() {
    const int rc =
        mosquitto_connect_async(m_mosq, m_options.host.c_str(), m_options.port, m_options.keepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) {
        return true;
    }
    const std::string reason =
        rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
    LogFailureOnce("Cannot reach the MQTT broker at " + BrokerText() + " (" + reason + "); trying again");
    return false;
}

bool CMqttClient::StartLoop(std::string* error) {
    const int loop = mosquitto_loop_start(m_mosq);
    if (loop != MOSQ_ERR_SUCCESS) {
        const std::string text =
            std::string("the MQTT network thread cannot start: ") + mosquitto_strerror(loop);
        if (error != nullptr) {
            *error = text;
        }
        Log(text, true);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_loopRunning = true;
    return true;
}

void CMqttClient::Stop(const std::string& goodbyeTopic, const std::string& goodbyePayload, int waitMs) {
    if (!m_started || m_stopped) {
        return;
    }
    m_stopped = true;
    if (!goodbyeTopic.empty()) {
        PublishAndWait(goodbyeTopic, goodbyePayload, true, waitMs);
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_connectedChanged.notify_all();
    if (m_starter.joinable()) {
        m_starter.join();
    }
    mosquitto_disconnect(m_mosq);
    if (m_loopRunning) {
        mosquitto_loop_stop(m_mosq, false);
    }
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    std::lock_guard<std::mutex> lock(m_lock);
    m_connected = false;
    if (!m_queue.empty()) {
        TRACE("CMqttClient::Stop() %zu message(s) never reached the broker", m_queue.size());
    }
}

void CMqttClient::Subscribe(const std::string& pattern) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_subscriptions.push_back(pattern);
    if (m_connected) {
        mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
    }
}

bool CMqttClient::SendLocked(const CMessage& message, int* mid) {
    const int rc =
        mosquitto_publish(m_mosq, mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                          message.payload.data(), 1, message.retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        ++m_stats.published;
        return true;
    }
    TRACE("CMqttClient::SendLocked() '%s': %s", message.topic.c_str(), mosquitto_strerror(rc));
    return false;
}

void CMqttClient::QueueLocked(CMessage message) {
    if (m_options.queueLimit == 0) {
        ++m_stats.dropped;
        ++m_droppedSinceLoss;
        return;
    }
    while (m_queue.size() >= m_options.queueLimit) {
        m_queue.pop_front();
        ++m_stats.dropped;
        ++m_droppedSinceLoss;
    }
    m_queue.push_back(std::move(message));
}

void CMqttClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    std::lock_guard<std::mutex> lock(m_lock);
    CMessage message{topic, payload, retain};
    if (m_stopping || m_mosq == nullptr) {
        return;
    }
    // Behind what waits already, so that the order stays.
    if (!m_connected || !m_queue.empty() || !SendLocked(message, nullptr)) {
        QueueLocked(std::move(message));
    }
}

bool CMqttClient::PublishAndWait(const std::string& topic, const std::string& payload, bool retain,
                                 int waitMs) {
    int mid = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_connected || m_mosq == nullptr || !SendLocked(CMessage{topic, payload, retain}, &mid)) {
            return false;
        }
    }
    std::unique_lock<std::mutex> lock(m_ackLock);
    const bool acked =
        m_acked.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_ackedMids.count(mid) > 0; });
    m_ackedMids.erase(mid);
    return acked;
}

bool CMqttClient::IsConnected() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_connected;
}

bool CMqttClient::WaitConnected(int waitMs) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_connectedChanged.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_connected; });
}

CMqttClient::CStats CMqttClient::GetStats() const {
    std::lock_guard<std::mutex> lock(m_lock);
    CStats stats = m_stats;
    stats.queued = m_queue.size();
    return stats;
}

void CMqttClient::OnConnect(mosquitto* /*mosq*/, void* self, int rc) {
    static_cast<CMqttClient*>(self)->HandleConnect(rc);
}

void CMqttClient::OnDisconnect(mosquitto* /*mosq*/, void* self, int rc) {
    static_cast<CMqttClient*>(self)->HandleDisconnect(rc);
}

void CMqttClient::OnPublish(mosquitto* /*mosq*/, void* self, int mid) {
    auto* client = static_cast<CMqttClient*>(self);
    {
        std::lock_guard<std::mutex> lock(client->m_ackLock);
        client->m_ackedMids.insert(mid);
        // Only PublishAndWait collects them; keep the set small otherwise.
        if (client->m_ackedMids.size() > 4096) {
            client->m_ackedMids.erase(client->m_ackedMids.begin());
        }
    }
    client->m_acked.notify_all();
}

void CMqttClient::OnMessage(mosquitto* /*mosq*/, void* self, const mosquitto_message* message) {
    auto* client = static_cast<CMqttClient*>(self);
    if (client->m_onMessage && message != nullptr && message->topic != nullptr) {
        const std::string payload(static_cast<const char*>(message->payload),
                                  message->payload != nullptr ? static_cast<size_t>(message->payloadlen) : 0);
        client->m_onMessage(message->topic, payload, message->retain);
    }
}

void CMqttClient::HandleConnect(int rc) {
    if (rc != 0) {
        LogFailureOnce("The MQTT broker at " + BrokerText() + " refused the connection: " + ConnackText(rc));
        return;
    }
    std::vector<std::string> subscriptions;
    bool first = false;
    bool back = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_connected = true;
        first = !m_everConnected;
        back = m_lost || !m_lastFailure.empty();
        m_everConnected = true;
        m_lastFailure.clear();
        ++m_stats.connects;
        subscriptions = m_subscriptions;
    }
    m_connectedChanged.notify_all();
    for (const std::string& pattern : subscriptions) {
        mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), 1);
    }
    if (m_onConnect) {
        m_onConnect();
    }
    size_t sent = 0;
    uint64_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        while (!m_queue.empty() && m_connected) {
            if (!SendLocked(m_queue.front(), nullptr)) {
                break;
            }
            m_queue.pop_front();
            ++sent;
        }
        dropped = m_droppedSinceLoss;
        m_droppedSinceLoss = 0;
        m_lost = false;
    }
    if (first && !back) {
        Log("Connected to the MQTT broker at " + BrokerText(), false);
    } else if (first || back) {
        Log("The MQTT broker at " + BrokerText() + " is back: " + std::to_string(sent) +
                " queued message(s) sent, " + std::to_string(dropped) + " dropped while it was gone",
            false);
    }
}

void CMqttClient::HandleDisconnect(int rc) {
    bool report = false;
    bool never = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const bool was = m_connected;
        m_connected = false;
        if (!m_stopping && rc != 0 && was) {
            m_lost = true;
            report = true;
        }
        never = !m_stopping && rc != 0 && !m_everConnected;
    }
    m_connectedChanged.notify_all();
    if (never) {
        const std::string reason =
            rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
        LogFailureOnce("Cannot reach the MQTT broker at " + BrokerText() + " (" + reason + "); trying again");
    }
    if (report) {
        const std::string reason =
            rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc);
        LogFailureOnce("The MQTT broker at " + BrokerText() + " is gone (" + reason +
                       "); messages are kept until it is back");
    }
}
