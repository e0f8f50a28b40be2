// The last few encoded images, so that each image is encoded once per format, quality and
// scale however many clients watch it (live sockets, streams, /image).
//
// Threads: any; a short lock (mx_) guards the table. The first caller of a key encodes
// on its own thread outside the lock, and later callers of that key wait for its result.
#pragma once

#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "frame_encoding.h"

namespace mirva::camserver {

class EncodeCache {
public:
    explicit EncodeCache(size_t capacity = 16) : capacity_(capacity) {}

    // image of location encoded in format; throws what encode_frame throws.
    std::shared_ptr<const EncodedFrame> get(const std::string& location, std::shared_ptr<const DeliveredImage> image,
                                            const FrameFormat& format);

    // Encodings made so far (not taken from the table); for tests.
    uint64_t encodings() const;

private:
    using Key = std::tuple<std::string, uint64_t, int, int, int>;  // location, sequence, encoding, quality, scale
    using Result = std::shared_future<std::shared_ptr<const EncodedFrame>>;

    const size_t capacity_;
    mutable std::mutex mx_;
    std::map<Key, Result> entries_;  // guarded by mx_
    std::deque<Key> order_;          // guarded by mx_; oldest first
    uint64_t encodings_ = 0;         // guarded by mx_
};

} // namespace mirva::camserver
