#include "encode_cache.h"

namespace mirva::camserver {

std::shared_ptr<const EncodedFrame> EncodeCache::get(const std::string& location,
                                                     std::shared_ptr<const DeliveredImage> image,
                                                     const FrameFormat& format) {
    const int quality = format.encoding == Encoding::jpeg ? format.quality : 0;
    const Key key{location, image->sequence, static_cast<int>(format.encoding), quality, format.scale_permille};
    std::promise<std::shared_ptr<const EncodedFrame>> promise;
    Result result;
    bool mine = false;
    {
        std::lock_guard lk(mx_);
        auto it = entries_.find(key);
        if (it != entries_.end()) {
            result = it->second;
        } else {
            result = promise.get_future().share();
            entries_.emplace(key, result);
            order_.push_back(key);
            while (order_.size() > capacity_) {
                entries_.erase(order_.front());  // a waiter of it keeps its own copy of the result
                order_.pop_front();
            }
            ++encodings_;
            mine = true;
        }
    }
    if (mine) {
        try {
            promise.set_value(std::make_shared<const EncodedFrame>(encode_frame(std::move(image), format)));
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    }
    return result.get();
}

uint64_t EncodeCache::encodings() const {
    std::lock_guard lk(mx_);
    return encodings_;
}

} // namespace mirva::camserver
