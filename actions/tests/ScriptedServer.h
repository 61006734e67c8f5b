#pragma once
// A one-connection TCP server on 127.0.0.1 that plays a script in its own thread, for protocol
// cases a real server will not produce on demand (a 554 greeting, silence, replies in pieces).
// The script sends lines and reads what the client says; everything received is kept in order.

#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CScriptedServer {
public:
    class Peer {
    public:
        void Send(const std::string& text);
        // One line including its "\r\n"; empty after timeoutMs or when the client closed.
        std::string ReadLine(int timeoutMs = 5000);
        // Everything up to and including end; empty after timeoutMs.
        std::string ReadUntil(const std::string& end, int timeoutMs = 5000);
        void SleepMs(int ms);
        // Sends text one byte every everyMs (again from its start when it is through) until the
        // client closes the connection (true) or maxMs have passed (false). What the client sends
        // meanwhile is kept.
        bool Trickle(const std::string& text, int everyMs, int maxMs);
        // Waits for the client to close the connection, keeping what it sends; false after maxMs.
        bool WaitClosed(int maxMs);

    private:
        friend class CScriptedServer;
        bool Fill(int timeoutMs);
        // Like Fill, but tells a closed connection (-1) from silence (0); 1 when data came.
        int Take(int timeoutMs);
        int m_fd = -1;
        std::string m_buffer;
        CScriptedServer* m_server = nullptr;
    };
    using Script = std::function<void(Peer&)>;

    explicit CScriptedServer(Script script);
    ~CScriptedServer();
    int Port() const { return m_port; }
    // Waits for the script to end; then Transcript() holds everything the client sent.
    void Join();
    std::string Transcript();

private:
    void Run(Script script);
    int m_listen = -1;
    int m_port = 0;
    std::mutex m_lock;
    std::string m_transcript;
    std::thread m_thread;
};
