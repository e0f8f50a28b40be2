#include "image_signal.h"

#include <boost/asio/post.hpp>

#include <mirva/bcam_base.h>

namespace mirva::camserver {

namespace net = boost::asio;

ImageSignal::ImageSignal(const net::any_io_executor& strand, bcam_base* camera)
    : timer_(std::make_shared<net::steady_timer>(strand)), camera_(camera) {
    if (!camera_)
        return;
    std::weak_ptr<net::steady_timer> timer = timer_;
    listener_ = camera_->add_image_listener([strand, timer] {
        net::post(strand, [timer] {
            if (auto alive = timer.lock())
                alive->cancel();  // ends the pending wait early
        });
    });
}

ImageSignal::~ImageSignal() {
    if (camera_)
        camera_->remove_image_listener(listener_);
}

} // namespace mirva::camserver
