#pragma once
#include <chrono>
#include <future>
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

// Work the process waits for at its end, but only so long: whoever started
// the installer must get its exit code even when a disk or a network holds the
// work up. Work that may be left running owns everything it touches (copies,
// or state that is never destroyed), as the exit runs on without it.
struct WaitedThread {
    std::thread thread;
    std::future<void> finished;  // ready once the work has returned

    WaitedThread() = default;
    ~WaitedThread() { LetGo(std::chrono::steady_clock::now() + DefaultWait); }
    WaitedThread(const WaitedThread&) = delete;
    WaitedThread& operator=(const WaitedThread&) = delete;

    static constexpr std::chrono::seconds DefaultWait{5};

    // Joins the work if it is done by `deadline`, else leaves it running.
    void LetGo(std::chrono::steady_clock::time_point deadline)
    {
        if (!thread.joinable())
            return;
        if (finished.wait_until(deadline) == std::future_status::ready)
            thread.join();
        else
            thread.detach();
    }
};

// Runs work on a new thread held by holder; false, with nothing run, when no
// thread can be started.
template <typename Work>
bool StartWaitedThread(WaitedThread& holder, Work work)
{
    try {
        std::promise<void> done;
        std::future<void> finished = done.get_future();
        holder.thread = std::thread([work, done = std::move(done)]() mutable {
            work();
            done.set_value();
        });
        holder.finished = std::move(finished);
        return true;
    } catch (...) {
        return false;
    }
}
