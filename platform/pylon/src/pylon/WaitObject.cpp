#include <chrono>

#include <pylon/WaitObject.h>

namespace Pylon {

bool WaitObject::Wait(unsigned int timeout_ms) const
{
    if (!state_)
        return false;
    std::unique_lock lock(state_->mutex);
    return state_->cond.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return state_->ready > 0; });
}

} // namespace Pylon
