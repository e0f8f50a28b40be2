// Frame delivery of a camera location: one grabbed buffer becomes an output image in
// the format FORMAT.OUT asks for, with the region and bit-depth properties updated,
// and is handed to the host's image output; plus the per-image questions of the host
// (image header, effective bits, calibration geometry, background subtraction).
//
// Threads: camera_save_data runs on the camera thread; camera_set_image_header and
// camera_get_ebit may run on host threads.
// Locks, never nested with each other: the software-trigger lock (request and cycle-done
// flags, shared with host code raising software triggers), bcam_base::img_loc_mx around
// the conversion into the image buffer, the output lock around the hand-over (which
// exchanges the image and output buffers) and any write to the output and copy buffers
// (shared with the image-output thread); clup_mx
// in camera_get_ebit against the camera clean-up.
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <utility>

#include <mirva/server.h>
#include <pylon/GrabResultImage.h>
#include <pylon/PixelFormatTable.h>

#include "eq_pylon.h"
#include "pylon_lock.h"

namespace {

// Output formats, indexed by the value of FORMAT.OUT.
struct OutFormat {
    Pylon::EPixelType type;
    int bytes_per_pixel;
};
const OutFormat out_formats[] = {
    {Pylon::PixelType_Mono8, 1},
    {Pylon::PixelType_Mono16, 2},
    {Pylon::PixelType_RGB8packed, 3},
};
constexpr int N_OUT_FORMATS = static_cast<int>(std::size(out_formats));

// FORMAT.OUT is limited to the table by its property; anything else reads as Mono8.
const OutFormat& out_format(int index)
{
    return out_formats[(index >= 0 && index < N_OUT_FORMATS) ? index : 0];
}

constexpr auto FRAME_WAIT = std::chrono::milliseconds(6000);
// Slice of the waits for a frame and for a user software trigger, so that a thread stop
// is seen within it and not only when the wait ends.
constexpr auto STOP_POLL = std::chrono::milliseconds(100);

enum class FrameWait { Ready, Timeout, Stopped };

// Waits up to FRAME_WAIT for a result in the grabber's output queue, in slices of
// STOP_POLL; a raised stop flag ends the wait early.
FrameWait wait_for_frame(Pylon::WaitObject& wait, const std::atomic<bool>& stop)
{
    const auto deadline = std::chrono::steady_clock::now() + FRAME_WAIT;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (wait.Wait(static_cast<unsigned>(std::clamp(left, std::chrono::milliseconds(0), STOP_POLL).count())))
            return FrameWait::Ready;
        if (left <= STOP_POLL)
            return FrameWait::Timeout;
        if (stop.load())
            return FrameWait::Stopped;
    }
}

bool debug_bit(int bit)
{
    return (MIRVA_debug.load() & bit) != 0;
}

double now_ms()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return (static_cast<double>(tv.tv_sec) * 1000000.0 + static_cast<double>(tv.tv_usec)) / 1000.0;
}

void commit(D_cam_param_int& p)
{
    p.set_value(p.new_value());
    p.reset_new_val();
}

void apply(D_cam_param_int& p, int v)
{
    p.set_value(v);
    p.reset_new_val();
}

// Bytes per pixel of an output with e significant bits.
int bytes_for_bits(int e)
{
    if (e <= 8)
        return 1;
    if (e <= 16)
        return 2;
    if (e <= 24)
        return 3;
    if (e <= 32)
        return 4;
    return 1;
}

// Bits 0 .. e-1 set (all bits from 32 on).
int bit_mask(int e)
{
    if (e <= 0)
        return 0;
    if (e >= 32)
        return ~0;
    return static_cast<int>((1u << e) - 1u);
}

} // namespace

int EqFctPylon::camera_save_data(img_header* /*header*/)
{
    if (!pCamera) {
        printftostderr(name(), "camera_save_data() cmaera is not initialized");
        return 1;
    }
    auto set_cycle_done = [this] {
        std::lock_guard lk(sw_trig_mx);
        cycle_done = true;
    };

    try {
        const int write_image = write_image_.value();
        const int write_roi = write_roi_.value();
        // Geometry to restore after a calibration image. Only a calibration uses it, so it
        // is read when one is requested, before the full-frame geometry replaces it; the
        // other frames skip six feature reads.
        int64_t old_offset_x = 0, old_offset_y = 0, old_width = 0, old_height = 0;
        int64_t old_bin_x = 1, old_bin_y = 1;
        bool has_bin_x = false, has_bin_y = false;
        double t0 = now_ms();

        // Calibration request: stop, full-frame geometry, start; the image comes below.
        int calibr = 1;
        if (calib_.is_changed()) {
            const int req = calib_.new_value();
            if (req <= 0) {
                calib_.set_new_value(0);
                calib_.set_value(0);
                commit(calib_);
            } else {
                old_offset_x = pCamera->OffsetX.IsPresent() ? pCamera->OffsetX.GetValue() : 0;
                old_offset_y = pCamera->OffsetY.IsPresent() ? pCamera->OffsetY.GetValue() : 0;
                has_bin_x = camera_find_feature_by_name("BinningHorizontal") != nullptr;
                has_bin_y = camera_find_feature_by_name("BinningVertical") != nullptr;
                old_bin_x = has_bin_x ? pCamera->BinningHorizontal.GetValue() : 1;
                old_bin_y = has_bin_y ? pCamera->BinningVertical.GetValue() : 1;
                old_width = pCamera->Width.GetValue();
                old_height = pCamera->Height.GetValue();
                calib_.set_value(req);
                calib_done_.set_value(0);
                commit(calib_);
                t0 = now_ms();
                if (debug_bit(8))
                    printftostderr(name(), "Calibration %d", 1);
                camera_stop_acquisition();
                calibr = camera_make_calibr();
                const int r = camera_start_acquisition();
                if (r != 0) {
                    cam_error_set();
                    calib_.set_new_value(0);
                    calib_.set_value(0);
                    return r;
                }
            }
        }

        // Trigger mode of this frame; it gates the gated trigger parameter.
        const int a = acq_trig_on_.value();
        const int as = acq_trig_sel_.value();
        const int f = frame_trig_on_.value();
        const int fs = frame_trig_sel_.value();
        const int user_trigger = trig_enable.load();
        const int trig = ((a != 0 && as > 0) || (f != 0 && fs > 0) || user_trigger != 0) ? 1 : 0;
        if (trig && debug_bit(0x10))
            printftostderr(name(), "Trig: %d  (acq:%d sel:%d) (frm:%d sel:%d) (usrswtfig:%d) ", 1, a, as, f, fs, user_trigger);
        apply(trig_gate_, trig);

        // Software triggers: one per trigger kind that is on without a source.
        const bool sw1 = a > 0 && as == 0;
        const bool sw2 = f > 0 && fs == 0;
        if (sw1 || sw2) {
            if (trig_enable.load() != 0) {
                // The user software trigger: wait for the client's request, or for the
                // user trigger to be switched off, or for the thread to be stopped or the
                // device to fail.
                std::unique_lock lk(sw_trig_mx);
                while (!sw_trig_request && trig_enable.load() != 0) {
                    if (cam_thread_stop.load() || exeption.load()) {
                        cycle_done = true;
                        return 1;
                    }
                    sw_trig_cond.wait_for(lk, STOP_POLL);
                }
                sw_trig_request = false;
            }
            pCamera->TriggerSoftware.Execute(true);
            if (debug_bit(0x10))
                printftostderr(name(), "Sending software trigger (1)");
            if (sw1 && sw2) {
                pCamera->TriggerSoftware.Execute(true);
                if (debug_bit(0x10))
                    printftostderr(name(), "Sending software trigger (2)");
            }
        }

        const double t1 = now_ms();
        if (debug_bit(0x10))
            printftostderr(name(), "Just before WAIT");
        camera_reset_ev_param();

        if (!StreamGrabber) {
            // Only a start that failed half-way leaves no grabber; the thread restarts.
            printftostderr(name(), "camera_save_data() no stream grabber");
            set_cycle_done();
            return 1;
        }
        const FrameWait waited = wait_for_frame(StreamGrabber->GetWaitObject(), cam_thread_stop);
        camera_update_stream_statistics(false);
        if (waited == FrameWait::Stopped) {
            // The thread ends; its end path stops the stream with the buffers still queued.
            if (debug_bit(0x10))
                printftostderr(name(), "Wait for a frame ended by the thread stop");
            set_cycle_done();
            return 1;
        }
        if (waited == FrameWait::Timeout) {
            if (debug_bit(0x10))
                printftostderr(name(), "Timeout occured");
            StreamGrabber->CancelGrab();
            Pylon::GrabResult drained;
            while (StreamGrabber->RetrieveResult(drained)) {
            }
            set_cycle_done();
            return 1;
        }
        if (!StreamGrabber->IsOpen())
            printftostderr(name(), "Grabber is not open !!!!!!!!!!!!!!!!!1");
        Pylon::GrabResult result;
        StreamGrabber->RetrieveResult(result);

        int size_x = 0;
        int size_y = 0;
        if (result.m_Status == Pylon::Grabbed) {
            const OutFormat& out = out_format(format_out_.value());
            // What must fit into the image buffer is the converted image; a frame whose
            // output is exactly the buffer's size fits.
            const size_t out_size = Pylon::ComputeBufferSize(out.type, static_cast<uint32_t>(std::max(result.m_SizeX, 0)),
                                                             static_cast<uint32_t>(std::max(result.m_SizeY, 0)));
            if (!image_buffer || image_buffer_size < 0 || out_size > static_cast<size_t>(image_buffer_size)) {
                StreamGrabber->QueueBuffer(result.m_hBuffer, nullptr);
                set_cycle_done();
                printftostderr(name(), "IMAGE size is too big:%d ... skipping it", static_cast<int>(out_size));
                return 1;
            }
            size_x = result.m_SizeX;
            size_y = result.m_SizeY;
            grab_width = size_x;
            grab_height = size_y;

            {
                std::lock_guard lk(img_loc_mx);
                try {
                    if (!Converter)
                        throw LOGICAL_ERROR_EXCEPTION("no converter set up");
                    Converter->OutputPixelFormat = out.type;
                    int shift = truncate_out_.value();
                    if (shift < 0)
                        shift += 1;
                    Converter->AdditionalLeftShift = shift;
                    Pylon::CGrabResultImageT<Pylon::GrabResult> image(result);
                    Converter->Convert(image_buffer, static_cast<size_t>(image_buffer_size), image);
                } catch (const GenICam::GenericException& e) {
                    printftostderr(name(), "Convert  exception _. %s", e.GetDescription());
                }
            }

            ebits_.set_value(out.type == Pylon::PixelType_RGB8packed ? 24 : static_cast<int>(Pylon::BitDepth(out.type)));

            apply(roi_x_start_, result.m_OffsetX);
            apply(roi_y_start_, result.m_OffsetY);
            if (camera_find_feature_by_name("BinningHorizontal"))
                apply(bin_x_, static_cast<int>(pCamera->BinningHorizontal.GetValue()));
            if (camera_find_feature_by_name("BinningVertical"))
                apply(bin_y_, static_cast<int>(pCamera->BinningVertical.GetValue()));
            apply(roi_x_end_, size_x * bin_x_.value() + roi_x_start_.value() - 1);
            apply(roi_y_end_, size_y * bin_y_.value() + roi_y_start_.value() - 1);

            StreamGrabber->QueueBuffer(result.m_hBuffer, nullptr);

            camera_set_ready_flag();
            if (trig_gated_.value() == 0 || trig == 0) {
                camera_set_ev_num(true);
            } else if (debug_bit(0x10)) {
                if (fd_iptimer > 0)
                    printftostderr(name(), "camera_set_ready_flag() ip_timer - present nodaq:%d", no_daq.load());
                else
                    printftostderr(name(), "camera_set_ready_flag() ip_timer - not present");
            }
            if (debug_.value() & 0x100000) {
                timeval tv{};
                gettimeofday(&tv, nullptr);
                printftostderr(name(), "GOT IMAGE %d:%d", static_cast<int>(tv.tv_sec), static_cast<int>(tv.tv_usec));
            }
        } else if (result.m_Status == Pylon::Failed) {
            if (debug_bit(0x10)) {
                printftostderr(name(), "No image acquired! Error code : 0x%x", result.m_ErrorCode);
                printftostderr(name(), "Error description %s", result.m_ErrorDescription.c_str());
            }
            StreamGrabber->QueueBuffer(result.m_hBuffer, nullptr);
            set_cycle_done();
            return 1;
        }
        // Any other status: no image; the buffer is not queued again.

        fill_timing_spectrum(&while_rate_, now_ms() - t1);

        const int e = ebits_.value();
        const int n = bytes_for_bits(e);
        if (e > 0)
            ebit_mask.fetch_or(bit_mask(e));
        // Bytes of the delivered image, never more than the image buffer holds.
        const size_t image_bytes = std::min(static_cast<size_t>(size_x) * static_cast<size_t>(size_y) * static_cast<size_t>(n),
                                            static_cast<size_t>(std::max(image_buffer_size, 0)));

        if (calibr == 0) {
            if (debug_bit(8))
                printftostderr(name(), "Calibration image copied %dx%d_%d", img_width.load(), img_height.load(), n);
            if (trig_gated_.value() == 0 && copy_buffer && image_bytes > 0) {
                std::lock_guard lk(out_mx);
                std::memcpy(copy_buffer, image_buffer, image_bytes);
            }
            camera_set_calib_image(size_x, size_y, n, image_buffer);
            calib_.set_new_value(0);
            calib_.set_value(0);
            camera_stop_acquisition();
            if (has_bin_x)
                camera_set_geometry(pCamera->BinningHorizontal, old_bin_x);
            if (has_bin_y)
                camera_set_geometry(pCamera->BinningVertical, old_bin_y);
            camera_set_geometry(pCamera->Width, old_width);
            camera_set_geometry(pCamera->Height, old_height);
            camera_set_geometry(pCamera->OffsetX, old_offset_x);
            camera_set_geometry(pCamera->OffsetY, old_offset_y);
            if (debug_bit(0x20))
                printftostderr(name(), "3======================> format_changed = true");
            format_changed = true;
        }

        camera_store_calib_image();
        camera_load_calib_image();

        if (!(trig == 1 && sender_loc != nullptr)) {
            if (sender_loc == nullptr && fd_iptimer <= 0)
                interrupt_usr1(1);

            if (write_image) {
                const int r = camera_write_image_to_file(size_x, size_y, n, image_buffer, nullptr);
                if (r != 0)
                    printftostderr(name(), "camera_save_data() Failed to create file ret: %d", r);
            }
            if (write_roi) {
                const int r = camera_write_rois_to_file(nullptr);
                if (r != 0)
                    printftostderr(name(), "camera_save_data() Failed to create ROI file(s) ret:%d", r);
            }

            bool handed_over = false;
            {
                std::lock_guard lk(out_mx);
                if (!out_free) {
                    if (debug_bit(0x10))
                        printftostderr(name(), "No Image to MIRVA  %dx%d_%d (BUSY)", img_width.load(), img_height.load(), n);
                } else {
                    if (debug_bit(0x10))
                        printftostderr(name(), "Image to MIRVA  %dx%d_%d", img_width.load(), img_height.load(), n);
                    // The converted image becomes the output buffer by exchanging the two
                    // buffers, which saves a copy of every frame; the old output buffer is
                    // the next conversion's target. The copy buffer gets its own copy.
                    std::swap(image_buffer, output_buffer);
                    if (copy_buffer && output_buffer && image_bytes > 0)
                        std::memcpy(copy_buffer, output_buffer, image_bytes);
                    out_width = size_x;
                    out_height = size_y;
                    out_extra = 0;
                    out_bpp = n;
                    out_free = false;
                    new_image = true;
                    handed_over = true;
                }
            }
            if (handed_over)
                out_cond.notify_all();
        }

        if (debug_.value() == -100)
            printftostderr(name(), "camera_save_data() Done in %f msec", now_ms() - t0);

        set_cycle_done();
        cam_error_set();
        return 0;
    } catch (const GenICam::LogicalErrorException& e) {
        printftostderr(name(), "camera_save_data() Exception: %s", e.GetDescription());
        exeption = true;
        g_sts_.online(0);
        return 1;
    } catch (const GenICam::GenericException& e) {
        // Other SDK failures (a removed device, a refused read) fail this frame; the
        // camera thread stops the stream and starts it again.
        printftostderr(name(), "camera_save_data() Exception: %s", e.GetDescription());
        return 1;
    }
}

int EqFctPylon::camera_set_image_header(zenta_image_ext_frame_head* head)
{
    if (!head)
        return 1;
    Pylon::EPixelType p = Pylon::PixelType_Undefined;
    try {
        // Runs on the host's image-output thread while the camera thread may clean the
        // camera up: clup_mx keeps the camera object alive for the read.
        PthreadLock lock(clup_mx);
        if (!pCamera)
            return 1;
        p = Pylon::CPixelTypeMapper::GetPylonPixelTypeByName(pCamera->PixelFormat.ToString());
    } catch (const GenICam::GenericException& e) {
        // Called from the host's threads: a vanished camera must not end the process.
        printftostderr(name(), "camera_set_image_header() Exception: %s", e.GetDescription());
        return 1;
    }
    const int fmt = format_out_.value();
    const OutFormat& out = out_format(fmt);
    head->image_format = fmt > 1 ? 1 : 0;
    head->ebitpp = std::min(ebits_.value(), static_cast<int>(Pylon::BitDepth(p)));
    switch (out.type) {
    case Pylon::PixelType_Mono16:
        head->bpp = 2;
        break;
    case Pylon::PixelType_RGB8packed:
        head->bpp = 3;
        head->ebitpp = 24;
        break;
    default:
        head->bpp = 1;
        break;
    }
    head->source_format = camera_pylon_format_to_daq_format(p);
    head->scale_x = scale_x_enable_.value() != 0 ? scale_x_.value() : -1.0f;
    head->scale_y = scale_y_enable_.value() != 0 ? scale_y_.value() : -1.0f;
    head->image_rotation = 0.0f;
    head->image_flags = 18;
    return 0;
}

int EqFctPylon::camera_pylon_format_to_daq_format(Pylon::EPixelType type)
{
    return Pylon::SourceFormatCode(type);
}

int EqFctPylon::camera_get_ebit()
{
    try {
        PthreadLock lock(clup_mx);
        if (!pCamera)
            return ebits_.value();
        const int b = static_cast<int>(
            Pylon::BitDepth(Pylon::CPixelTypeMapper::GetPylonPixelTypeByName(pCamera->PixelFormat.ToString())));
        const int e = ebits_.value();
        return b < e ? b : e;
    } catch (const GenICam::GenericException& ex) {
        // clup_mx is released by now. Besides a refused access, a vanished device
        // (RuntimeException) ends here too: this runs on host threads.
        printftostderr(name(), "Exception in camera_get_ebit(): %s", ex.GetDescription());
        exeption = true;
        g_sts_.online(0);
        return -1;
    }
}

int EqFctPylon::camera_set_geometry(Pylon::CIntegerParameter& feature, int64_t value)
{
    if (!GenApi::IsWritable(feature)) {
        // Absent, or fixed by the camera (a line camera's Height, a fixed-size camera's Width).
        if (debug_bit(8) && GenApi::IsReadable(feature))
            printftostderr(name(), "Calibration: %s is not writable, stays %lld", feature.GetFeatureName(),
                           static_cast<long long>(feature.GetValue()));
        return 1;
    }
    const int64_t min = feature.GetMin();
    const int64_t max = feature.GetMax();
    const int64_t inc = std::max<int64_t>(feature.GetInc(), 1);
    int64_t v = std::clamp(value, min, max);
    v = min + (v - min) / inc * inc;
    if (v != value)
        printftostderr(name(), "Calibration: %s %lld is outside %lld..%lld (step %lld), set to %lld", feature.GetFeatureName(),
                       static_cast<long long>(value), static_cast<long long>(min), static_cast<long long>(max),
                       static_cast<long long>(inc), static_cast<long long>(v));
    feature.SetValue(v, true);
    return 0;
}

int EqFctPylon::camera_make_calibr()
{
    if (!pCamera)
        return 1;
    // Offsets first, so that the full width and height fit. What the camera does not let
    // be written is left as it is, and the rest is still set.
    camera_set_geometry(pCamera->OffsetX, 0);
    camera_set_geometry(pCamera->OffsetY, 0);
    camera_set_geometry(pCamera->Width, camera_largest_size(true));
    camera_set_geometry(pCamera->Height, camera_largest_size(false));
    if (camera_find_feature_by_name("BinningHorizontal"))
        camera_set_geometry(pCamera->BinningHorizontal, 1);
    if (camera_find_feature_by_name("BinningVertical"))
        camera_set_geometry(pCamera->BinningVertical, 1);
    return 0;
}

int EqFctPylon::camera_bkg_subst_on()
{
    // The first call of the process always publishes the value and the status text.
    static std::atomic<bool> first{true};
    if (!first.load() && !bkg_sub_.is_changed())
        return 0;
    const int pending = bkg_sub_.new_value();
    bkg_subtract = pending != 0;
    first = false;
    bkg_sub_.set_value(pending);
    if (bkg_sub_.value() == bkg_sub_.new_value())
        bkg_sub_.set_changed(false);
    bkg_status_.set_value(bkg_subtract.load() ? "On" : "Off");
    return 0;
}

int EqFctPylon::camera_bkg_subst_off()
{
    return camera_bkg_subst_on();
}

int EqFctPylon::camera_is_image_ready(bool /*wait*/)
{
    return 0;
}

bool EqFctPylon::camera_status(int* /*status*/)
{
    return pCamera == nullptr;
}
