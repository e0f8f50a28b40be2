// The host's periodic call: keeps the threads of a running location alive, saves and
// loads the feature file, watches for missing frames, and shuts a switched-off location
// down; a location that is not set up gets its hardware reset and the host's recovery.
#include "eq_pylon.h"

#include <algorithm>
#include <ctime>

#include <mirva/server.h>

void EqFctPylon::update()
{
    if (g_sts_.online() != 0 && setup_done) {
        bool has_camera;
        {
            std::lock_guard lk(registry_mx);  // the camera thread clears pCamera at its end
            has_camera = pCamera != nullptr;
        }
        if (has_camera) {
            if (camera_start_thread())
                printftostderr(name(), "update() failed to re-start thread ...");
            if (camera_start_tcp_thread())
                printftostderr(name(), "update() failed to re-start TCP thread ...");
            if (camera_start_mirva_output_thread())
                printftostderr(name(), "update() failed to re-start MIRVA thread ...");
        }

        if (hold_param_.value() == 0) {
            const int period = config_save_period_.value();
            if (period > 0 && time(nullptr) - last_config_save > period)
                camera_save_features();
            else if (save_config_.value() >= 1)
                camera_save_features();
            if (load_config_.value() > 0)
                camera_load_features();
        }

        acq_state_.set_value(acq_state_.value() > 0 ? 3 : 0);

        if (start_.value() != 0) {
            ++missing_frames;
            if (trigger_present != 0) {
                missing_frames = 0;
            } else if (const int count = missing_frames; count != 0) {
                if (count % 4 == 0)
                    printftostderr(name(), "update() NO triggers on input !!! ...");
                if (count > 11) {
                    missing_frames = 0;
                    frame_rate_.set_value(0.0f);
                    g_sts_.online(0);
                    stop_camera_thread();
                    wait_camera_thread_end(-1);
                    setup_done = false;
                    camera_start_recovery_thread();
                }
            }
        }

        if (camera_update_auto_power() == 0) {
            EqData data;
            data.set(power_value);
            power_.set(data);
        }

        if (cam_reset_.value() != 0) {
            stop_camera_thread();
            g_sts_.online(0);
        }
    } else if (g_sts_.online() == 0 && setup_done) {
        // A client's switch-off ends acquisition for good; a removed or failed camera keeps
        // the start request, so acquisition resumes once recovery has set the location up.
        if (start_.value() != 0 && g_sts_.switched_off_by_client())
            start_.set_value(0);
        set_camera_status("Shutting down");
        stop_camera_thread();
        wait_camera_thread_end(-1);
        err_code = 3;
        cam_error_set();
        camera_stop_mirva_output_thread();
        camera_stop_tcp_thread();
        printftostderr(name(), "Shutdowning,  ...");
        set_camera_status("Offline");
        err_code = 4;
        cam_error_set();
        setup_done = false;
    } else {
        if (cam_reset_.value() != 0) {
            camera_reset();
            {
                // The reset camera comes back as a new device. The feature properties stay
                // published on this object's nodes, so it is kept aside until the next
                // initialisation has replaced them (or the location is destroyed).
                std::lock_guard lk(registry_mx);
                if (pCamera) {
                    camera_release_object(reset_camera_);
                    reset_camera_ = pCamera;
                    std::replace(cameras.begin(), cameras.end(), pCamera, static_cast<Pylon::CBaslerGigECamera*>(nullptr));
                }
                pCamera = nullptr;
            }
            cam_reset_.set_value(0);
        }
        do_auto_recovery();
    }
}
