#pragma once
#include <thread>
#include <utility>

// Work the process waits for before it ends, however the window ends: a
// detached thread would be cut off mid-work by the exit.
struct JoinedThread {
    std::thread thread;

    JoinedThread() = default;
    ~JoinedThread()
    {
        if (thread.joinable())
            thread.join();
    }
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;
};

// Runs work on a new thread held by holder, or on the calling thread when no
// thread can be started.
template <typename Work>
void StartJoinedThread(JoinedThread& holder, Work work)
{
    try {
        holder.thread = std::thread(work);
    } catch (...) {
        work();
    }
}
