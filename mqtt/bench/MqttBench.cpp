// The MQTT client's speed against Debian's mosquitto broker on loopback: messages a second through
// the client to a subscriber, and the latency from a motion start on the camera hub to the "ON"
// message at a subscriber (goal: under 100 ms).

#include "actions/CSEventRecord.h"
#include "camera/CameraHub.h"
#include "mqtt/MqttNode.h"
#include "mqtt/tests/MqttTestBroker.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>

namespace {

// One broker for the whole run, in a folder of its own.
mqtttest::CTestBroker& Broker() {
    static std::string folder = [] {
        char name[] = "/tmp/tavrix-mqtt-bench-XXXXXX";
        return std::string(::mkdtemp(name));
    }();
    static mqtttest::CTestBroker broker(folder);
    static const bool started = broker.Start();
    (void)started;
    return broker;
}

void BM_EventsThroughTheClient(benchmark::State& state) {
    const uint16_t port = Broker().Port();
    std::atomic<int64_t> received{0};
    CMqttClient::COptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.clientId = "bench-subscriber";
    CMqttClient subscriber(options, nullptr);
    subscriber.SetMessageHandler([&](const std::string&, const std::string&, bool) { ++received; });
    subscriber.Subscribe("bench/events");
    subscriber.Start();
    options.clientId = "bench-publisher";
    options.queueLimit = 1000000;
    CMqttClient publisher(options, nullptr);
    publisher.Start();
    if (!subscriber.WaitConnected(60000) || !publisher.WaitConnected(60000)) {
        state.SkipWithError("the broker is not reachable");
        return;
    }
    const std::string payload(300, 'x'); // about the size of an event's JSON
    const int batch = static_cast<int>(state.range(0));
    int64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            publisher.Publish("bench/events", payload, false);
        }
        sent += batch;
        while (received.load() < sent) {
            std::this_thread::yield();
        }
    }
    state.SetItemsProcessed(sent);
    publisher.Stop();
    subscriber.Stop();
}
BENCHMARK(BM_EventsThroughTheClient)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MotionStartToOnAtASubscriber(benchmark::State& state) {
    const uint16_t port = Broker().Port();
    CMqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.nodeName = "bench";
    CMqttNode node(settings, nullptr);
    node.Start();

    std::mutex lock;
    std::condition_variable arrived;
    std::string last;
    CMqttClient::COptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.clientId = "bench-motion-subscriber";
    CMqttClient subscriber(options, nullptr);
    subscriber.SetMessageHandler([&](const std::string&, const std::string& payload, bool retained) {
        if (!retained) {
            std::lock_guard<std::mutex> guard(lock);
            last = payload;
            arrived.notify_all();
        }
    });
    subscriber.Subscribe("tavrix/bench/Porch/motion");
    subscriber.Start();
    if (!subscriber.WaitConnected(60000) || !node.GetClient().WaitConnected(60000)) {
        state.SkipWithError("the broker is not reachable");
        return;
    }
    CCameraEventNote note;
    note.documentName = "Bench";
    note.cameraName = "Porch";
    note.cameraId = 0;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        note.kind = on ? EventKind::MotionStart : EventKind::MotionStop;
        note.eventName = GetEventKindName(note.kind);
        note.unixTimeMs = CCameraHub::NowUnixMs();
        const std::string expected = on ? "ON" : "OFF";
        const auto start = std::chrono::steady_clock::now();
        CCameraHub::Instance().PublishEvent(note);
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait_for(guard, std::chrono::seconds(10), [&] { return last == expected; });
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    subscriber.Stop();
    node.Stop();
}
BENCHMARK(BM_MotionStartToOnAtASubscriber)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

} // namespace

BENCHMARK_MAIN();
