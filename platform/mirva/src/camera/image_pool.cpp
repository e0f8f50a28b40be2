#include "camera/image_pool.h"

#include <utility>

namespace mirva {

std::shared_ptr<DeliveredImage> ImagePool::take() {
    std::unique_ptr<DeliveredImage> image;
    {
        std::lock_guard lk(mx_);
        if (!spare_.empty()) {
            image = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (image) {
        PixelStore pixels = std::move(image->pixels);
        *image = DeliveredImage{};
        image->pixels = std::move(pixels);
    } else {
        image = std::make_unique<DeliveredImage>();
    }
    // The deleter runs on the thread that lets go of the last reference.
    std::weak_ptr<ImagePool> pool = weak_from_this();
    return std::shared_ptr<DeliveredImage>(image.release(), [pool](DeliveredImage* p) {
        std::unique_ptr<DeliveredImage> owned(p);
        if (auto alive = pool.lock())
            alive->give_back(std::move(owned));
    });
}

size_t ImagePool::spare() const {
    std::lock_guard lk(mx_);
    return spare_.size();
}

void ImagePool::give_back(std::unique_ptr<DeliveredImage> image) {
    std::lock_guard lk(mx_);
    if (spare_.size() < keep_)
        spare_.push_back(std::move(image));
}

} // namespace mirva
