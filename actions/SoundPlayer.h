#pragma once
// Plays sound files for the sound action without blocking the thread that runs the chain: Play()
// only hands the file to the player's own thread, which builds a GStreamer playbin, plays it and
// releases the pipeline when the sound has ended or failed. As with the platform's asynchronous
// sound call, a new sound replaces one that is still playing. A file that is not a sound is simply
// not heard (traced).
//
// Play() may be called from any thread. The player thread starts on first use and ends with the
// process. The environment variable TAVRIX_AUDIO_SINK names the audio sink element to use instead
// of the automatic one (tests use "fakesink").

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GSource GSource;
typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

class CSoundPlayer {
public:
    static CSoundPlayer& Instance();

    // Starts playing the file on the player thread; returns at once.
    void Play(const std::string& path);

    // Waits until every sound handed to Play() has ended, failed or been replaced (tests, shutdown).
    bool WaitIdle(uint32_t timeoutMs);
    // Sounds that played to their end, and sounds that could not be played.
    uint32_t FinishedCount() const;
    uint32_t FailedCount() const;

private:
    CSoundPlayer();
    ~CSoundPlayer();
    struct Request;
    static int OnRequest(void* data);
    static int OnBusMessage(GstBus* bus, GstMessage* message, void* data);
    void Start(const std::string& path);             // player thread
    void ReleaseCurrent(bool finished, bool failed); // player thread

    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::thread m_thread;

    mutable std::mutex m_lock; // guards the counters below
    std::condition_variable m_idle;
    uint32_t m_outstanding = 0; // handed to Play() and not yet done
    uint32_t m_finished = 0;
    uint32_t m_failed = 0;

    // Player thread only.
    GstElement* m_pipeline = nullptr;
    GSource* m_watch = nullptr;
};
