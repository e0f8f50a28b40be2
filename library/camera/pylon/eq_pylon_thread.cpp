// The camera thread of a location: its start and stop, its loop (acquisition start and
// stop, frame delivery, settings updates, group exclusion) and the settings update.
#include "eq_pylon.h"
#include "pylon_lock.h"

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mirva/server.h>

namespace {

double ms_between(const timeval& from, const timeval& to)
{
    const long long us = (static_cast<long long>(to.tv_sec) * 1000000 + to.tv_usec) -
                         (static_cast<long long>(from.tv_sec) * 1000000 + from.tv_usec);
    return static_cast<double>(us) / 1000.0;
}

timeval now()
{
    timeval t{};
    gettimeofday(&t, nullptr);
    return t;
}

// Value := pending value, then pending value := value and changed flag cleared.
void set_and_apply(D_cam_param_int& p)
{
    p.set_value(p.new_value());
    p.reset_new_val();
}

// Sets the other locations of group g off (acquisition-start 0); true when one was on.
bool switch_off_group(EqFctPylon* self, int g)
{
    bool switched = false;
    std::lock_guard lk(bcam_base::img_loc_mx);
    for (int index = 0;; ++index) {
        EqFct* location = eq_acq(&index, nullptr);
        if (!location)
            break;
        if (location != self) {
            const int code = location->fct_code();
            auto* other = dynamic_cast<bcam_base*>(location);
            if (other && code >= 801 && code <= 820) {
                const int og = other->group_.value();
                if ((og == g || og < 0) && other->start_.value() != 0) {
                    other->start_.set_value(0);
                    switched = true;
                }
            }
        }
        eq_rel(index);
    }
    return switched;
}

// The host's SIGABRT handler returns, so the stop signal only interrupts a blocking call.
void install_abrt_handler()
{
    struct sigaction action {};
    action.sa_handler = writer_abrt_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGABRT, &action, nullptr);
}

} // namespace

int EqFctPylon::camera_start_thread()
{
    std::lock_guard lk(thread_mx);
    for (;;) {
        const pthread_t handle = cam_thread.load();
        if (handle != 0) {
            // Under thread_mx a recorded handle names a live thread (it clears the handle
            // under this lock before it ends), so the probe is safe.
            const int err = pthread_kill(handle, 0);
            if (err == 0)
                return 0;
            printftostderr("start_thread()", "My thread seems to be DEAD err: %d", err);
            cam_thread = 0;
            continue;
        }
        // The action is process-wide; set it before the thread exists too, so that a stop
        // request that comes before the thread has set it up cannot end the process.
        install_abrt_handler();
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setscope(&attr, PTHREAD_SCOPE_SYSTEM);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        cam_thread_stop = false;
        pthread_t created{};
        const int err = pthread_create(&created, &attr, pylon_camera_thread, this);
        pthread_attr_destroy(&attr);
        if (err != 0) {
            printftostderr("start_thread()", "Failed to start camera thread");
            errno = err;
            perror("pthread_create");
            cam_thread = 0;
            return 1;
        }
        // Stored before the thread can clear it: its end path waits for thread_mx.
        cam_thread = created;
        return 0;
    }
}

int EqFctPylon::stop_camera_thread()
{
    std::lock_guard lk(thread_mx);
    const pthread_t handle = cam_thread.load();
    if (handle == 0)
        return 0;
    cam_thread_stop = true;
    if (pthread_kill(handle, SIGABRT) != 0)
        printftostderr(name(), "Failed to kill camera_thread");
    return 0;
}

int EqFctPylon::stop_tcp_thread()
{
    const pthread_t handle = tcp_thread.load();
    if (handle == 0)
        return 0;
    tcp_thread_stop = true;
    if (pthread_kill(handle, SIGABRT) != 0)
        printftostderr(name(), "Failed to kill tcp_thread");
    tcp_thread = 0;
    return 0;
}

bool EqFctPylon::wait_camera_thread_end(int max_seconds)
{
    std::unique_lock lk(thread_mx);
    for (int waited = 0; cam_thread.load() != 0; ++waited) {
        if (max_seconds >= 0 && waited >= max_seconds)
            return false;
        thread_cv.wait_for(lk, std::chrono::seconds(1));
    }
    return true;
}

void EqFctPylon::camera_thread_finished()
{
    std::lock_guard lk(thread_mx);
    cam_thread = 0;
    thread_cv.notify_all();
}

int EqFctPylon::camera_update_settings()
{
    return camera_update_settings_local(true);
}

int EqFctPylon::camera_update_settings_local(bool full)
{
    if (exeption)
        return 1;
    const timeval t0 = now();
    if (camera_is_acq_feature_changed()) {
        if (MIRVA_debug & 0x20)
            printftostderr(name(), "4======================> format_changed = true");
        format_changed = true;
    }

    auto apply_gated = [this] {
        if (trig_gate_.value() == 0) {
            trig_gated_.set_value(0);
            trig_gated_.reset_new_val();
        } else if (trig_gated_.is_changed()) {
            set_and_apply(trig_gated_);
        }
    };
    auto apply_format = [this] {
        if (format_out_.is_changed())
            set_and_apply(format_out_);
    };

    if (!full) {
        apply_format();
        apply_gated();
        camera_bkg_subst_on();
        return 0;
    }

    const int r = camera_bkg_subst_on();
    apply_gated();
    int changes = 0;
    if (start_.value() == 0)
        changes = camera_update_features(1);
    else if (hold_param_.value() == 0)
        changes = camera_update_features(2);
    else if (debug_.value() > 1)
        printftostderr(name(), "HOLD PARAM is ON");
    if (changes > 0)
        camera_update_limits();
    const timeval t1 = now();
    apply_format();
    fill_timing_spectrum(&update_settings_, ms_between(t0, t1));
    return r;
}

void* pylon_camera_thread(void* location)
{
    auto* cam = static_cast<EqFctPylon*>(location);
    if (!cam) {
        printftostderr("", "thread() Cannot work while no bcam set");
        return reinterpret_cast<void*>(static_cast<intptr_t>(-1));
    }

    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGIO);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    sigset_t abrt;
    sigemptyset(&abrt);
    sigaddset(&abrt, SIGABRT);
    pthread_sigmask(SIG_UNBLOCK, &abrt, nullptr);
    install_abrt_handler();

    printftostderr(cam->name(), "Camera THREAD started");
    pthread_setname_np(pthread_self(), "pylon_thread");

    bool running = false;  // acquisition running
    int phase = 2;         // start-up phase
    // Before the first frame wait, cycle times count from the thread start.
    timeval frame_wait_start = now();

    while (!cam->cam_thread_stop && cam->g_sts_.online() != 0) {
        const int g = cam->group_.value();
        const int d = cam->debug_.value();
        const int s = cam->start_.value();

        bool idle = (s == 0);
        if (!idle && g != 0 && !running)
            idle = switch_off_group(cam, g);

        if (idle) {
            if (running) {
                printftostderr(cam->name(), "Camera THREAD stopping acquisition");
                cam->camera_stop_acquisition();
            }
            cam->camera_update_settings();
            cam->frame_rate_.set_value(0.0f);
            if (d > 2)
                printftostderr(cam->name(), "No start");
            cam->frame_counter_.set_value(0);
            usleep(50000);
            if (phase == 2) {
                phase = 1;
                continue;
            }
            if (phase == 1) {
                const int saved = cam->saved_start;
                cam->start_.set_value(saved);
                if (saved != 0)
                    printftostderr(cam->name(), "OLD start is back");
                cam->set_camera_status("Online");
                phase = 0;
            }
            running = false;
            continue;
        }

        if (!cam->camera_is_acquisition_started()) {
            if (MIRVA_debug & 4)
                printftostderr(cam->name(), "Camera THREAD starting acquisition");
            // Client writes that arrived with the start request (after the last idle
            // pass) go to the camera first, as before a restart: the start reads every
            // feature back and would drop them.
            if (cam->camera_update_features(1) > 0)
                cam->camera_update_limits();
            if (cam->camera_start_acquisition() == 0) {
                cam->saved_start = 0;
                running = true;
            } else {
                // A failed start may leave its grabber behind (closed after a geometry
                // repair): stopped like a failed frame, so that the next start finds a
                // clean state instead of "previous not stopped" until the watchdog.
                cam->camera_stop_acquisition();
                usleep(20000);
            }
        } else {
            frame_wait_start = now();
            if (cam->format_changed) {
                running = false;
                cam->camera_stop_acquisition();
                if (cam->camera_update_features(1) > 0)
                    cam->camera_update_limits();
                continue;
            }
            if (cam->camera_save_data(nullptr) != 0) {
                if (d > 0) {
                    printftostderr(cam->name(), "BAD STATUS from camera_save_data()");
                    printftostderr(cam->name(), "Camera THREAD stopping acquisition (BAD status)");
                }
                cam->camera_stop_acquisition();
                running = false;
                continue;
            }
            cam->missing_frames = 0;
            int counter = cam->frame_counter_.value() + 1;
            if (counter == 0)
                counter = 1;
            cam->frame_counter_.set_value(counter);
            char* mode = nullptr;
            {
                PthreadLock lock(cam->cbk_mx);  // against a feature-file load's read-back
                mode = cam->camera_get_feature_by_name("AcquisitionMode", true);
            }
            if (mode) {
                if (strcmp(mode, "SingleFrame") == 0) {
                    printftostderr(cam->name(), "Camera THREAD stopping acquisition (SingleFrame)");
                    cam->camera_stop_acquisition();
                    cam->start_.set_value(0);
                } else {
                    cam->saved_start = 0;
                    running = true;
                }
                free(mode);
            }
            if (d > 2)
                printftostderr(cam->name(), "CameraThread()  got frame");
        }

        // Timing.
        const timeval t1 = now();
        cam->camera_update_settings_local(false);
        const timeval t2 = now();
        cam->fill_timing_spectrum(&cam->update_settings_, ms_between(t1, t2));
        cam->set_error(0);
        const timeval t3 = now();
        const double cycle = ms_between(frame_wait_start, t3);
        cam->fill_timing_spectrum(&cam->image_rate_, cycle);
        if (cycle > 0)
            cam->frame_rate_.set_value(static_cast<float>(1000.0 / cycle));
    }

    cam->camera_stop_acquisition();
    if (cam->cam_reset_.value() == 0) {
        // A feature-file save or load of the host's update may be running: it holds cbk_mx.
        PthreadLock lock(cam->cbk_mx);
        cam->camera_remove_root_properties();
        cam->camera_remove_features();
    }
    cam->camera_cleanup(true);  // releases the camera under cbk_mx too
    // After the handle is cleared the location may be destroyed at once.
    const std::string prefix = cam->name();
    cam->camera_thread_finished();
    printftostderr(prefix.c_str(), "Camera  THREAD finished");
    return nullptr;
}
