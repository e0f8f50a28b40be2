// Level-triggered wait object of a stream grabber: signalled while the grabber's output
// queue holds a result.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace Pylon {

namespace detail {
// Shared by a grabber (producer side) and its wait object.
struct WaitState {
    mutable std::mutex mutex;              // guards ready; grabber and waiting threads
    mutable std::condition_variable cond;
    std::size_t ready = 0;                 // results in the output queue
};
} // namespace detail

class WaitObject {
public:
    explicit WaitObject(std::shared_ptr<detail::WaitState> state) : state_(std::move(state)) {}

    // True when a result is ready, waiting up to timeout_ms for one (0: just test).
    bool Wait(unsigned int timeout_ms) const;

private:
    std::shared_ptr<detail::WaitState> state_;
};

} // namespace Pylon
