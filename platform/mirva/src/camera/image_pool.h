// Delivered images whose pixel storage is used again: a location delivers one image per
// frame, and a fresh allocation of a few megabytes per frame costs the page faults and the
// zeroing of every page, more than the copy of the pixels itself. An image taken from the
// pool goes back to it when its last holder (clients, encoders, the latest-image slot)
// lets it go; the pool keeps a few and frees the rest.
//
// Threads: take() on the image-output thread; images return from any thread. The pool may
// end before its images: those are then freed.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <mirva/bcam_base.h>

namespace mirva {

class ImagePool : public std::enable_shared_from_this<ImagePool> {
public:
    static std::shared_ptr<ImagePool> create(size_t keep) { return std::shared_ptr<ImagePool>(new ImagePool(keep)); }

    // An image with a zero header whose pixel vector may still hold an earlier image's
    // bytes (and size): the taker gives it its own.
    std::shared_ptr<DeliveredImage> take();

    size_t spare() const;  // images waiting to be used again (tests)

private:
    explicit ImagePool(size_t keep) : keep_(keep) {}
    void give_back(std::unique_ptr<DeliveredImage> image);

    const size_t keep_;
    mutable std::mutex mx_;
    std::vector<std::unique_ptr<DeliveredImage>> spare_;  // guarded by mx_
};

} // namespace mirva
