// The SDK's callback thread: runs device-removal callbacks away from the thread that
// removed the device. Started on demand, joined by Stop() (PylonTerminate) or at exit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Pylon::detail {

class CallbackThread {
public:
    static CallbackThread& Instance();

    // Runs `task` on the callback thread; `owner` tags it for Cancel().
    void Post(const void* owner, std::function<void()> task);
    // Drops the pending tasks of `owner` and waits until a running one has finished
    // (unless called from the callback thread itself).
    void Cancel(const void* owner);
    // Runs what is pending, then joins the thread. A later Post() starts it again.
    void Stop();
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_id_.load(); }

    ~CallbackThread();

private:
    CallbackThread() = default;
    void Run();

    struct Task {
        const void* owner;
        std::function<void()> run;
    };

    std::mutex mutex_;                 // guards everything below; posting threads and the callback thread
    std::condition_variable wake_;     // tasks or stop for the callback thread
    std::condition_variable finished_; // a task finished (for Cancel)
    std::deque<Task> tasks_;
    const void* running_owner_ = nullptr;
    bool stopping_ = false;
    std::thread thread_;               // started and joined under mutex_ by posting / stopping threads
    std::atomic<std::thread::id> thread_id_{};
};

} // namespace Pylon::detail
