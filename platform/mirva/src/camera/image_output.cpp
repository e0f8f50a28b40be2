// Image-output thread: takes each image handed over by the camera thread.
#include <pthread.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <string>

#include <mirva/bcam_base.h>

#include "camera/host_threads.h"
#include "camera/image_pool.h"

namespace mirva {

int bytes_for_bits(int bits) {
    if (bits <= 8) return 1;
    if (bits <= 16) return 2;
    if (bits <= 24) return 3;
    if (bits <= 32) return 4;
    return 1;
}

namespace {

// Images kept for use again: the latest one, one or two that clients or encoders still
// hold, and the one being filled.
constexpr size_t kSpareImages = 4;

} // namespace

ImageOutput::ImageOutput(bcam_base& cam) : cam_(cam), pool_(ImagePool::create(kSpareImages)) {
    thread_ = std::thread([this] { run(); });
}

ImageOutput::~ImageOutput() { stop(); }

void ImageOutput::stop() {
    stop_.store(true);
    { std::lock_guard lk(cam_.out_mx); }  // a waiter either sees stop_ or gets the notification
    cam_.out_cond.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ImageOutput::run() {
    pthread_setname_np(pthread_self(), "image_output");  // shown by top -H and per-thread CPU figures
    while (!stop_.load()) {
        auto image = pool_->take();
        {
            std::unique_lock lk(cam_.out_mx);
            cam_.out_cond.wait_for(lk, std::chrono::milliseconds(200), [&] { return cam_.new_image || stop_.load(); });
            if (stop_.load()) break;
            if (!cam_.new_image) continue;
            int bpp = cam_.out_bpp > 0 ? cam_.out_bpp : bytes_for_bits(cam_.ebits_.value());
            int w = cam_.out_width > 0 ? cam_.out_width : 0;
            int h = cam_.out_height > 0 ? cam_.out_height : 0;
            size_t n = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(bpp);
            // Never read past the buffer, whatever the hand-over size says.
            if (!cam_.output_buffer || n > static_cast<size_t>(cam_.image_buffer_size)) {
                n = 0;
                w = h = 0;
            }
            image->width = w;
            image->height = h;
            image->bytes_per_pixel = bpp;
            // The output buffer's storage changes places with the image's, so the frame is
            // not copied.
            if (n == 0 || !cam_.exchange_output_storage_(image->pixels, n))
                image->pixels.assign(cam_.output_buffer, cam_.output_buffer + n);
            cam_.out_free = true;
            cam_.new_image = false;
        }

        img_header& hd = image->header;
        timeval now{};
        gettimeofday(&now, nullptr);
        int64_t ev_us = cam_.event_time_us_.load();
        hd.trigger = static_cast<uint32_t>(cam_.trig_gate_.value());
        hd.img_prm.w = image->width;
        hd.img_prm.h = image->height;
        hd.img_prm.bpp = image->bytes_per_pixel;
        hd.img_prm.compr = 0;
        hd.img_prm.sec = static_cast<uint32_t>(ev_us > 0 ? ev_us / 1000000 : now.tv_sec);
        hd.img_prm.usec = static_cast<uint32_t>(ev_us > 0 ? ev_us % 1000000 : now.tv_usec);
        hd.img_prm.frame = static_cast<uint32_t>(cam_.frame_counter_.value());
        hd.img_prm.event_nm = cam_.event_number_.load();
        hd.img_prm.error = static_cast<uint32_t>(cam_.err_code.load());

        zenta_image_ext_frame_head& ext = hd.img_ext_prm;
        ext.width = image->width;
        ext.height = image->height;
        ext.aoi_width = image->width;
        ext.aoi_height = image->height;
        ext.x_start = cam_.roi_x_start_.value();
        ext.y_start = cam_.roi_y_start_.value();
        ext.hbin = cam_.bin_x_.value();
        ext.vbin = cam_.bin_y_.value();
        ext.bpp = image->bytes_per_pixel;
        ext.ebitpp = cam_.ebits_.value();
        ext.frame = hd.img_prm.frame;
        ext.event = hd.img_prm.event_nm;
        ext.scale_x = cam_.scale_x_enable_.value() ? cam_.scale_x_.value() : 1.0f;
        ext.scale_y = cam_.scale_y_enable_.value() ? cam_.scale_y_.value() : 1.0f;
        ext.length = static_cast<int32_t>(image->pixels.size());
        // The back-end adds what it knows of the camera (formats, bit depth).
        cam_.camera_set_image_header(&ext);
        ext.length = static_cast<int32_t>(image->pixels.size());

        // Once per image, here and not in the camera thread: its timing stays the camera's.
        StatsImage view;
        view.pixels = image->pixels.data();
        view.width = image->width;
        view.height = image->height;
        view.bytes_per_pixel = image->bytes_per_pixel;
        view.effective_bits = ext.ebitpp;
        view.x_start = ext.x_start;
        view.y_start = ext.y_start;
        view.hbin = std::max(1, ext.hbin);
        view.vbin = std::max(1, ext.vbin);
        StatsOptions options;
        options.threshold = cam_.stats_threshold_.value();
        std::string window_error;
        if (!parse_stats_window(cam_.stats_window_.value(), options, window_error))
            options = StatsOptions{options.threshold};  // a stored text that no longer parses: the whole image
        image->stats = compute_beam_stats(view, options);
        cam_.publish_stats_(image->stats);

        cam_.deliver_(std::move(image));
    }
}

} // namespace mirva
