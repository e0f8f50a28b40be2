// Opening and initialising the booked camera, its geometry, hardware reset and clean-up.
#include "eq_pylon.h"
#include "pylon_lock.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    // 1. Selection.
    if (camera_select(false))
        return true;

    // 2. Camera name.
    Pylon::CDeviceInfo info;
    {
        std::lock_guard lk(registry_mx);
        const int dev = n_device;
        if (dev < 0 || dev >= static_cast<int>(devices.size())) {
            err_text_.set_value("No  camera selected");
            return true;
        }
        info = devices[dev];
    }
    char cam_name[256] = "Unknown";
    if (info.IsFullNameAvailable())
        snprintf(cam_name, sizeof cam_name, "%s", info.GetFullName().c_str());
    else if (info.IsFriendlyNameAvailable())
        snprintf(cam_name, sizeof cam_name, "%s", info.GetFriendlyName().c_str());
    else
        snprintf(cam_name, sizeof cam_name, "%s", "No full name either freindly name are available");
    printftostderr(name(), "camera_init() Camera selected: %s", cam_name);

    // A camera object left by a failed earlier attempt holds its device; let it go first.
    if (pCamera) {
        if (!pylon_prop_.empty())
            camera_remove_features();  // their nodes belong to that camera
        camera_cleanup(false);
        std::lock_guard lk(registry_mx);
        camera_release_object(pCamera);
        pCamera = nullptr;
    }

    // 3. Device and camera object.
    try {
        Pylon::IPylonDevice* device = Pylon::CTlFactory::GetInstance().CreateDevice(info);
        auto* camera = new Pylon::Camera_t();
        camera->Attach(device, true);
        std::lock_guard lk(registry_mx);
        pCamera = camera;
    } catch (const GenICam::RuntimeException&) {
        printftostderr(name(), "camera_init() Camera %s doesn't exists", cam_name);
        exeption = true;
        return true;
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
        auto* prop = new D_cam_param_text_const(text, nullptr);
        add_property(prop, 1);
        root_prop_.push_back(prop);
        prop->set_value(value);
    }

    // 6., 7. Open, callback, registry.
    try {
        pCamera->GetDevice()->Open(Pylon::Control | Pylon::Stream | Pylon::Event);
        removal = new AClass();
        removal->cam = this;
        pCamera->ChangeIpConfiguration(true, false);
        hCb = Pylon::RegisterRemovalCallback(pCamera->GetDevice(), *removal, &AClass::RemovalCallbackMemberFunction);
        {
            std::lock_guard lk(registry_mx);
            if (n_device >= 0 && n_device < static_cast<int>(cameras.size()))
                cameras[n_device] = pCamera;
        }
        if (MIRVA_debug & 4)
            printftostderr(name(), "pCamera->Open() : 0x%lx", reinterpret_cast<unsigned long>(pCamera));
    } catch (const GenICam::RuntimeException& e) {
        printftostderr(name(), "Unable to open camera %s; %s", name(), e.GetDescription());
        exeption = true;
        return true;
    }

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

    // 10. Size.
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

    // 17.
    acq_trig_on_.new_init();
    frame_trig_on_.new_init();
    acq_trig_sel_.new_init();
    frame_trig_sel_.new_init();
    format_out_.new_init();
    truncate_out_.new_init();
    camera_update_features(1);

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
    int width = static_cast<int>(pCamera->WidthMax.GetValue());
    if (GenApi::IsReadable(pCamera->BinningHorizontal))
        width *= static_cast<int>(pCamera->BinningHorizontal.GetValue());
    int height = static_cast<int>(pCamera->HeightMax.GetValue());
    if (GenApi::IsReadable(pCamera->BinningVertical))
        height *= static_cast<int>(pCamera->BinningVertical.GetValue());
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
                camera_save_features();
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
