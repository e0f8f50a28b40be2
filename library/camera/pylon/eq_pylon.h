// EqFctPylon: a camera location of the MIRVA camera server that drives one GigE
// camera through the Pylon SDK and publishes its GenICam features as properties.
//
// Threads: the host's update thread runs the lifecycle calls, initialisation and the
// feature-file save and load; the camera thread "pylon_thread" (one per location)
// starts and stops acquisition, delivers frames and runs the settings passes; the
// SDK's callback thread runs the device-removal callback.
// Locks: cbk_mx guards the write pass, acquisition start/stop/started test and the
// node-change callback, and also the limit pass, the change test, the feature-file save
// and load (with its read-back) and the camera thread's removal of the features and
// release of the camera; clup_mx guards the camera clean-up against the effective-bits
// read; registry_mx guards the process-wide camera registry (devices, booked,
// n_cameras, cameras), since lifecycle calls of several locations may run at once.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <mirva/bcam_base.h>
#include <mirva/d_cam_param.h>
#include <mirva/d_fct.h>
#include <pylon/PylonIncludes.h>
#include <pylon/gige/BaslerGigECamera.h>

#include "pylon_grabber.h"
#include "pylon_prop.h"

// Equipment-function type code of this camera back-end.
constexpr int CODE_PYLON = 812;

class EqFctPylon;

// One address of a host network interface, as the packet-size choice walks them.
struct pylon_net_if {
    std::string name;          // interface name, at most 16 characters
    int family = -1;           // address family (AF_INET, AF_INET6, ...); -1: entry without address
    bool numeric_ok = false;   // the address could be turned into numeric text
    std::string address;       // numeric address text (for AF_INET and AF_INET6)
};

// Where camera_set_packet_size reads the host's interfaces from: by default the system
// (getifaddrs, getnameinfo, SIOCGIFMTU on an IPv4 datagram socket); tests put a fake
// list here. Only local interface data is read; nothing is sent.
struct pylon_net_source {
    enum mtu_result { mtu_ok, mtu_socket_failed, mtu_request_failed };
    // False when the interface list cannot be read; entries in the system's order.
    std::function<bool(std::vector<pylon_net_if>& out)> list_addresses;
    // MTU of the named interface.
    std::function<mtu_result(const std::string& name, int& mtu)> read_mtu;
    static pylon_net_source system();
};

// Holder of the device-removal callback of one opened camera.
class AClass {
public:
    EqFctPylon* cam = nullptr;
    void RemovalCallbackMemberFunction(Pylon::IPylonDevice* pDevice);
};

class EqFctPylon : public bcam_base {
public:
    EqFctPylon();
    ~EqFctPylon() override;

    // EqFct lifecycle.
    int fct_code() override;
    void interrupt_usr1(int sig) override;
    void update() override;
    void online() override;
    void init() override;
    void post_init() override;
    void cancel() override;

    // Camera interface of bcam_base.
    bool camera_select(bool how) override;
    bool camera_init() override;
    int is_trigger_mode_available() override;
    int camera_start_acquisition() override;
    int camera_stop_acquisition() override;
    int camera_bkg_subst_on() override;
    int camera_bkg_subst_off() override;
    int camera_set_image_header(zenta_image_ext_frame_head* head) override;
    bool camera_status(int* status) override;
    int camera_is_image_ready(bool wait) override;
    int camera_get_size(int* w, int* h) override;
    int camera_get_ebit() override;
    int camera_make_calibr() override;
    char* cam_error_set() override;
    int camera_save_data(img_header* header) override;
    int camera_get_max_size() override;
    int camera_start_thread() override;
    int stop_camera_thread() override;
    int camera_update_settings() override;
    int find_cameras_of_type(int how) override;
    char* cam_error_set(int code);

    // Discovery, selection and booking.
    static void camera_print_cameras();
    int camera_update_boooking();
    int camera_get_model(int* model);
    int camera_get_model(char* model);

    // Initialisation, reset and clean-up.
    void camera_reset();
    void camera_cleanup(bool full);
    int camera_set_packet_size();
    void camera_update_trigger_flags();

    // Features of the older standard naming that a camera of today's naming lacks: what
    // stands in for them (eq_pylon_stand_ins.cpp). Camera thread and update thread, with
    // an open camera.
    // The largest image along one axis after binning, and the feature that gave it:
    // WidthMax (HeightMax); without it the maximum of Width (Height), or the value of a
    // Width that cannot be set. LogicalErrorException naming WidthMax (HeightMax) when
    // the camera has neither.
    int64_t camera_largest_size(bool horizontal, const char** feature = nullptr);
    // One geometry feature of the calibration and of the restore after it: a verified
    // write of `value`, held to the feature's limits and increment, when the camera lets
    // the feature be written now (a value it had to change is printed). A camera with a
    // fixed image size (a read-only Width or Height) keeps it while the rest is set.
    // 0 = written, 1 = left as it is. Camera thread.
    int camera_set_geometry(Pylon::CIntegerParameter& feature, int64_t value);
    // One line per feature that the set-up and the acquisition start use and the camera
    // lacks: what stands in for it, or that there is nothing to set.
    void camera_print_stand_ins();

    // Camera thread.
    int stop_tcp_thread();
    int camera_update_settings_local(bool full);
    // Waits until the camera thread has cleared its handle: true when it has (or there
    // was none). max_seconds < 0 waits without bound; the handle is re-read at least
    // once per second.
    bool wait_camera_thread_end(int max_seconds);
    // Clears the camera-thread handle; the thread's last touch of the location.
    void camera_thread_finished();

    // Acquisition.
    bool camera_is_acquisition_started();
    bool camera_is_acq_feature_changed();
    int camera_pylon_format_to_daq_format(Pylon::EPixelType type);

    // Feature tree and feature file.
    bool camera_create_features();
    bool camera_create_feature(GenApi::CCategoryPtr category, const GenApi::CNodePtr& node);
    bool camera_remove_features();
    bool camera_remove_root_properties();
    int camera_update_features(int mode);
    void camera_update_limits();
    void camera_readback_all_features();
    pylon_prop* camera_find_feature_by_name(const char* prop);
    char* camera_get_feature_by_name(const char* prop, bool mode);
    bool camera_reset_feature_value(const char* prop);
    void camera_staticcallback(GenApi::INode* pNode);
    bool camera_save_features();
    bool camera_load_features();

    // ---- Members, in declaration order. ----
    Pylon::Camera_t* pCamera = nullptr;
    Pylon::StreamGrabber_t* StreamGrabber = nullptr;
    Pylon::CImageFormatConverter* Converter = nullptr;
    Pylon::DeviceCallbackHandle hCb{};
    std::vector<CGrabBuffer*> BufferList;
    std::atomic<bool> format_changed{false};  // camera thread; also set by initialisation
    std::atomic<int> n_device{-1};  // written under registry_mx (re-booking runs on other locations' threads)
    GenApi::INodeMap* pNodeMap = nullptr;
    char message_error_str[80] = {};
    AClass* removal = nullptr;
    std::atomic<bool> exeption{false};  // set by the removal callback on the SDK thread

    D_int cam_reset_;
    D_spectrum image_rate_;
    D_spectrum update_settings_;
    D_spectrum while_rate_;
    D_cam_param_int acq_trig_on_;
    D_cam_param_int acq_trig_sel_;
    D_cam_param_int frame_trig_on_;
    D_cam_param_int frame_trig_sel_;
    D_int restore_old_;
    D_string config_file_;
    D_int save_config_;
    D_int load_config_;
    D_int config_save_period_;
    D_cam_param_int format_out_;
    mirva::D_value<double> gamma_out_;
    D_cam_param_int truncate_out_;
    D_int hold_param_;
    // Counts of the camera's stream since the camera was opened, from its stream grabber
    // (read only): "STREAM.FRAMES.COMPLETED", "STREAM.FRAMES.FAILED", "STREAM.UNDERRUNS",
    // "STREAM.PACKETS.MISSING", "STREAM.PACKETS.RESENT". Camera thread.
    D_cam_param_int64_const stream_completed_;
    D_cam_param_int64_const stream_failed_;
    D_cam_param_int64_const stream_underruns_;
    D_cam_param_int64_const stream_missing_packets_;
    D_cam_param_int64_const stream_resent_packets_;
    std::chrono::steady_clock::time_point stream_statistics_shown{};  // camera thread
    // Shows the stream grabber's counts in the stream properties: at most twice a second,
    // or now. Camera thread, with a stream grabber.
    void camera_update_stream_statistics(bool now);

    // Time of the last feature-file save; starts at construction, so the first periodic
    // save comes one period after start-up. Update thread.
    std::atomic<time_t> last_config_save{0};
    std::vector<D_cam_param_text_const*> root_prop_;
    std::vector<pylon_prop*> pylon_prop_;
    pthread_mutex_t clup_mx;
    pthread_mutex_t cbk_mx;

    // ---- Process-wide camera registry, guarded by registry_mx. ----
    static Pylon::DeviceInfoList_t devices;
    static std::vector<int> booked;
    static int n_cameras;
    static std::vector<Pylon::CBaslerGigECamera*> cameras;
    // Lifecycle calls of several locations may run at once (the server serialises only
    // the calls of one location), and re-booking runs over every location: this lock
    // guards the registry, each location's pCamera writes and its n_device.
    static std::recursive_mutex registry_mx;

    // Interfaces read by camera_set_packet_size (update thread).
    pylon_net_source net_source = pylon_net_source::system();

private:
    // Stops using a camera object: forgets it in the registry and deletes it (nothing
    // else refers to it: a location holds only the camera it created). registry_mx.
    void camera_release_object(Pylon::CBaslerGigECamera* camera);
    // Deregisters the removal callback (when registered); prints on failure.
    void camera_deregister_removal();
    bool camera_is_open();
    // camera_save_features for a caller that holds cbk_mx (the camera clean-up).
    bool save_feature_file();
    // What a failed set-up leaves: the features, the camera object (its device closed) and
    // the booking with its index are released, so that a retry starts clean and another
    // location may take the device. Host thread, camera thread not running.
    void camera_init_release();
    // Reports a failed set-up (log line and error text, each when not empty), releases what
    // it left (camera_init_release) and returns true, camera_init's failure.
    bool camera_init_failed(const std::string& log_line, const std::string& error_text);
    // camera_init from the features on (the camera is open): true on failure; GenICam
    // exceptions pass to the caller.
    bool camera_init_settings(const Pylon::CDeviceInfo& info);

    // The camera object of a hardware reset, kept until the feature properties built on
    // its node map are gone (update thread; registry_mx).
    Pylon::CBaslerGigECamera* reset_camera_ = nullptr;

    // The camera thread clears cam_thread under thread_mx as its last act, so a handle read
    // under thread_mx as non-zero names a live thread that may be signalled.
    std::mutex thread_mx;
    std::condition_variable thread_cv;  // signalled when the handle is cleared
};

// The camera thread's entry; its argument is the EqFctPylon.
void* pylon_camera_thread(void* location);
