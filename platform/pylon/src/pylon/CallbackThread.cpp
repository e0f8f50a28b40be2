#include "CallbackThread.h"

#include <pthread.h>

namespace Pylon::detail {

CallbackThread& CallbackThread::Instance()
{
    static CallbackThread instance;
    return instance;
}

CallbackThread::~CallbackThread() { Stop(); }

void CallbackThread::Post(const void* owner, std::function<void()> task)
{
    std::lock_guard lock(mutex_);
    tasks_.push_back({owner, std::move(task)});
    if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
}

void CallbackThread::Cancel(const void* owner)
{
    std::unique_lock lock(mutex_);
    std::erase_if(tasks_, [owner](const Task& t) { return t.owner == owner; });
    if (IsCurrentThread())
        return;
    finished_.wait(lock, [&] { return running_owner_ != owner; });
}

void CallbackThread::Stop()
{
    std::thread joining;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || IsCurrentThread())
            return;
        stopping_ = true;
        wake_.notify_one();
        joining = std::move(thread_);
    }
    joining.join();
}

void CallbackThread::Run()
{
    thread_id_ = std::this_thread::get_id();
    pthread_setname_np(pthread_self(), "pylon_callback");
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            break; // stopping, nothing left to run
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        running_owner_ = task.owner;
        lock.unlock();
        try {
            task.run();
        } catch (...) {
            // A callback's exception must not end the SDK's thread.
        }
        task.run = nullptr; // release captured state outside the lock
        lock.lock();
        running_owner_ = nullptr;
        finished_.notify_all();
    }
    thread_id_ = std::thread::id{};
}

} // namespace Pylon::detail
