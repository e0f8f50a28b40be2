// The wait of a live socket or an image stream for its location's next image: the location
// wakes it when it delivers one, and a timer bounds the wait when nothing comes (the camera
// stopped, the stream's rate limit).
//
// Threads: the constructor and wait() on the connection's strand; the destructor wherever
// the connection ends; the location's image-output thread only posts a wake-up to the
// strand, which holds the timer alive for its run.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <utility>

class bcam_base;

namespace mirva::camserver {

class ImageSignal {
public:
    // camera null: no images come; only the timer ends a wait.
    ImageSignal(const boost::asio::any_io_executor& strand, bcam_base* camera);
    ~ImageSignal();
    ImageSignal(const ImageSignal&) = delete;
    ImageSignal& operator=(const ImageSignal&) = delete;

    // Calls `handler()` on the strand after `at_most`, or sooner when the location delivers
    // an image; also when cancel() ends the wait, so the handler looks at its own state
    // first. A new wait replaces the one pending.
    template <class Handler>
    void wait(std::chrono::steady_clock::duration at_most, Handler&& handler) {
        timer_->expires_after(at_most);
        timer_->async_wait([h = std::forward<Handler>(handler)](boost::beast::error_code) mutable { h(); });
    }
    void cancel() { timer_->cancel(); }  // strand

private:
    std::shared_ptr<boost::asio::steady_timer> timer_;
    bcam_base* camera_;
    uint64_t listener_ = 0;
};

} // namespace mirva::camserver
