#pragma once
// Collects the exit status of the programs the command action starts, so that none of them stays
// behind as a zombie while the surveillance program runs for weeks. Only the process ids handed to
// Watch() are waited for; children that other parts of the program start are left to their owners.
//
// Watch() is called from any thread (the threads that run event-action chains); the reaper thread
// starts on first use and ends with the process.

#include <condition_variable>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <thread>

class CChildReaper {
public:
    static CChildReaper& Instance();
    void Watch(pid_t pid);
    // Number of watched children not yet collected.
    size_t Pending() const;

private:
    CChildReaper() = default;
    ~CChildReaper();
    void Run();

    static constexpr int kPollMs = 100;
    mutable std::mutex m_lock; // guards m_pids, m_stop, m_thread start
    std::condition_variable m_wake;
    std::set<pid_t> m_pids;
    bool m_stop = false;
    std::thread m_thread;
};
