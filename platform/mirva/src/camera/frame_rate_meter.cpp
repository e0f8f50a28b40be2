#include <mirva/frame_rate_meter.h>

#include <algorithm>

namespace mirva {

namespace {
constexpr auto window = std::chrono::seconds(1);
}

void FrameRateMeter::frame(clock::time_point t) {
    std::lock_guard lk(mx_);
    times_.push_back(t);
    while (!times_.empty() && (times_.front() < t - window || times_.size() > max_frames))
        times_.pop_front();
}

double FrameRateMeter::fps(clock::time_point now) const {
    std::lock_guard lk(mx_);
    auto first = std::lower_bound(times_.begin(), times_.end(), now - window);
    const auto n = std::distance(first, times_.end());
    if (n == 0)
        return 0;
    const double span = std::chrono::duration<double>(times_.back() - *first).count();
    if (n == 1 || span <= 0)
        return static_cast<double>(n);
    return static_cast<double>(n - 1) / span;
}

} // namespace mirva
