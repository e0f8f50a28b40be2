// Recovery thread: sets a location up again after it lost its camera.
#include <mirva/bcam_base.h>
#include <mirva/server.h>

#include "camera/host_threads.h"

namespace mirva {

RecoveryThread::RecoveryThread(bcam_base& cam, std::chrono::milliseconds period) : cam_(cam), period_(period) {
    thread_ = std::thread([this] { run(); });
}

RecoveryThread::~RecoveryThread() { stop(); }

void RecoveryThread::stop() {
    {
        std::lock_guard lk(mx_);
        stop_ = true;
    }
    cond_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool RecoveryThread::attempt() {
    // The lifecycle mutex may be held for long by the update thread (which may also be the
    // one stopping us): poll it so that a stop request is seen promptly.
    std::unique_lock life(cam_.lifecycle_mutex(), std::defer_lock);
    while (!life.try_lock()) {
        std::unique_lock lk(mx_);
        if (cond_.wait_for(lk, std::chrono::milliseconds(20), [&] { return stop_; })) return true;
    }
    if (cam_.setup_done.load()) return true;
    if (MIRVA_debug.load() & 1) printftostderr(cam_.name(), "recovery: setting the location up again");
    // A location that is not set up is not on line, whatever a client wrote to ONLINE;
    // online() sets up only a location that is off line.
    cam_.g_sts_.online(0);
    cam_.online();
    return cam_.setup_done.load();
}

void RecoveryThread::run() {
    for (;;) {
        {
            std::unique_lock lk(mx_);
            if (cond_.wait_for(lk, period_, [&] { return stop_; })) break;
        }
        if (attempt()) break;
    }
    running_.store(false);
}

} // namespace mirva
