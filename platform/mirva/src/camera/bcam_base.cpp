// The camera base of a location: properties, buffers, services and the host threads.
#include <mirva/bcam_base.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include <mirva/image_files.h>
#include <mirva/server.h>

#include "camera/host_threads.h"
#include "properties/client_value.h"

std::mutex bcam_base::img_loc_mx;
EqFct* bcam_base::sender_loc = nullptr;
int bcam_base::fd_iptimer = 0;

namespace {

// Largest single buffer: beyond any camera this host serves, and below INT_MAX.
constexpr int64_t kMaxBufferBytes = int64_t{256} << 20;

std::mutex bcam_list_mx;                // guards bcam_list_locations
std::vector<bcam_base*> bcam_list_locations;  // guarded by bcam_list_mx

int64_t now_us() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return int64_t{tv.tv_sec} * 1000000 + tv.tv_usec;
}

// Start-up value of a property that no stored value replaced.
void default_int(mirva::D_value<int>& p, int v) {
    if (!p.was_restored()) p.mirva::D_value<int>::set_value(v);
}
void default_param(D_cam_param_int& p, int v) {
    if (!p.was_restored()) {
        p.mirva::D_value<int>::set_value(v);
        p.reset_new_val();
    }
}

// A file's identity for the calibration store: modification time and size.
struct FileStamp {
    int64_t mtime_ns = -1;
    int64_t size = -1;
    bool operator==(const FileStamp&) const = default;
};
FileStamp stamp_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, static_cast<int64_t>(st.st_size)};
}

} // namespace

// ---------------------------------------------------------------- HookedInt

namespace mirva {

WriteResult HookedInt::client_write(const ClientValue& value) {
    WriteResult r = D_int::client_write(value);
    if (r.code == WriteResult::ok && hook_) hook_(this->value());
    return r;
}

std::optional<std::string> HookedInt::stored_text() const {
    if (!persistent_) return std::nullopt;
    return D_int::stored_text();
}

WriteResult StatsThreshold::client_write(const ClientValue& value) {
    // The limit holds for a number in any form a client sends (a numeric text included).
    std::string reason;
    const std::optional<double> v = detail::client_number(value, &reason);
    if (v && !(*v >= 0 && *v <= 65535)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", *v);
        return WriteResult::refuse(WriteResult::bad_value,
                                   name() + " " + text + " refused: a pixel value from 0 to 65535 is needed");
    }
    return D_int::client_write(value);
}

WriteResult StatsWindow::client_write(const ClientValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        StatsOptions options;
        std::string error;
        if (!parse_stats_window(*text, options, error)) return WriteResult::refuse(WriteResult::bad_value, error);
    }
    return D_string::client_write(value);
}

} // namespace mirva

// ---------------------------------------------------------------- construction

bcam_base::bcam_base()
    : g_sts_("ONLINE general status (1: on line)", this),
      err_code_("ERROR.CODE error code", this, mirva::not_persisted),
      err_text_("ERROR.TEXT error text", this, mirva::not_persisted),
      cam_status_("CAMERA.STATUS camera status", this, mirva::not_persisted),
      serial_("SERIAL serial number of the camera to book (0: none wanted; negative is refused)", this),
      width_("WIDTH image width", this),
      height_("HEIGHT image height", this),
      ebits_("EBITS effective bits per pixel", this, mirva::not_persisted),
      bpp_("BPP bits per pixel of the image buffers", this),
      bin_x_("BINNING.X horizontal binning", 1, 16, this),
      bin_y_("BINNING.Y vertical binning", 1, 16, this),
      roi_x_start_("ROI.X.START first column of the image region", 0, 65535, this),
      roi_x_end_("ROI.X.END last column of the image region", 0, 65535, this),
      roi_y_start_("ROI.Y.START first row of the image region", 0, 65535, this),
      roi_y_end_("ROI.Y.END last row of the image region", 0, 65535, this),
      start_("START acquisition start (1: acquire)", this),
      group_("GROUP camera group (0: none, negative: every group)", this),
      debug_("DEBUG debug level", this),
      frame_counter_("FRAME.COUNTER frames received", this, mirva::not_persisted),
      image_counter_("IMAGE.COUNTER images handed to the image output", this, mirva::not_persisted),
      frame_rate_("FRAME.RATE frames per second", this, mirva::not_persisted),
      acq_state_("ACQ.STATE acquisition state", this, mirva::not_persisted),
      run_state_("RUN.STATE run state of the stream", this, mirva::not_persisted),
      power_("POWER forced power", this),
      trig_gate_("TRIGGER.GATE trigger gate (1: triggered acquisition)", 0, 1, this),
      trig_gated_("TRIGGER.GATED gated trigger", 0, 1, this),
      sw_trig_enable_("SWTRIGGER.ENABLE user software trigger in use (1: frames wait for SWTRIGGER)", this),
      sw_trig_("SWTRIGGER write 1 to trigger one frame", this),
      calib_("CALIBRATION take a calibration (full-frame) image", 0, 1, this),
      calib_done_("CALIBRATION.DONE calibration image taken", this, mirva::not_persisted),
      bkg_sub_("BKG.SUBTRACT background subtraction (1: on)", 0, 1, this),
      bkg_status_("BKG.STATUS background subtraction status", this, mirva::not_persisted),
      write_image_("WRITE.IMAGE write every image to a file (1: on)", this),
      write_roi_("WRITE.ROI write the image region to a file (1: on)", this),
      scale_x_("SCALE.X horizontal scale", this),
      scale_x_enable_("SCALE.X.ENABLE horizontal scale in use", this),
      scale_y_("SCALE.Y vertical scale", this),
      scale_y_enable_("SCALE.Y.ENABLE vertical scale in use", this),
      interface_("INTERFACE address of the camera network interface", this),
      tcp_port_("TCP.PORT port of the raw frame stream on 127.0.0.1 (0: off)", this),
      stats_cx_("STATS.CX beam centroid x, sensor pixels", this),
      stats_cy_("STATS.CY beam centroid y, sensor pixels", this),
      stats_sx_("STATS.SX beam RMS width x, sensor pixels", this),
      stats_sy_("STATS.SY beam RMS width y, sensor pixels", this),
      stats_peak_("STATS.PEAK largest pixel value (luminance for RGB)", this),
      stats_peak_x_("STATS.PEAK.X x of the largest pixel, sensor pixels", this),
      stats_peak_y_("STATS.PEAK.Y y of the largest pixel, sensor pixels", this),
      stats_sum_("STATS.SUM sum of the pixel values above the threshold", this),
      stats_saturated_("STATS.SATURATED pixels at full scale", this),
      stats_threshold_("STATS.THRESHOLD pixel value the statistics subtract (0 to 65535)", this),
      stats_window_("STATS.WINDOW analysis window x y w h in sensor pixels (empty: the whole image)", this) {
    default_int(serial_, 0);
    default_int(ebits_, 8);
    default_int(bpp_, 8);
    default_param(bin_x_, 1);
    default_param(bin_y_, 1);
    if (!scale_x_.was_restored()) scale_x_.set_value(1.0f);
    if (!scale_y_.was_restored()) scale_y_.set_value(1.0f);
    if (!cam_status_.was_restored()) cam_status_.set_value("Not initialised");

    sw_trig_.set_persistent(false);  // a request is not a setting
    sw_trig_.set_hook([this](int v) {
        if (v == 1) request_software_trigger();
        sw_trig_.set_value(0);
    });
    trig_enable.store(sw_trig_enable_.value());
    sw_trig_enable_.set_hook([this](int v) {
        {
            std::lock_guard lk(sw_trig_mx);
            trig_enable.store(v);
        }
        sw_trig_cond.notify_all();  // a camera thread waiting for a trigger re-checks the enable
    });
}

bcam_base::~bcam_base() {
    camera_stop_host_threads();
    std::lock_guard lk(bcam_list_mx);
    bcam_list_locations.erase(std::remove(bcam_list_locations.begin(), bcam_list_locations.end(), this),
                              bcam_list_locations.end());
}

// ---------------------------------------------------------------- camera interface defaults

bool bcam_base::camera_select(bool) { return true; }
bool bcam_base::camera_init() { return true; }
int bcam_base::is_trigger_mode_available() { return 0; }
int bcam_base::camera_start_acquisition() { return 1; }
int bcam_base::camera_stop_acquisition() { return 0; }
int bcam_base::camera_bkg_subst_on() { bkg_subtract.store(true); return 0; }
int bcam_base::camera_bkg_subst_off() { bkg_subtract.store(false); return 0; }
int bcam_base::camera_set_image_header(zenta_image_ext_frame_head* head) { return head ? 0 : 1; }
bool bcam_base::camera_status(int*) { return true; }
int bcam_base::camera_is_image_ready(bool) { return 0; }
int bcam_base::camera_get_size(int* w, int* h) {
    if (!w || !h) return 1;
    *w = img_width.load();
    *h = img_height.load();
    return 0;
}
int bcam_base::camera_get_ebit() { return ebits.load(); }
int bcam_base::camera_make_calibr() { return 1; }
char* bcam_base::cam_error_set() {
    // The caller gets a text that stays valid until its next call on this thread.
    static thread_local std::string text;
    text = err_text_.value();
    return text.data();
}
int bcam_base::camera_save_data(img_header*) { return 1; }
int bcam_base::camera_get_max_size() { return 0; }
int bcam_base::camera_start_thread() { return 1; }
int bcam_base::stop_camera_thread() { return 0; }
int bcam_base::camera_update_settings() { return 0; }
int bcam_base::find_cameras_of_type(int) { return 0; }

// ---------------------------------------------------------------- services

void bcam_base::camera_unset_ready_flag() { ready_.store(false); }
void bcam_base::camera_set_ready_flag() { ready_.store(true); }

void bcam_base::camera_add_to_bcam_list() {
    std::lock_guard lk(bcam_list_mx);
    if (std::find(bcam_list_locations.begin(), bcam_list_locations.end(), this) == bcam_list_locations.end()) {
        bcam_list_locations.push_back(this);
    }
}

std::vector<bcam_base*> bcam_base::bcam_list() {
    std::lock_guard lk(bcam_list_mx);
    return bcam_list_locations;
}

void bcam_base::set_camera_status(const char* text) { cam_status_.set_value(text); }

void bcam_base::camera_set_default_img_size() {
    int w = width_.value(), h = height_.value();
    img_width.store(w > 0 ? w : 640);
    img_height.store(h > 0 ? h : 480);
}

bool bcam_base::camera_create_all_buffers(int w, int h, int bytes) {
    if (w <= 0 || h <= 0 || bytes <= 0) {
        printftostderr(name(), "camera_create_all_buffers(): invalid size %dx%d, %d bytes per pixel", w, h, bytes);
        return true;
    }
    const int64_t size = int64_t{w} * int64_t{h} * int64_t{bytes};
    if (size > kMaxBufferBytes) {
        printftostderr(name(), "camera_create_all_buffers(): %dx%dx%d is %lld bytes, more than the limit of %lld",
                       w, h, bytes, static_cast<long long>(size), static_cast<long long>(kMaxBufferBytes));
        return true;
    }
    const auto n = static_cast<size_t>(size);
    mirva::PixelStore image, output, copy;
    try {
        image.resize(n, 0);
        output.resize(n, 0);
        copy.resize(n, 0);
    } catch (const std::bad_alloc&) {
        printftostderr(name(), "camera_create_all_buffers(): cannot allocate 3 x %lld bytes", static_cast<long long>(size));
        return true;
    }
    // The camera thread converts under img_loc_mx; the output thread reads under out_mx.
    std::lock_guard conv(img_loc_mx);
    std::lock_guard out(out_mx);
    image_store_ = std::move(image);
    output_store_ = std::move(output);
    copy_store_ = std::move(copy);
    image_buffer = image_store_.data();
    output_buffer = output_store_.data();
    copy_buffer = copy_store_.data();
    image_buffer_size = static_cast<int>(size);
    out_free = true;
    new_image = false;
    return false;
}

bool bcam_base::exchange_output_storage_(mirva::PixelStore& spare, size_t used) {
    // The camera thread exchanges the image and output buffers at each hand-over: the output
    // buffer lies in either of their stores.
    mirva::PixelStore* store = nullptr;
    for (mirva::PixelStore* s : {&image_store_, &output_store_})
        if (!s->empty() && s->data() == output_buffer) store = s;
    if (!store || used > store->size()) return false;
    if (spare.capacity() < store->size())
        spare.clear();  // grows without keeping the old bytes
    spare.resize(store->size());  // no writes: the bytes are the next conversion's to fill
    std::swap(*store, spare);
    output_buffer = store->data();
    spare.resize(used);  // keeps its capacity for the next exchange
    return true;
}

void bcam_base::init_param() {
    for (D_cam_param_int* p : {&bin_x_, &bin_y_, &roi_x_start_, &roi_x_end_, &roi_y_start_, &roi_y_end_,
                               &trig_gate_, &trig_gated_, &calib_, &bkg_sub_}) {
        p->reset_new_val();
    }
    ready_.store(false);
}

void bcam_base::camera_set_ev_num(bool next) {
    if (next) event_number_.fetch_add(1);
    event_time_us_.store(now_us());
}

void bcam_base::camera_reset_ev_param() { event_time_us_.store(0); }

void bcam_base::fill_timing_spectrum(D_spectrum* spectrum, double ms) {
    if (spectrum) spectrum->fill(static_cast<float>(ms));
}

void bcam_base::interrupt_usr1(int) { image_counter_.set_value(image_counter_.value() + 1); }

void bcam_base::post_init() { camera_load_calib_image(); }

// POWER is forced to the power value: 0 (re-assert) whenever a client or anything else
// changed it, 1 when it already holds the power value.
int bcam_base::camera_update_auto_power() { return power_.value() != power_value.load() ? 0 : 1; }

void bcam_base::request_software_trigger() {
    {
        std::lock_guard lk(sw_trig_mx);
        sw_trig_request = true;
    }
    sw_trig_cond.notify_all();
}

// ---------------------------------------------------------------- latest image

void bcam_base::publish_stats_(const mirva::BeamStats& st) {
    stats_cx_.set_value(st.cx);
    stats_cy_.set_value(st.cy);
    stats_sx_.set_value(st.sx);
    stats_sy_.set_value(st.sy);
    stats_peak_.set_value(st.peak);
    stats_peak_x_.set_value(static_cast<int>(st.peak_x));
    stats_peak_y_.set_value(static_cast<int>(st.peak_y));
    stats_sum_.set_value(st.sum);
    stats_saturated_.set_value(static_cast<int>(std::min<uint32_t>(st.saturated, INT_MAX)));
    // Peak, sum and saturation hold for any image; centroid and widths need signal.
    for (D_fct* p : {static_cast<D_fct*>(&stats_peak_), static_cast<D_fct*>(&stats_peak_x_),
                     static_cast<D_fct*>(&stats_peak_y_), static_cast<D_fct*>(&stats_sum_),
                     static_cast<D_fct*>(&stats_saturated_)})
        p->set_valid(true);
    for (D_fct* p : {&stats_cx_, &stats_cy_, &stats_sx_, &stats_sy_}) p->set_valid(st.valid);
}

void bcam_base::deliver_(std::shared_ptr<mirva::DeliveredImage> image) {
    fps_meter_.frame(mirva::FrameRateMeter::clock::now());
    {
        std::lock_guard lk(latest_mx_);
        image->sequence = ++delivered_;
        latest_ = std::move(image);
    }
    latest_cond_.notify_all();
    std::vector<std::shared_ptr<const std::function<void()>>> wake;
    {
        std::lock_guard lk(listeners_mx_);
        wake.reserve(listeners_.size());
        for (const auto& [id, listener] : listeners_) wake.push_back(listener);
    }
    for (const auto& listener : wake) (*listener)();
}

uint64_t bcam_base::add_image_listener(std::function<void()> wake) {
    std::lock_guard lk(listeners_mx_);
    const uint64_t id = next_listener_++;
    listeners_.emplace_back(id, std::make_shared<const std::function<void()>>(std::move(wake)));
    return id;
}

void bcam_base::remove_image_listener(uint64_t id) {
    std::lock_guard lk(listeners_mx_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

std::shared_ptr<const mirva::DeliveredImage> bcam_base::latest_image() const {
    std::lock_guard lk(latest_mx_);
    return latest_;
}

uint64_t bcam_base::delivered_images() const {
    std::lock_guard lk(latest_mx_);
    return delivered_;
}

std::shared_ptr<const mirva::DeliveredImage> bcam_base::wait_for_image(uint64_t seen, std::chrono::milliseconds timeout) const {
    std::unique_lock lk(latest_mx_);
    if (!latest_cond_.wait_for(lk, timeout, [&] { return delivered_ > seen && latest_; })) return nullptr;
    return latest_;
}

// ---------------------------------------------------------------- threads

bool bcam_base::camera_start_mirva_output_thread() {
    std::lock_guard lk(threads_mx_);
    if (output_) return false;
    try {
        output_ = std::make_unique<mirva::ImageOutput>(*this);
    } catch (const std::exception& e) {
        printftostderr(name(), "cannot start the image-output thread: %s", e.what());
        return true;
    }
    return false;
}

void bcam_base::camera_stop_mirva_output_thread() {
    std::unique_ptr<mirva::ImageOutput> old;
    {
        std::lock_guard lk(threads_mx_);
        old = std::move(output_);
    }
    old.reset();  // joins outside threads_mx_
}

bool bcam_base::camera_start_tcp_thread() {
    std::unique_ptr<mirva::TcpFrameSender> finished;
    std::lock_guard lk(threads_mx_);
    if (tcp_ && tcp_->running()) return false;
    finished = std::move(tcp_);
    finished.reset();  // ended by itself (tcp_thread_stop): join before a new start
    tcp_thread_stop.store(false);
    try {
        tcp_ = std::make_unique<mirva::TcpFrameSender>(*this);
    } catch (const std::exception& e) {
        tcp_thread.store(0);
        printftostderr(name(), "cannot start the TCP thread: %s", e.what());
        return true;
    }
    tcp_thread.store(tcp_->native_handle());
    return false;
}

void bcam_base::camera_stop_tcp_thread() {
    std::unique_ptr<mirva::TcpFrameSender> old;
    {
        std::lock_guard lk(threads_mx_);
        old = std::move(tcp_);
        tcp_thread_stop.store(true);
    }
    old.reset();
    tcp_thread.store(0);
}

int bcam_base::tcp_listen_port() const {
    std::lock_guard lk(threads_mx_);
    return tcp_ ? tcp_->listen_port() : 0;
}

void bcam_base::camera_start_recovery_thread() {
    std::unique_ptr<mirva::RecoveryThread> finished;
    std::lock_guard lk(threads_mx_);
    if (recovery_ && recovery_->running()) return;
    finished = std::move(recovery_);
    // A finished thread only needs its join, which cannot block.
    finished.reset();
    try {
        recovery_ = std::make_unique<mirva::RecoveryThread>(*this, std::chrono::milliseconds(recovery_period_ms_.load()));
    } catch (const std::exception& e) {
        printftostderr(name(), "cannot start the recovery thread: %s", e.what());
    }
}

// Error code 4 with the location off line is the end of a shut-down that a client asked
// for (ONLINE := 0): that location stays off until a client switches it on again.
void bcam_base::do_auto_recovery() {
    if (setup_done.load()) return;
    if (g_sts_.switched_off_by_client()) return;
    camera_start_recovery_thread();
}

void bcam_base::set_recovery_period(std::chrono::milliseconds period) { recovery_period_ms_.store(period.count()); }

void bcam_base::camera_stop_host_threads() {
    std::unique_ptr<mirva::RecoveryThread> recovery;
    std::unique_ptr<mirva::ImageOutput> output;
    std::unique_ptr<mirva::TcpFrameSender> tcp;
    {
        std::lock_guard lk(threads_mx_);
        recovery = std::move(recovery_);
        output = std::move(output_);
        tcp = std::move(tcp_);
        tcp_thread_stop.store(true);
    }
    recovery.reset();
    output.reset();
    tcp.reset();
    tcp_thread.store(0);
}

// ---------------------------------------------------------------- files

std::string bcam_base::image_path_(const char* file_name, const char* default_name) const {
    std::string file = (file_name && *file_name) ? file_name : default_name;
    if (!file.empty() && file[0] == '/') return file;
    return mirva::image_directory() + "/" + file;
}

int bcam_base::camera_write_image_to_file(int w, int h, int bytes_per_pixel, const uint8_t* image, const char* file_name) {
    std::string def = std::string(name()) + "_" + std::to_string(frame_counter_.value()) + ".png";
    std::string path = image_path_(file_name, def.c_str());
    std::string err = mirva::write_png(path, w, h, bytes_per_pixel, image);
    if (!err.empty()) {
        printftostderr(name(), "camera_write_image_to_file(): %s", err.c_str());
        return 1;
    }
    return 0;
}

int bcam_base::camera_write_rois_to_file(const char* file_name) {
    std::string def = std::string(name()) + "_" + std::to_string(frame_counter_.value()) + ".roi";
    std::string path = image_path_(file_name, def.c_str());
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        printftostderr(name(), "camera_write_rois_to_file(): cannot create %s: %s", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(f, "LOCATION %s\nFRAME %d\n", name(), frame_counter_.value());
    for (const D_cam_param_int* p : {&bin_x_, &bin_y_, &roi_x_start_, &roi_x_end_, &roi_y_start_, &roi_y_end_}) {
        std::fprintf(f, "%s %d\n", p->name().c_str(), p->value());
    }
    bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0) bad = true;
    if (bad) {
        printftostderr(name(), "camera_write_rois_to_file(): cannot write %s", path.c_str());
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- calibration image

void bcam_base::camera_set_calib_image(int w, int h, int bytes_per_pixel, const uint8_t* image) {
    if (!image || w <= 0 || h <= 0 || bytes_per_pixel <= 0) return;
    const int64_t size = int64_t{w} * h * bytes_per_pixel;
    if (size > kMaxBufferBytes) return;
    auto calib = std::make_shared<mirva::DeliveredImage>();
    calib->width = w;
    calib->height = h;
    calib->bytes_per_pixel = bytes_per_pixel;
    calib->pixels.assign(image, image + size);
    calib->header.img_prm.w = w;
    calib->header.img_prm.h = h;
    calib->header.img_prm.bpp = bytes_per_pixel;
    std::lock_guard lk(calib_mx_);
    calib_store_ = std::move(calib);
    calib_new_ = true;
    calib_file_mtime_ns_ = calib_file_size_ = -1;
}

void bcam_base::camera_store_calib_image() {
    std::shared_ptr<mirva::DeliveredImage> calib;
    {
        std::lock_guard lk(calib_mx_);
        if (!calib_new_ || !calib_store_) return;
        calib = calib_store_;
        calib_new_ = false;
    }
    std::string path = image_path_(nullptr, (std::string(name()) + "_calib.png").c_str());
    std::string err = mirva::write_png(path, calib->width, calib->height, calib->bytes_per_pixel, calib->pixels.data());
    if (!err.empty()) {
        printftostderr(name(), "camera_store_calib_image(): %s", err.c_str());
        return;
    }
    FileStamp st = stamp_of(path);
    std::lock_guard lk(calib_mx_);
    if (calib_store_ == calib) {
        calib_file_mtime_ns_ = st.mtime_ns;
        calib_file_size_ = st.size;
    }
}

// Loads the stored calibration image unless the one in memory is that file already
// (checked by modification time and size). The camera thread calls this for every frame,
// so the file is looked at no more than once per second.
void bcam_base::camera_load_calib_image() {
    {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lk(calib_mx_);
        if (calib_checked_ && now - *calib_checked_ < kCalibFileCheckPeriod) return;
        calib_checked_ = now;
    }
    std::string path = image_path_(nullptr, (std::string(name()) + "_calib.png").c_str());
    FileStamp st = stamp_of(path);
    if (st.size < 0) return;
    {
        std::lock_guard lk(calib_mx_);
        if (calib_new_) return;  // a newer image waits to be stored
        if (calib_store_ && calib_file_mtime_ns_ == st.mtime_ns && calib_file_size_ == st.size) return;
    }
    mirva::PngImage png;
    std::string err = mirva::read_png(path, &png);
    if (!err.empty()) {
        printftostderr(name(), "camera_load_calib_image(): %s", err.c_str());
        return;
    }
    auto calib = std::make_shared<mirva::DeliveredImage>();
    calib->width = png.width;
    calib->height = png.height;
    calib->bytes_per_pixel = png.bytes_per_pixel;
    calib->pixels.assign(png.pixels.begin(), png.pixels.end());
    calib->header.img_prm.w = png.width;
    calib->header.img_prm.h = png.height;
    calib->header.img_prm.bpp = png.bytes_per_pixel;
    std::lock_guard lk(calib_mx_);
    if (calib_new_) return;
    calib_store_ = std::move(calib);
    calib_file_mtime_ns_ = st.mtime_ns;
    calib_file_size_ = st.size;
}

std::shared_ptr<const mirva::DeliveredImage> bcam_base::calib_image() const {
    std::lock_guard lk(calib_mx_);
    return calib_store_;
}
