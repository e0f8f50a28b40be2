// Opening and initialising the booked camera, its geometry, hardware reset and clean-up.
#include "eq_pylon.h"
#include "pylon_lock.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <mirva/server.h>

namespace {

int bytes_per_pixel(int bits)
{
    if (bits <= 8)
        return 1;
    if (bits <= 16)
        return 2;
    if (bits <= 24)
        return 3;
    if (bits <= 32)
        return 4;
    return bits;
}

// Value := v, then pending value := value and changed flag cleared.
void apply_value(D_cam_param_int& p, int v)
{
    p.set_value(v);
    p.reset_new_val();
}

// A trigger kind is offered when the selector has the entry and it is not NA / NI.
bool trigger_kind_available(Pylon::Camera_t& camera, Pylon::TriggerSelectorEnums kind)
{
    if (!camera.TriggerSelector.IsPresent())
        return false;
    GenApi::IEnumEntry* entry =
        camera.TriggerSelector.GetEntryByName(Pylon::CEnumParameterT<Pylon::TriggerSelectorEnums>::Symbolic(kind));
    return entry && entry->GetAccessMode() > GenApi::NA;
}

} // namespace

bool EqFctPylon::camera_init()
{
    // A camera object left by an earlier set-up holds its device; let it go first.
    if (pCamera) {
        if (!pylon_prop_.empty())
            camera_remove_features();  // their nodes belong to that camera
        camera_cleanup(false);
        std::lock_guard lk(registry_mx);
        // Its booking goes with it when the camera is chosen anew below (first free one);
        // a choice by serial number made by init stays.
        const int dev = n_device;
        if (restore_old_.value() == 0 && dev >= 0 && dev < static_cast<int>(booked.size()) &&
            dev < static_cast<int>(cameras.size()) && cameras[dev] == pCamera) {
            booked[dev] = 0;
            n_device = -1;
        }
        camera_release_object(pCamera);
        pCamera = nullptr;
    }

    Pylon::CDeviceInfo info;
    char cam_name[256] = "Unknown";
    std::string who;           // the camera as failures name it
    std::string failure_log;   // a failed creation or opening, reported once the registry is free
    std::string failure_text;
    {
        // Held from the choice of the device until the opened camera is recorded: an
        // enumeration by another location would otherwise free the device in between, and
        // a second location could choose and open it too.
        std::lock_guard registry(registry_mx);

        // 1. Selection.
        if (camera_select(false))
            return true;

        // 2. Camera name.
        const int dev = n_device;
        if (dev < 0 || dev >= static_cast<int>(devices.size())) {
            err_text_.set_value("No  camera selected");
            n_device = -1;
            return true;
        }
        info = devices[dev];
        if (info.IsFullNameAvailable())
            snprintf(cam_name, sizeof cam_name, "%s", info.GetFullName().c_str());
        else if (info.IsFriendlyNameAvailable())
            snprintf(cam_name, sizeof cam_name, "%s", info.GetFriendlyName().c_str());
        else
            snprintf(cam_name, sizeof cam_name, "%s", "No full name either freindly name are available");
        printftostderr(name(), "camera_init() Camera selected: %s", cam_name);
        // How failures name the camera: its serial number first, as clients configure it.
        if (info.IsSerialNumberAvailable())
            who = std::string(info.GetSerialNumber().c_str()) + " (" + cam_name + ")";
        else
            who = cam_name;

        // 3. Device and camera object; 6., 7. open, removal callback, registry. Any
        // GenICam exception (a camera held by another connection raises an access error)
        // ends the set-up here.
        const char* stage = "create";
        try {
            Pylon::IPylonDevice* device = Pylon::CTlFactory::GetInstance().CreateDevice(info);
            auto* camera = new Pylon::Camera_t();
            camera->Attach(device, true);
            pCamera = camera;

            stage = "open";
            pCamera->GetDevice()->Open(Pylon::Control | Pylon::Stream | Pylon::Event);
            removal = new AClass();
            removal->cam = this;
            pCamera->ChangeIpConfiguration(true, false);
            hCb = Pylon::RegisterRemovalCallback(pCamera->GetDevice(), *removal, &AClass::RemovalCallbackMemberFunction);
            if (n_device >= 0 && n_device < static_cast<int>(cameras.size()))
                cameras[n_device] = pCamera;
            if (MIRVA_debug & 4)
                printftostderr(name(), "pCamera->Open() : 0x%lx", reinterpret_cast<unsigned long>(pCamera));
        } catch (const GenICam::GenericException& e) {
            if (std::string(stage) == "create") {
                failure_log = "camera_init() Camera " + who + " doesn't exists: " + e.GetDescription();
                failure_text = "camera " + who + " does not exist: " + e.GetDescription();
            } else {
                failure_log = "Unable to open camera " + who + "; " + e.GetDescription();
                failure_text = "unable to open camera " + who + ": " + e.GetDescription();
            }
        }
    }
    if (!failure_log.empty()) {
        exeption = true;
        return camera_init_failed(failure_log, failure_text);
    }

    // 4. Device information.
    Pylon::StringList_t names;
    const int n_names = info.GetPropertyNames(names);
    printftostderr(name(), "camera_init() PROPERTIES: %d", n_names);
    camera_remove_root_properties();

    // 5. Root properties, one per available entry.
    for (const Pylon::String_t& entry : names) {
        if (!info.GetPropertyAvailable(entry))
            continue;
        Pylon::String_t value;
        info.GetPropertyValue(entry, value);
        printftostderr(name(), "%s \t %s", entry.c_str(), value.c_str());
        std::string upper = entry;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        char text[63];  // at most 62 characters
        snprintf(text, sizeof text, "%s %s of the camera", upper.c_str(), entry.c_str());
        // An entry named like a property of the location (Interface and INTERFACE) would
        // hide behind it: it gets the suffix a colliding feature gets.
        if (find_property(text)) {
            printftostderr(name(), "%s WE HAVE TO APPEND PYLON TO GET UNIQUE PROP NAME", upper.c_str());
            snprintf(text, sizeof text, "%s.PYLON %s of the camera", upper.c_str(), entry.c_str());
        }
        auto* prop = new D_cam_param_text_const(text, nullptr);
        add_property(prop, 1);
        root_prop_.push_back(prop);
        prop->set_value(value);
    }

    // 8. - 21. Features and settings. A camera whose description cannot be evaluated (a
    // formula dividing by zero, a value outside its own limits) fails its set-up here.
    try {
        if (camera_init_settings(info))
            return camera_init_failed("", "");
    } catch (const GenICam::GenericException& e) {
        return camera_init_failed("camera_init() camera " + who + ": " + e.GetDescription(),
                                  "camera " + who + ": " + e.GetDescription());
    }
    return false;
}

bool EqFctPylon::camera_init_failed(const std::string& log_line, const std::string& error_text)
{
    if (!log_line.empty())
        printftostderr(name(), "%s", log_line.c_str());
    if (!error_text.empty())
        err_text_.set_value(error_text);
    camera_init_release();
    return true;
}

void EqFctPylon::camera_init_release()
{
    if (!pylon_prop_.empty())
        camera_remove_features();  // their nodes belong to the camera released below
    camera_cleanup(false);         // removal holder, grabber, buffers
    std::lock_guard lk(registry_mx);
    // The booking is this location's: an enumeration since the choice would have cleared
    // n_device (camera_update_boooking of a location without a camera).
    const int dev = n_device;
    if (dev >= 0 && dev < static_cast<int>(booked.size()))
        booked[dev] = 0;
    if (pCamera) {
        try {
            if (pCamera->IsAttached() && pCamera->IsOpen())
                pCamera->GetDevice()->Close();
        } catch (const GenICam::GenericException& e) {
            printftostderr(name(), "camera_init() closing the camera: %s", e.GetDescription());
        }
        camera_release_object(pCamera);
        pCamera = nullptr;
    }
    n_device = -1;
}

bool EqFctPylon::camera_init_settings(const Pylon::CDeviceInfo& info)
{
    // 8. Features.
    camera_create_features();
    {
        std::lock_guard lk(registry_mx);
        camera_release_object(reset_camera_);  // its features have just been replaced
        reset_camera_ = nullptr;
    }
    bcam_base::init_param();

    // 9.
    printftostderr(name(), "camera_init() BIG endien architecture, will swap data");
    byte_swap = true;

    // 10. Size, after a word on the features that this camera names differently or lacks.
    camera_print_stand_ins();
    if (camera_get_size(nullptr, nullptr) != 0) {
        printftostderr(name(), "camera_init() Failed to obtain max image size");
        return true;
    }
    printftostderr(name(), "camera_get_size() -> xmax:%d  ymax:%d", img_width.load(), img_height.load());

    // 11., 12.
    frame_counter_.set_value(0);
    image_counter_.set_value(0);
    if (info.IsSerialNumberAvailable())
        serial_.set_value(static_cast<int>(strtol(info.GetSerialNumber().c_str(), nullptr, 10)));

    // The features are published already. Clients wait while stored values are written and
    // the camera's values read back (that resets every property); the writes they made
    // since the features appeared, and those still pending when the camera went away, are
    // then recorded again for the write pass below.
    with_clients_waiting(*this, g_sts_.name(), [&] {
        keep_pending_writes(2);
        if (restore_old_.value() != 0) {
            // 13. Restore the stored values into the camera.
            for (pylon_prop* p : pylon_prop_) {
                if (p->type == PYLON_TYPE_COMMAND)
                    continue;
                try {
                    printftostderr(name(), "%s setting to %f", p->node_name.c_str(), static_cast<double>(p->get_value_as_float()));
                    p->set_feature();
                    p->change_limits();
                } catch (const GenICam::OutOfRangeException&) {
                    printftostderr(name(), "%s Exception in range", p->node_name.c_str());
                }
            }
            for (pylon_prop* p : pylon_prop_)
                p->set_orig_value();
            for (const char* feature : {"Width", "Height"}) {
                if (pylon_prop* p = camera_find_feature_by_name(feature)) {
                    p->first = true;
                    p->set_feature();
                }
            }
            camera_readback_all_features();
        } else {
            // 14. Fresh start: the full sensor, and the camera's values published as they are.
            apply_value(bin_x_, 1);
            apply_value(bin_y_, 1);
            apply_value(roi_x_start_, 1);
            apply_value(roi_x_end_, img_width);
            apply_value(roi_y_start_, 1);
            apply_value(roi_y_end_, img_height);
            camera_readback_all_features();
            printftostderr(name(), "FOUND %d propertirs to reset", static_cast<int>(pylon_prop_.size()));
            for (pylon_prop* p : pylon_prop_) {
                switch (p->type) {
                case PYLON_TYPE_INT:
                case PYLON_TYPE_BOOL:
                case PYLON_TYPE_COMMAND:
                    if (p->d_fct.ival)
                        p->d_fct.ival->reset_new_val();
                    break;
                case PYLON_TYPE_FLOAT:
                    if (p->d_fct.fval)
                        p->d_fct.fval->reset_new_val();
                    break;
                case PYLON_TYPE_ENUMER:
                    if (p->d_fct_inc.ival && GenApi::IsWritable(p->node))
                        p->d_fct_inc.ival->reset_new_val();
                    break;
                default:
                    break;
                }
            }
            printftostderr(name(), "NEW VALUE RESET");
        }

        for (const std::string& dropped : reapply_pending_writes())
            err_text_.set_value(dropped);
    });

    // 15. Binning guard.
    if (bin_x_.value() <= 0)
        apply_value(bin_x_, 1);
    if (bin_y_.value() <= 0)
        apply_value(bin_y_, 1);

    // 16. Trigger kinds.
    const bool acq_available = trigger_kind_available(*pCamera, Pylon::TriggerSelector_AcquisitionStart);
    const bool frame_available = trigger_kind_available(*pCamera, Pylon::TriggerSelector_FrameStart);
    pylon_prop* source = camera_find_feature_by_name("TriggerSource");
    if (acq_available) {
        acq_trig_on_.set_limits(0, 1);
        if (source)
            acq_trig_sel_.set_limits(0, source->maxVal.ival - 1);
    }
    if (frame_available) {
        frame_trig_on_.set_limits(0, 1);
        if (source)
            frame_trig_sel_.set_limits(0, source->maxVal.ival - 1);
    }
    // A trigger kind the camera does not offer is marked so (-1): acquisition starts then
    // leave the camera's trigger set-up of that kind alone instead of selecting it.
    if (!acq_available) {
        apply_value(acq_trig_on_, -1);
        apply_value(acq_trig_sel_, -1);
    }
    if (!frame_available) {
        apply_value(frame_trig_on_, -1);
        apply_value(frame_trig_sel_, -1);
    }

    // 17.
    acq_trig_on_.new_init();
    frame_trig_on_.new_init();
    acq_trig_sel_.new_init();
    frame_trig_sel_.new_init();
    format_out_.new_init();
    truncate_out_.new_init();
    if (camera_update_features(1) == -2) {
        // The camera refused a value of its own (the pass named the node): it cannot work.
        printftostderr(name(), "camera_init() the camera refused its settings: %s", err_text_.value().c_str());
        return true;
    }

    // 18.
    printftostderr(name(), "camera_init() TRIGGER MODES AVAILABLE Acquisition: %d (%d sel: %d)  Frame:%d  (%d sel: %d)",
                   acq_available ? 1 : 0, acq_trig_on_.value(), acq_trig_sel_.value(), frame_available ? 1 : 0,
                   frame_trig_on_.value(), frame_trig_sel_.value());

    // 19. Without a trigger the gated trigger parameter has nothing to gate.
    if (acq_trig_on_.value() <= 0 && frame_trig_on_.value() <= 0 && trig_enable == 0)
        apply_value(trig_gated_, 0);

    // 20. Packet size.
    camera_set_packet_size();
    if (char* size = camera_get_feature_by_name("GevSCPSPacketSize", true)) {
        printftostderr(name(), "camera_init() PACKET SIZE: %s bytes", size);
        free(size);
    } else {
        printftostderr(name(), "camera_init() PACKET SIZE: UNKNOWN");
    }

    // 21.
    camera_set_ev_num(false);
    format_changed = true;
    err_code = 0;
    cam_error_set();
    return false;
}

int EqFctPylon::camera_get_size(int* w, int* h)
{
    if (!pCamera) {
        img_width = width_.value();
        img_height = height_.value();
        if (w)
            *w = img_width;
        if (h)
            *h = img_height;
        return 1;
    }
    const char* width_feature = "WidthMax";
    const char* height_feature = "HeightMax";
    int width = static_cast<int>(camera_largest_size(true, &width_feature));
    if (GenApi::IsReadable(pCamera->BinningHorizontal))
        width *= static_cast<int>(pCamera->BinningHorizontal.GetValue());
    int height = static_cast<int>(camera_largest_size(false, &height_feature));
    if (GenApi::IsReadable(pCamera->BinningVertical))
        height *= static_cast<int>(pCamera->BinningVertical.GetValue());
    if (width < 1 || height < 1) {
        // A sensor without pixels (a description with SensorWidth 0, say) has nothing to
        // stream: the set-up fails instead of publishing an empty image region.
        const char* feature = width < 1 ? width_feature : height_feature;
        printftostderr(name(), "camera_get_size() %s is %d: the camera has no image to stream", feature,
                       width < 1 ? width : height);
        err_text_.set_value(std::string(feature) + " is " + std::to_string(width < 1 ? width : height) +
                            ": the camera has no image to stream");
        return 1;
    }
    img_width = width;
    img_height = height;

    roi_x_start_.set_limits(1, width - 1);
    roi_x_end_.set_limits(1, width);
    roi_y_start_.set_limits(1, height - 1);
    roi_y_end_.set_limits(1, height);
    if (height == 1)
        apply_value(roi_y_end_, 1);  // line camera

    if (w)
        *w = width;
    if (h)
        *h = height;
    cam_error_set();
    return 0;
}

int EqFctPylon::camera_get_max_size()
{
    const int size = width_.value() * height_.value() * bytes_per_pixel(bpp_.value());
    printftostderr(name(), "Max image size: %d bytes", size);
    return size;
}

void EqFctPylon::camera_reset()
{
    if (exeption || !camera_is_open())
        return;
    if (pCamera->DeviceReset.IsPresent()) {
        try {
            pCamera->DeviceReset.Execute(true);
            printftostderr(name(), "camera_rest() HW reset done");
        } catch (const GenICam::GenericException& e) {
            printftostderr(name(), "camera_rest() HW reset failed: %s", e.GetDescription());
        }
    } else {
        printftostderr(name(), "camera_rest() DeviceReset not found");
    }
}

void EqFctPylon::camera_cleanup(bool full)
{
    PthreadLock lock(clup_mx);
    if (removal) {
        // The SDK may call the holder at any moment until the callback is deregistered.
        camera_deregister_removal();
        delete removal;
        removal = nullptr;
    }
    if (StreamGrabber) {
        delete StreamGrabber;
        StreamGrabber = nullptr;
    }
    for (CGrabBuffer* buffer : BufferList)
        delete buffer;
    BufferList.clear();

    if (full && pCamera) {
        // A feature-file save or load of the host's update works on this camera under cbk_mx.
        PthreadLock features(cbk_mx);
        if (MIRVA_debug & 1)
            printftostderr(name(), "camera_cleanup() called");
        {
            std::lock_guard lk(registry_mx);
            const int dev = n_device;
            if (dev >= 0 && dev < static_cast<int>(booked.size()))
                booked[dev] = 0;
        }
        if (cam_reset_.value() == 0) {
            if (camera_is_open()) {
                last_config_save = time(nullptr);
                save_feature_file();
                camera_deregister_removal();
                try {
                    Pylon::IPylonDevice* device = pCamera->GetDevice();
                    device->Close();
                    Pylon::CTlFactory::GetInstance().DestroyDevice(device);
                } catch (const GenICam::GenericException& e) {
                    printftostderr(name(), "camera_cleanup() closing the camera: %s", e.GetDescription());
                }
            }
            std::lock_guard lk(registry_mx);
            camera_release_object(pCamera);
            pCamera = nullptr;
            n_device = -1;
        }
    }
}
