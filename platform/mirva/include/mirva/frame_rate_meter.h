// Frames per second measured over the last second of frame arrival times: the rate a
// client sees, unlike FRAME.RATE, which is one camera-thread cycle.
//
// Threads: frame() from the image-output thread, fps() from any thread; both take mx_.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>

namespace mirva {

class FrameRateMeter {
public:
    using clock = std::chrono::steady_clock;

    // Records a frame that arrived at t (t not earlier than the previous one).
    void frame(clock::time_point t);
    // Frames per second over the frames of the second before now: (n - 1) over the span
    // from the first to the last of the n frames, 1 for a single frame, 0 for none.
    double fps(clock::time_point now) const;

private:
    // Bounds the memory whatever the rate; past it the span shrinks, the rate stays right.
    static constexpr size_t max_frames = 4096;
    mutable std::mutex mx_;
    std::deque<clock::time_point> times_;  // guarded by mx_: arrival times, oldest first
};

} // namespace mirva
