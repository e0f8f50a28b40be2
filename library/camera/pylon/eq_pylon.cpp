// EqFctPylon: the location object, its control properties, its lifecycle calls, the
// process-wide camera registry with discovery and booking, and the removal callback.
#include "eq_pylon.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <mirva/server.h>

// ---- Process-wide camera registry. ----
Pylon::DeviceInfoList_t EqFctPylon::devices;
std::vector<int> EqFctPylon::booked;
int EqFctPylon::n_cameras = 0;
std::vector<Pylon::CBaslerGigECamera*> EqFctPylon::cameras;
std::recursive_mutex EqFctPylon::registry_mx;

namespace {
// How long cancel and the destructor wait for the camera thread to end: frame delivery
// waits at most 6 s for a frame, and the stop signal interrupts its waits.
constexpr int thread_end_wait_s = 20;
} // namespace

EqFctPylon::EqFctPylon()
    : bcam_base(),
      cam_reset_("CAMRESET camera hw reset", this, 0),
      image_rate_("IMGRATE time between images", 8192, this, false),
      update_settings_("UPDSETS time for settings update", 8192, this, false),
      while_rate_("WHILERATE time of while cycle", 8192, this, false),
      acq_trig_on_("ACQ.TRIGGER.MODE  acquisition trigger mode (-1 if not supported)", -1, -1, this),
      acq_trig_sel_("ACQ.TRIGGER.SEL  acquisition trigger input select (-1 if not supported)", -1, -1, this),
      frame_trig_on_("FRAME.TRIGGER.MODE  frame trigger mode (-1 if not supported)", -1, -1, this),
      frame_trig_sel_("FRAME.TRIGGER.SEL  frame trigger input select (-1 if not supported)", -1, -1, this),
      restore_old_("RESTORE_OLD if 1 restore from cfg file", this, 0),
      config_file_("CONF.FILE file name for save/load features", this, 0),
      save_config_("CONF.SAVE command to save features in a file", this, 0),
      load_config_("CONF.LOAD command to load features from a file", this, 0),
      config_save_period_("CONF.SAVE.PERIOD period of saving features (if>0)", this, 0),
      format_out_("FORMAT.OUT output format (0-Mono8, 1-Mono16, 2-RGB)", 0, 2, this),
      gamma_out_("FORMAT.OUT.GAMMA gamma to use for output conversion", this, 0),
      truncate_out_("FORMAT.OUT.TRUNCATE bit to truncate (if 0 - gamma conversion is used)", -32, 31, this),
      hold_param_("HOLD.PARAM no parameters changes if 1", this, 0),
      stream_completed_("STREAM.FRAMES.COMPLETED frames received complete since the camera was opened", this),
      stream_failed_("STREAM.FRAMES.FAILED frames received incomplete since the camera was opened", this),
      stream_underruns_("STREAM.UNDERRUNS frames lost for want of a grab buffer", this),
      stream_missing_packets_("STREAM.PACKETS.MISSING stream packets lost, also after resend requests", this),
      stream_resent_packets_("STREAM.PACKETS.RESENT stream packets received after a resend request", this)
{
    gamma_out_.set_value(0.0, 0);
    gamma_out_.dmsg_supported();
    root_prop_.clear();
    pylon_prop_.clear();
    pCamera = nullptr;
    StreamGrabber = nullptr;
    Converter = nullptr;
    format_changed = false;
    missing_frames = 0;
    n_device = -1;
    exeption = false;
    removal = nullptr;
    // The first periodic save comes one period after start-up: a save at once would only
    // write back what the camera was just set up with.
    last_config_save = time(nullptr);
    pthread_mutex_init(&cbk_mx, nullptr);
    pthread_mutex_init(&clup_mx, nullptr);
}

EqFctPylon::~EqFctPylon()
{
    // The host's threads call this location's virtual operations: they end first.
    camera_stop_host_threads();
    // No camera thread may outlive its location: it would run on freed members.
    if (cam_thread.load() != 0) {
        stop_camera_thread();
        if (!wait_camera_thread_end(thread_end_wait_s))
            printftostderr(name(), "~EqFctPylon() camera thread did not end");
    }
    // The location owns its properties, its removal holder, grab buffers and converter.
    if (!pylon_prop_.empty())
        camera_remove_features();
    // camera_remove_features leaves the list alone once the camera is gone (after a
    // clean-up or a reset); the location still owns the features then.
    for (pylon_prop* f : pylon_prop_) {
        f->remove_properties();
        delete f;
    }
    pylon_prop_.clear();
    if (!root_prop_.empty())
        camera_remove_root_properties();
    {
        std::lock_guard lk(registry_mx);
        camera_release_object(reset_camera_);
        reset_camera_ = nullptr;
    }
    camera_cleanup(false);
    delete Converter;
    Converter = nullptr;

    if (pCamera) {
        try {
            if (pCamera->IsAttached() && pCamera->IsOpen())
                pCamera->GetDevice()->Close();
        } catch (const GenICam::GenericException& e) {
            printftostderr(name(), "~EqFctPylon() closing the camera: %s", e.GetDescription());
        }
        std::lock_guard lk(registry_mx);
        camera_release_object(pCamera);
        pCamera = nullptr;
    }
    pthread_mutex_destroy(&clup_mx);
    pthread_mutex_destroy(&cbk_mx);
}

int EqFctPylon::fct_code()
{
    return CODE_PYLON;
}

void EqFctPylon::interrupt_usr1(int sig)
{
    bcam_base::interrupt_usr1(sig);
}

void EqFctPylon::init()
{
    camera_unset_ready_flag();
    camera_add_to_bcam_list();
    // A retry after a failed set-up finds START already 0: it must not erase the start
    // request that the first init saved and the camera thread has not yet restored.
    if (start_.value() != 0 || saved_start == 0)
        saved_start = start_.value();
    start_.set_value(0);
    camera_select(true);
    bpp_.set_value(24);
}

void EqFctPylon::post_init()
{
    image_rate_.set_descr_value("Frame period (ms)");
    update_settings_.set_descr_value("Parameters settings time (ms)");
    while_rate_.set_descr_value("While time (ms)");
    g_sts_.online(0);
    frame_counter_.set_value(0);
    image_counter_.set_value(0);
    cam_reset_.set_value(0);
    online();
    bcam_base::post_init();
}

void EqFctPylon::online()
{
    exeption = false;
    online_attempt = 0;
    printftostderr(name(), "online() g_sts():%d  up:%d", g_sts_.online(), setup_done.load() ? 1 : 0);

    if (g_sts_.online() == 0 && !setup_done) {
        if (setup_result != 0) {
            // online runs on the host's update and recovery threads: an enumeration that
            // fails ends this attempt, never the thread (camera_init catches its own).
            try {
                find_cameras_of_type(1);
                init();
            } catch (const GenICam::GenericException& e) {
                printftostderr(name(), "online() camera discovery failed: %s", e.GetDescription());
                err_text_.set_value(std::string("camera discovery failed: ") + e.GetDescription());
                g_sts_.online(0);
                setup_result = 2;
                return;
            }
        }
        err_code = 5;
        cam_error_set();
        set_camera_status("Setting UP");

        if (camera_init()) {
            camera_set_default_img_size();
            printftostderr(name(), "online() Failed to init camera: Error: %s", cam_error_set());
            err_code_.set_value(err_code);
            g_sts_.online(0);
            setup_result = 2;
            return;
        }

        width_.set_value(img_width);
        height_.set_value(img_height);
        ebits = 16;
        ebits_.set_value(16);
        int mask = ebit_mask;
        for (int bit = 0; bit < ebits; ++bit)
            mask |= 1 << bit;
        ebit_mask = mask;

        int bytes = bpp_.value();
        if (bytes <= 8)
            bytes = 1;
        else if (bytes <= 16)
            bytes = 2;
        else if (bytes <= 24)
            bytes = 3;
        else if (bytes <= 32)
            bytes = 4;
        if (camera_create_all_buffers(img_width, img_height, bytes)) {
            printftostderr(name(), "online() camera_create_all_buffers() failed !!!");
            g_sts_.online(0);
            return;
        }
        // The missing-frame watchdog counts for this camera from here: cycles counted
        // while the camera before it was lost would cut the new one's first start short
        // and send a camera that has just come back through recovery again.
        missing_frames = 0;
        setup_done = true;
        g_sts_.online(1);
        setup_result = 1;
        printftostderr(name(), "WE are ONLINE");
    } else if (g_sts_.online() == 0 && setup_done) {
        g_sts_.online(1);
        set_camera_status("Online");
    }
}

void EqFctPylon::cancel()
{
    stop_camera_thread();
    usleep(2000);
    // At shut-down the location is destroyed next: let the thread finish with it first.
    if (!wait_camera_thread_end(thread_end_wait_s))
        printftostderr(name(), "cancel() camera thread did not end");
}

char* EqFctPylon::cam_error_set(int code)
{
    err_code = code;
    err_code_.set_value(code);
    return cam_error_set();
}

char* EqFctPylon::cam_error_set()
{
    // Callers store the code first and then call this to make it known: publish it, or
    // clients keep seeing the code of an earlier failure (a set-up that failed once shows
    // 5 although the next one succeeded). Published only on a change, since every
    // delivered frame calls this.
    const int code = err_code;
    if (err_code_.value() != code)
        err_code_.set_value(code);
    // The text stays valid until the next call on the same thread.
    thread_local std::string text;
    text = err_text_.value();
    return text.data();
}

void EqFctPylon::camera_update_trigger_flags()
{
    for (D_cam_param_int* p : {&acq_trig_on_, &frame_trig_on_, &acq_trig_sel_, &frame_trig_sel_}) {
        p->set_value(p->new_value());
        p->reset_new_val();
    }
}

// ---- Discovery, selection and booking. ----

int EqFctPylon::find_cameras_of_type(int how)
{
    printftostderr(name(), "find cameras of type called");
    // Held across the walk too, so that no location books a device between the
    // enumeration and the re-booking of the devices that locations hold open.
    std::lock_guard lk(registry_mx);
    n_cameras = 0;
    booked.clear();
    cameras.clear();
    if (!devices.empty())
        devices.clear();
    printftostderr("pylon", "pylon_remove_cameras() done");

    Pylon::CTlFactory::GetInstance().EnumerateDevices(devices, false);
    if (devices.empty()) {
        printftostderr("pylon", "camera_find_pylon_cameras() No camera present!");
    } else {
        printftostderr("pylon", "camera_find_pylon_cameras() found %d cameras", static_cast<int>(devices.size()));
        n_cameras = static_cast<int>(devices.size());
        booked.assign(devices.size(), 0);
        cameras.assign(devices.size(), nullptr);
        camera_print_cameras();
    }
    if (how == 0)
        return devices.empty() ? 1 : 0;

    for (int index = 0;; ++index) {
        EqFct* location = eq_acq(&index, nullptr);
        if (!location)
            break;
        if (location->fct_code() == CODE_PYLON) {
            if (auto* pylon = dynamic_cast<EqFctPylon*>(location))
                pylon->camera_update_boooking();
        }
        eq_rel(index);
    }
    return 0;
}

void EqFctPylon::camera_print_cameras()
{
    std::lock_guard lk(registry_mx);
    if (devices.empty()) {
        printftostderr("pylon", "camera_print_cameras(): NO CAMERA FOUND");
        return;
    }
    printftostderr("pylon", "camera_print_cameras(): LIST of FOUND CAMERAS");
    for (const Pylon::CDeviceInfo& info : devices) {
        Pylon::StringList_t names;
        info.GetPropertyNames(names);
        for (const Pylon::String_t& n : names) {
            if (!info.GetPropertyAvailable(n))
                continue;
            Pylon::String_t value;
            info.GetPropertyValue(n, value);
            printftostderr("pylon", "%s \t %s\n", n.c_str(), value.c_str());
        }
    }
}

bool EqFctPylon::camera_select(bool how)
{
    const int serial = serial_.value();
    if (serial < 0) {
        printftostderr(name(), "camera_select(): Invalid camera serial number: %d", serial);
        return true;
    }
    std::lock_guard lk(registry_mx);
    if (n_cameras < 1) {
        printftostderr(name(), "No Pylon camera(s) found");
        err_text_.set_value("No Pylon camera on the computer");
        return true;
    }
    printftostderr(name(), "camera_select(): Number of cameras: %u", static_cast<unsigned>(n_cameras));
    if (booked.empty()) {
        err_code = 1;
        cam_error_set();
        err_text_.set_value("No camera found");
        return true;
    }
    const int restore = restore_old_.value();
    printftostderr(name(), "camera_select() called with restore:%d how:%d", restore, how ? 1 : 0);

    if (restore == 0 && how)
        return false;  // the first free camera is taken by camera_init
    char wanted[32];
    snprintf(wanted, sizeof wanted, "%d", serial);
    if (restore != 0 && !how) {
        // The choice of init, if it still names the camera searched for: an index left from
        // an earlier enumeration may name another location's camera by now.
        const int dev = n_device;
        if (dev >= 0 && dev < static_cast<int>(devices.size()) && devices[dev].IsSerialNumberAvailable() &&
            devices[dev].GetSerialNumber() == wanted)
            return false;
        n_device = -1;
        err_text_.set_value("No camera found or in USE");
        return true;
    }

    // A failed search leaves no index behind, or the next set-up would open that device.
    n_device = -1;
    const int count = std::min<int>(n_cameras, static_cast<int>(std::min(devices.size(), booked.size())));
    for (int i = 0; i < count; ++i) {
        if (restore == 0) {
            if (booked[i] == 0) {
                booked[i] = 1;
                n_device = i;
                break;
            }
            continue;
        }
        if (!devices[i].IsSerialNumberAvailable())
            continue;
        const Pylon::String_t sn = devices[i].GetSerialNumber();
        printftostderr(name(), "camera_select comparing '%s' '%s'", sn.c_str(), wanted);
        if (sn == wanted) {
            if (booked[i] == 0) {
                booked[i] = 1;
                n_device = i;
                printftostderr(name(), "Camera found");
                break;
            }
            printftostderr(name(), "Camera is alredy in use !!!");
        }
    }
    if (n_device < 0) {
        err_text_.set_value("No  camera selected");
        return true;
    }
    err_text_.set_value("Camera found");
    return false;
}

int EqFctPylon::camera_update_boooking()
{
    char wanted[32];
    snprintf(wanted, sizeof wanted, "%d", serial_.value());
    std::lock_guard lk(registry_mx);
    // The old index named a device of the old enumeration: it is forgotten unless the
    // camera this location holds open is found again.
    n_device = -1;
    if (!pCamera) {
        setup_result = 1;  // the next online() finds and initialises a camera again
        return 0;
    }
    // The open camera's own serial number: the property holds it only once the set-up
    // has got that far (and holds 0 for a first-free choice until then).
    try {
        const Pylon::CDeviceInfo& own = pCamera->GetDeviceInfo();
        if (own.IsSerialNumberAvailable())
            snprintf(wanted, sizeof wanted, "%s", own.GetSerialNumber().c_str());
    } catch (const GenICam::GenericException&) {
        // a camera without device information is matched by the property
    }
    const int count = std::min<int>(n_cameras, static_cast<int>(std::min(devices.size(), booked.size())));
    for (int i = 0; i < count; ++i) {
        if (!devices[i].IsSerialNumberAvailable())
            continue;
        const Pylon::String_t sn = devices[i].GetSerialNumber();
        printftostderr(name(), "camera_select comparing '%s' '%s'", sn.c_str(), wanted);
        if (sn == wanted) {
            booked[i] = 1;
            n_device = i;
            cameras[i] = pCamera;
            return 0;
        }
    }
    return 0;
}

int EqFctPylon::camera_get_model(int*)
{
    return 0;
}

int EqFctPylon::camera_get_model(char*)
{
    return 0;
}

void EqFctPylon::camera_release_object(Pylon::CBaslerGigECamera* camera)
{
    if (!camera)
        return;
    std::lock_guard lk(registry_mx);
    std::replace(cameras.begin(), cameras.end(), camera, static_cast<Pylon::CBaslerGigECamera*>(nullptr));
    delete camera;  // destroys a device it still owns
}

void EqFctPylon::camera_deregister_removal()
{
    if (hCb == 0)
        return;
    bool ok = false;
    try {
        if (pCamera && pCamera->IsAttached())
            ok = pCamera->GetDevice()->DeregisterRemovalCallback(hCb);
    } catch (const GenICam::GenericException&) {
        ok = false;
    }
    if (!ok)
        printftostderr(name(), "Failed to deregister the callback function");
    hCb = 0;
}

bool EqFctPylon::camera_is_open()
{
    try {
        return pCamera && pCamera->IsAttached() && pCamera->IsOpen();
    } catch (const GenICam::GenericException&) {
        return false;
    }
}

void AClass::RemovalCallbackMemberFunction(Pylon::IPylonDevice*)
{
    if (!cam)
        return;
    printtostderr(cam->name(), "Removed");
    cam->exeption = true;
    cam->g_sts_.online(0);
}
