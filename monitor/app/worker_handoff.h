// The hand-over between a run's worker thread and the window's thread, as
// the radio and band runs use it: the worker puts what it made into a
// pending store under the lock and wakes the window once; the window takes
// it all when it comes round to it, which lets the worker wake it again.
// A worker that is too far ahead waits for room rather than drop anything,
// and every wait ends at once on stop().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace varnak {

class WorkerHandoff {
public:
    using Clock = std::chrono::steady_clock;
    // Called on the worker thread when something waits for take(); not
    // again until take() was called.
    using Wake = std::function<void()>;

    WorkerHandoff() = default;
    ~WorkerHandoff() { stop(); }
    WorkerHandoff(const WorkerHandoff&) = delete;
    WorkerHandoff& operator=(const WorkerHandoff&) = delete;

    // Runs `work` on a new thread (once).
    void start(std::function<void()> work, Wake wake)
    {
        if (worker_.joinable()) return;
        wake_ = std::move(wake);
        stop_ = false;
        worker_ = std::thread(std::move(work));
    }
    // Asks the worker to end and waits for it.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        roomOrStop_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    bool stopping() const { return stop_; }

    // Worker: waits while `full()` holds (unless stopping), then calls `put`
    // under the lock and wakes the window unless it was woken already.
    template <typename Full, typename Put>
    void hand(Full full, Put put)
    {
        bool wake = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            roomOrStop_.wait(lock, [&] { return stop_ || !full(); });
            put();
            wake = !woken_;
            woken_ = true;
        }
        if (wake && wake_) wake_();
    }
    // Window: calls `get` under the lock; the worker may wake the window
    // again, and goes on if it waited for room.
    template <typename Get>
    void take(Get get)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            get();
            woken_ = false;
        }
        roomOrStop_.notify_all();
    }
    // Worker: waits until `due`, or until stop().
    void waitUntil(Clock::time_point due)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        roomOrStop_.wait_until(lock, due, [this] { return stop_.load(); });
    }

private:
    Wake wake_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable roomOrStop_;
    std::atomic<bool> stop_{false};
    bool woken_ = false;
};

}  // namespace varnak
