// The camera base of a location: the camera interface that each camera back-end
// implements, the properties every camera location publishes, the image buffers and
// the host's threads around a camera (image output, TCP frame sender, recovery).
//
// Threads: the server's update thread runs the lifecycle calls; the back-end's camera
// thread produces frames and hands them over under out_mx; the image-output thread
// takes them; the TCP thread serves the raw frame stream; the recovery thread calls
// online() until the location is set up again. Fields shared between threads are
// atomics or are guarded by the lock named beside them.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <mirva/beam_stats.h>
#include <mirva/d_cam_param.h>
#include <mirva/d_fct.h>
#include <mirva/frame_rate_meter.h>
#include <mirva/eq_fct.h>
#include <mirva/img_header.h>
#include <mirva/pixel_store.h>

namespace mirva {
class ImageOutput;
class TcpFrameSender;
class RecoveryThread;

// The latest image a location delivered, as clients get it.
struct DeliveredImage {
    img_header header{};
    uint64_t sequence = 0;  // 1 for the first image a location delivered, then counting
    int width = 0, height = 0, bytes_per_pixel = 0;
    mirva::PixelStore pixels;     // width * height * bytes_per_pixel bytes
    BeamStats stats;              // filled once when the image is delivered
};

// An integer property whose accepted client writes run a hook (the software-trigger
// properties). The hook is set by the owner's constructor before any client can write
// and runs on the client's thread outside the property lock.
class HookedInt : public D_int {
public:
    using D_int::D_int;
    void set_hook(std::function<void(int)> hook) { hook_ = std::move(hook); }
    void set_persistent(bool persistent) { persistent_ = persistent; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    std::optional<std::string> stored_text() const override;

private:
    std::function<void(int)> hook_;  // set before registration is visible to clients
    bool persistent_ = true;         // set by the owner's constructor
};

// "STATS.THRESHOLD": 0 to 65535; other values are refused.
class StatsThreshold : public D_int {
public:
    using D_int::D_int;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
};

// "STATS.WINDOW": "x y w h" in sensor pixels or empty; other texts are refused.
class StatsWindow : public D_string {
public:
    using D_string::D_string;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
};
} // namespace mirva

class bcam_base : public EqFct {
public:
    bcam_base();
    ~bcam_base() override;

    // ---- Camera interface, in slot order; every camera back-end overrides these. ----
    virtual bool camera_select(bool how);
    virtual bool camera_init();
    virtual int is_trigger_mode_available();
    virtual int camera_start_acquisition();
    virtual int camera_stop_acquisition();
    virtual int camera_bkg_subst_on();
    virtual int camera_bkg_subst_off();
    virtual int camera_set_image_header(zenta_image_ext_frame_head* head);
    virtual bool camera_status(int* status);
    virtual int camera_is_image_ready(bool wait);
    virtual int camera_get_size(int* w, int* h);
    virtual int camera_get_ebit();
    virtual int camera_make_calibr();
    virtual char* cam_error_set();
    virtual int camera_save_data(img_header* header);
    virtual int camera_get_max_size();
    virtual int camera_start_thread();
    virtual int stop_camera_thread();
    virtual int camera_update_settings();
    virtual int find_cameras_of_type(int how);

    // ---- Services for the camera back-ends. ----
    void camera_unset_ready_flag();
    void camera_set_ready_flag();
    bool camera_is_ready() const { return ready_.load(); }
    void camera_add_to_bcam_list();
    void set_camera_status(const char* text);
    void camera_set_default_img_size();
    // Allocates image, output and copy buffers of w * h * bytes; true on failure.
    bool camera_create_all_buffers(int w, int h, int bytes);
    // Sets the camera parameters of the base to their start-up values.
    void init_param();
    bool camera_start_tcp_thread();              // true on failure
    bool camera_start_mirva_output_thread();     // true on failure
    void camera_stop_tcp_thread();
    void camera_stop_mirva_output_thread();
    // Starts the recovery thread unless one runs.
    void camera_start_recovery_thread();
    // Starts it unless the location is set up or a client switched it off (error code 4
    // while off line: the end of the shut-down a client asked for).
    void do_auto_recovery();
    void camera_set_ev_num(bool next);
    void camera_reset_ev_param();
    void camera_set_calib_image(int w, int h, int bytes_per_pixel, const uint8_t* image);
    void camera_store_calib_image();
    void camera_load_calib_image();
    int camera_write_image_to_file(int w, int h, int bytes_per_pixel, const uint8_t* image, const char* file_name);
    int camera_write_rois_to_file(const char* file_name);
    // 0 when the forced power must be re-asserted: "POWER" differs from power_value.
    int camera_update_auto_power();
    void fill_timing_spectrum(D_spectrum* spectrum, double ms);
    void interrupt_usr1(int sig) override;
    void post_init() override;

    // Clients: the latest delivered image (null until the first one).
    std::shared_ptr<const mirva::DeliveredImage> latest_image() const;
    // Clients: the user software trigger ("SWTRIGGER").
    void request_software_trigger();
    // Clients and the TCP sender: number of images delivered so far, and a wait for an
    // image newer than `seen` (null on timeout).
    uint64_t delivered_images() const;
    std::shared_ptr<const mirva::DeliveredImage> wait_for_image(uint64_t seen, std::chrono::milliseconds timeout) const;
    // Clients: `wake` runs on the image-output thread after each delivered image until it is
    // removed, and may still run once while its removal is under way; it must only hand the
    // news on (post work elsewhere). Returns the id that removes it.
    uint64_t add_image_listener(std::function<void()> wake);
    void remove_image_listener(uint64_t id);
    // The calibration image in store (null when none).
    std::shared_ptr<const mirva::DeliveredImage> calib_image() const;
    // The port the TCP sender listens on (0 when it does not listen).
    int tcp_listen_port() const;

    // Stops the recovery, image-output and TCP threads and joins them. LocationList::remove
    // calls it (through stop_host_threads) before a location is destroyed, as they call its
    // virtual operations; whoever destroys a location otherwise calls it first. The
    // destructor calls it again as a safety net.
    void camera_stop_host_threads();
    void stop_host_threads() override { camera_stop_host_threads(); }
    // Pause between two set-up attempts of the recovery thread (default 1 s).
    void set_recovery_period(std::chrono::milliseconds period);

    // Process-wide list of camera locations (camera_add_to_bcam_list).
    static std::vector<bcam_base*> bcam_list();

    // ---- Process-wide. ----
    static std::mutex img_loc_mx;         // group exclusion walk; conversion into the image buffer
    static EqFct* sender_loc;             // non-null when the server has a sender location
    static int fd_iptimer;                // > 0 when the server has an IP timer

    // ---- Properties of every camera location. ----
    D_gen_sts g_sts_;                     // "ONLINE"
    D_int err_code_;                      // "ERROR.CODE"
    D_string err_text_;                   // "ERROR.TEXT"
    D_string cam_status_;                 // "CAMERA.STATUS"
    D_int serial_;                        // "SERIAL" (negative: take the first free camera)
    D_int width_;                         // "WIDTH"
    D_int height_;                        // "HEIGHT"
    D_int ebits_;                         // "EBITS"
    D_int bpp_;                           // "BPP"
    D_cam_param_int bin_x_;               // "BINNING.X"
    D_cam_param_int bin_y_;               // "BINNING.Y"
    D_cam_param_int roi_x_start_;         // "ROI.X.START"
    D_cam_param_int roi_x_end_;           // "ROI.X.END"
    D_cam_param_int roi_y_start_;         // "ROI.Y.START"
    D_cam_param_int roi_y_end_;           // "ROI.Y.END"
    D_int start_;                         // "START"
    D_int group_;                         // "GROUP"
    D_int debug_;                         // "DEBUG"
    D_int frame_counter_;                 // "FRAME.COUNTER"
    D_int image_counter_;                 // "IMAGE.COUNTER"
    mirva::D_value<float> frame_rate_;    // "FRAME.RATE"
    D_int acq_state_;                     // "ACQ.STATE"
    D_int run_state_;                     // "RUN.STATE"
    D_cam_force_int power_;               // "POWER"
    D_cam_param_int trig_gate_;           // "TRIGGER.GATE"
    D_cam_param_int trig_gated_;          // "TRIGGER.GATED"
    mirva::HookedInt sw_trig_enable_;     // "SWTRIGGER.ENABLE" (mirrored in trig_enable)
    mirva::HookedInt sw_trig_;            // "SWTRIGGER" (a client write of 1 requests one trigger)
    D_cam_param_int calib_;               // "CALIBRATION"
    D_int calib_done_;                    // "CALIBRATION.DONE"
    D_cam_param_int bkg_sub_;             // "BKG.SUBTRACT"
    D_string bkg_status_;                 // "BKG.STATUS"
    D_int write_image_;                   // "WRITE.IMAGE"
    D_int write_roi_;                     // "WRITE.ROI"
    D_float scale_x_;                     // "SCALE.X"
    D_int scale_x_enable_;                // "SCALE.X.ENABLE"
    D_float scale_y_;                     // "SCALE.Y"
    D_int scale_y_enable_;                // "SCALE.Y.ENABLE"
    D_string interface_;                  // "INTERFACE" (address of the camera's network)
    D_int tcp_port_;                      // "TCP.PORT" (raw frame stream on 127.0.0.1; 0: off)
    // Beam statistics of the latest image (see beam_stats.h), set by the image-output thread;
    // read-only and not kept in the state file. Invalid while the window holds no signal.
    D_cam_param_double_const stats_cx_;   // "STATS.CX"
    D_cam_param_double_const stats_cy_;   // "STATS.CY"
    D_cam_param_double_const stats_sx_;   // "STATS.SX"
    D_cam_param_double_const stats_sy_;   // "STATS.SY"
    D_cam_param_double_const stats_peak_; // "STATS.PEAK"
    D_cam_param_int_const stats_peak_x_;  // "STATS.PEAK.X"
    D_cam_param_int_const stats_peak_y_;  // "STATS.PEAK.Y"
    D_cam_param_double_const stats_sum_;  // "STATS.SUM"
    D_cam_param_int_const stats_saturated_;  // "STATS.SATURATED"
    // How the statistics count: read by the image-output thread for every image.
    mirva::StatsThreshold stats_threshold_;  // "STATS.THRESHOLD"
    mirva::StatsWindow stats_window_;        // "STATS.WINDOW"

    // ---- Camera state by role. Written by the update thread unless noted. ----
    std::atomic<bool> setup_done{false};  // set-up flag
    std::atomic<int> setup_result{0};     // 0 none yet, 1 set up, 2 failed
    std::atomic<int> err_code{0};         // error code
    std::atomic<int> online_attempt{0};   // on-line attempt field
    std::atomic<int> img_width{0};        // image width (full sensor, unbinned)
    std::atomic<int> img_height{0};       // image height
    std::atomic<int> ebits{8};            // effective bits
    std::atomic<int> ebit_mask{0};        // effective-bit mask
    std::atomic<int> saved_start{0};      // saved start request (update thread and camera thread)
    std::atomic<int> missing_frames{0};   // missing-frame counter (update thread and camera thread)
    std::atomic<int> trigger_present{0};  // trigger-present flag
    std::atomic<bool> byte_swap{false};   // byte-swap flag
    std::atomic<int> power_value{0};      // forced power value
    std::atomic<int> run_mode{1};         // run-mode field: the run state a start sets
    std::mutex run_state_mx;              // run-state lock: guards run_state_ writes by start and stop
    std::atomic<int> trig_enable{0};      // trigger-enable field: user software trigger in use
    std::atomic<int> no_daq{0};           // no-DAQ flag
    std::atomic<bool> bkg_subtract{false};  // background-subtraction flag (camera thread)

    // Camera thread (the back-end's) and TCP thread handles: 0 when none.
    std::atomic<pthread_t> cam_thread{0};
    std::atomic<bool> cam_thread_stop{false};
    std::atomic<pthread_t> tcp_thread{0};
    std::atomic<bool> tcp_thread_stop{false};

    // Software trigger: the camera thread waits on sw_trig_cond for a client request.
    std::mutex sw_trig_mx;
    std::condition_variable sw_trig_cond;
    bool sw_trig_request = false;  // guarded by sw_trig_mx
    bool cycle_done = false;       // guarded by sw_trig_mx

    // Image buffers (camera_create_all_buffers); the image buffer belongs to the camera
    // thread (conversion under img_loc_mx), output and copy buffers to the hand-over.
    // The hand-over may exchange the image and output buffers (camera thread, under
    // out_mx), so neither pointer is kept across frames; all three have the same size.
    uint8_t* image_buffer = nullptr;
    int image_buffer_size = 0;
    uint8_t* output_buffer = nullptr;  // guarded by out_mx
    uint8_t* copy_buffer = nullptr;    // guarded by out_mx
    int grab_width = 0, grab_height = 0;  // camera thread

    // Hand-over to the image-output thread.
    std::mutex out_mx;
    std::condition_variable out_cond;
    bool out_free = true;      // guarded by out_mx: the output thread has taken the last image
    bool new_image = false;    // guarded by out_mx
    int out_width = 0, out_height = 0, out_extra = 0;  // guarded by out_mx
    // guarded by out_mx: bytes per pixel of the handed-over image, fixed at the hand-over
    // because the next frame may already change the effective bits (0: from those bits)
    int out_bpp = 0;

    // Image-output thread, under out_mx: the storage of the output buffer becomes `spare`'s,
    // which then holds the handed-over image of `used` bytes, and `spare`'s storage, grown to
    // the buffer size, the output buffer's. Saves the copy of every frame, whatever its size.
    // False, with nothing changed, when the output buffer lies in no store or `used` exceeds it.
    bool exchange_output_storage_(mirva::PixelStore& spare, size_t used);

    // Frames per second of the images delivered in the last second (any thread).
    double measured_fps() const { return fps_meter_.fps(mirva::FrameRateMeter::clock::now()); }

private:
    void deliver_(std::shared_ptr<mirva::DeliveredImage> image);  // image-output thread
    void publish_stats_(const mirva::BeamStats& stats);           // image-output thread
    mirva::FrameRateMeter fps_meter_;  // own lock; fed by deliver_
    std::string image_path_(const char* file_name, const char* default_name) const;

    std::atomic<bool> ready_{false};
    std::atomic<uint32_t> event_number_{0};
    std::atomic<int64_t> event_time_us_{0};  // time of the current event (0: none yet)
    // Backing store of the three buffers; replaced under img_loc_mx and out_mx, and the one
    // holding the output buffer also under out_mx alone (exchange_output_storage_).
    mirva::PixelStore image_store_, output_store_, copy_store_;

    // Threads of the host: started and stopped by the update thread or the server,
    // under threads_mx_.
    mutable std::mutex threads_mx_;
    std::unique_ptr<mirva::ImageOutput> output_;      // guarded by threads_mx_
    std::unique_ptr<mirva::TcpFrameSender> tcp_;      // guarded by threads_mx_
    std::unique_ptr<mirva::RecoveryThread> recovery_; // guarded by threads_mx_
    std::atomic<int64_t> recovery_period_ms_{1000};

    // Latest delivered image: written by the image-output thread, read by clients.
    mutable std::mutex latest_mx_;
    mutable std::condition_variable latest_cond_;
    std::shared_ptr<const mirva::DeliveredImage> latest_;  // guarded by latest_mx_
    uint64_t delivered_ = 0;                               // guarded by latest_mx_
    // Listeners to new images: added and removed by clients, called by the image-output thread.
    mutable std::mutex listeners_mx_;
    std::vector<std::pair<uint64_t, std::shared_ptr<const std::function<void()>>>> listeners_;  // guarded by listeners_mx_
    uint64_t next_listener_ = 1;                                                                // guarded by listeners_mx_

    // Calibration image store: camera thread (set, store, load) and clients (read).
    mutable std::mutex calib_mx_;
    std::shared_ptr<mirva::DeliveredImage> calib_store_;  // guarded by calib_mx_
    bool calib_new_ = false;                        // guarded by calib_mx_: set but not yet stored
    int64_t calib_file_mtime_ns_ = -1;              // guarded by calib_mx_: file the image in memory
    int64_t calib_file_size_ = -1;                  //   was stored to or loaded from
    static constexpr std::chrono::seconds kCalibFileCheckPeriod{1};
    std::optional<std::chrono::steady_clock::time_point> calib_checked_;  // guarded by calib_mx_

    friend class mirva::ImageOutput;
};
