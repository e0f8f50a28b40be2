// EqFctPylon: a camera location of the MIRVA camera server that drives one GigE
// camera through the Pylon SDK and publishes its GenICam features as properties.
//
// Threads: the host's update thread runs the lifecycle calls, initialisation and the
// feature-file save and load; the camera thread "pylon_thread" (one per location)
// starts and stops acquisition, delivers frames and runs the settings passes; the
// SDK's callback thread runs the device-removal callback.
// Locks: cbk_mx guards the write pass, acquisition start/stop/started test and the
// node-change callback; clup_mx guards the camera clean-up against the effective-bits
// read; registry_mx guards the process-wide camera registry (devices, booked,
// n_cameras, cameras), since lifecycle calls of several locations may run at once.
#pragma once

#include <pthread.h>

#include <atomic>
#include <ctime>
#include <mutex>
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

    // Camera thread.
    int stop_tcp_thread();
    int camera_update_settings_local(bool full);

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
    int n_device = -1;
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
    static std::recursive_mutex registry_mx;

private:
    std::string error_text_copy_;  // backs the text returned by cam_error_set()
};

// The camera thread's entry; its argument is the EqFctPylon.
void* pylon_camera_thread(void* location);
