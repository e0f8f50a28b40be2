// Acquisition start and stop of a camera location: the acquisition settings go into
// the camera, the stream grabber gets a fixed pool of grab buffers, the converter for
// frame delivery is prepared, and AcquisitionStart runs; the stop undoes all of it.
//
// Threads: the camera thread calls start, stop, the started test and the change test
// (frame delivery's calibration step calls start and stop on the same thread).
// Locks: cbk_mx is held for the whole start and stop (except the early exits) and by
// the started test; the run-state lock is taken and released before cbk_mx, so the two
// are never held together.
#include <cstdlib>
#include <memory>

#include <mirva/server.h>

#include "eq_pylon.h"
#include "pylon_lock.h"

namespace {

// Reads every feature back from the camera. The read-back resets each property to the
// camera's value; a client's write that came after the last write pass would be lost with
// it, so such writes are kept and recorded again, and the thread's next pass applies them.
void readback_keeping_client_writes(EqFctPylon& loc)
{
    with_clients_waiting(loc, loc.g_sts_.name(), [&] {
        loc.keep_pending_writes(2);
        loc.camera_readback_all_features();
        for (const std::string& dropped : loc.reapply_pending_writes())
            loc.err_text_.set_value(dropped);
    });
}

// A feature text from camera_get_feature_by_name: malloc'd, freed on scope exit.
struct FreeText {
    void operator()(char* p) const { std::free(p); }
};
using FeatureText = std::unique_ptr<char, FreeText>;

constexpr int N_GRAB_BUFFERS = 10;

bool debug_bit(int bit)
{
    return (MIRVA_debug.load() & bit) != 0;
}

// set_value(pending) and reset: the parameter takes the value a client asked for.
void commit(D_cam_param_int& p)
{
    p.set_value(p.new_value());
    p.reset_new_val();
}

// set_value(v), then pending value := value and changed flag cleared.
void apply(D_cam_param_int& p, int v)
{
    p.set_value(v);
    p.reset_new_val();
}

} // namespace

int EqFctPylon::camera_start_acquisition()
{
    if (debug_bit(1))
        printftostderr(name(), "Start acq called");
    {
        std::lock_guard lk(run_state_mx);
        run_state_.set_value(run_mode.load());
    }

    PthreadLock lock(cbk_mx);

    // Exceptions outside the geometry stage and the converter set-up end the start with
    // a failure; a grabber left behind is cleaned up by the next stop.
    try {
        if (!pCamera || !pCamera->AcquisitionStart.IsDone(true)) {
            printftostderr(name(), "camera_start_acquisition() AcquisitionStart is not yet done ... trying AcquisitionStartStop");
            return 1;
        }
        if (StreamGrabber) {
            printftostderr(name(), "camera_start_acquisition() previous not stopped");
            return 2;
        }
        readback_keeping_client_writes(*this);

        if (pCamera->GetNumStreamGrabberChannels() == 0) {
            printftostderr(name(), "camera_start_acquisition() device doesn't support stream grabbers");
            return 3;
        }
        StreamGrabber = new Pylon::StreamGrabber_t(pCamera->GetStreamGrabber(0));
        StreamGrabber->Open();

        // Pixel format.
        {
            FeatureText t(camera_get_feature_by_name("PixelFormat", true));
            if (!t) {
                pCamera->PixelFormat.SetValue(Pylon::PixelFormat_Mono8, true);
            } else if (GenApi::IsWritable(pCamera->PixelFormat)) {
                pCamera->PixelFormat.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "PIXEL FORMAT \t- %s", pCamera->PixelFormat.ToString().c_str());
            } else if (debug_bit(4)) {
                printftostderr(name(), "PIXEL FORMAT (NOT CHANGED) \t- %s", pCamera->PixelFormat.ToString().c_str());
            }
        }

        // Geometry stage: a rejected value is repaired and the start fails, so that the
        // camera thread retries with the repaired region.
        enum class Item { OffsetX, OffsetY, Width, Height } item = Item::OffsetX;
        bool failed = false;
        try {
            // A camera without offsets starts its image at the sensor's corner: nothing to set.
            item = Item::OffsetX;
            if (!pCamera->OffsetX.IsPresent()) {
                if (debug_bit(4))
                    printftostderr(name(), "OFFSETX: none on this camera, nothing to set");
            } else {
                FeatureText t(camera_get_feature_by_name("OffsetX", true));
                if (!t) {
                    pCamera->OffsetX.SetValue(roi_x_start_.new_value(), true);
                    commit(roi_x_start_);
                    if (debug_bit(4))
                        printftostderr(name(), "   OFFSETX \t- %d", roi_x_start_.value());
                } else {
                    pCamera->OffsetX.FromString(t.get(), true);
                    if (debug_bit(4))
                        printftostderr(name(), "OFFSETX \t- %s", pCamera->OffsetX.ToString().c_str());
                }
            }
            item = Item::OffsetY;
            if (!pCamera->OffsetY.IsPresent()) {
                if (debug_bit(4))
                    printftostderr(name(), "OFFSETY: none on this camera, nothing to set");
            } else {
                FeatureText t(camera_get_feature_by_name("OffsetY", true));
                if (!t) {
                    pCamera->OffsetY.SetValue(roi_y_start_.new_value(), true);
                    commit(roi_y_start_);
                    if (debug_bit(4))
                        printftostderr(name(), "   OFFSETY \t- %d", roi_y_start_.value());
                } else {
                    pCamera->OffsetY.FromString(t.get(), true);
                    if (debug_bit(4))
                        printftostderr(name(), "OFFSETY \t- %s", pCamera->OffsetY.ToString().c_str());
                }
            }
            item = Item::Width;
            if (camera_find_feature_by_name("Width") && GenApi::IsWritable(pCamera->Width)) {
                FeatureText t(camera_get_feature_by_name("Width", true));
                if (!t) {
                    pCamera->Width.SetValue(roi_x_end_.new_value() - roi_x_start_.new_value() + 1, true);
                    commit(roi_x_end_);
                    if (debug_bit(4))
                        printftostderr(name(), "   WIDTH \t- %d", roi_x_end_.value() - roi_x_start_.new_value() + 1);
                } else {
                    pCamera->Width.FromString(t.get(), true);
                    if (debug_bit(4))
                        printftostderr(name(), "WIDTH \t- %s", pCamera->Width.ToString().c_str());
                }
            } else if (debug_bit(4)) {
                printftostderr(name(), "WIDTH is not writable !!!");
            }
            item = Item::Height;
            if (camera_find_feature_by_name("Height") && GenApi::IsWritable(pCamera->Height)) {
                FeatureText t(camera_get_feature_by_name("Height", true));
                if (!t) {
                    pCamera->Height.SetValue(roi_y_end_.new_value() - roi_y_start_.new_value() + 1, true);
                    commit(roi_y_end_);
                    if (debug_bit(4))
                        printftostderr(name(), "  HEIGHT \t- %d", roi_y_end_.value() - roi_y_start_.new_value() + 1);
                } else {
                    pCamera->Height.FromString(t.get(), true);
                    if (debug_bit(4))
                        printftostderr(name(), "HEIGHT \t- %s", pCamera->Height.ToString().c_str());
                }
            } else if (debug_bit(4)) {
                printftostderr(name(), "HEIGHT is not writable !!!");
            }
        } catch (const GenICam::AccessException&) {
            failed = true;
        } catch (const GenICam::RuntimeException&) {
            failed = true;
        } catch (const GenICam::OutOfRangeException&) {
            failed = true;
        }
        if (failed) {
            printftostderr(name(), "EXCEPTION: Trying to fix image geometry");
            try {
                StreamGrabber->Close();
                switch (item) {
                case Item::OffsetX:
                    apply(roi_x_start_, 0);
                    pCamera->OffsetX.SetValue(0, true);
                    break;
                case Item::OffsetY:
                    apply(roi_y_start_, 0);
                    pCamera->OffsetY.SetValue(0, true);
                    break;
                case Item::Width:
                    apply(roi_x_end_, img_width.load());
                    pCamera->Width.SetValue(roi_x_end_.new_value() - roi_x_start_.new_value(), true);
                    break;
                case Item::Height:
                    apply(roi_y_end_, img_height.load());
                    pCamera->Height.SetValue(roi_y_end_.new_value() - roi_y_start_.new_value(), true);
                    break;
                }
            } catch (const GenICam::GenericException& e) {
                printftostderr(name(), "camera_start_acquisition() geometry repair failed: %s", e.GetDescription());
            }
            return 4;
        }

        // Converter for frame delivery; the output format and truncation follow per frame.
        if (Converter) {
            Converter->Uninitialize();
            delete Converter;
            Converter = nullptr;
        }
        Converter = new Pylon::CImageFormatConverter();
        commit(truncate_out_);
        try {
            Converter->Initialize(Pylon::CPixelTypeMapper::GetPylonPixelTypeByName(pCamera->PixelFormat.ToString()));
        } catch (const GenICam::AccessException&) {
            printftostderr(name(), "camera_start_acquisition() failed to init converter for %dx%d  %s",
                           static_cast<int>(pCamera->Width.GetValue()), static_cast<int>(pCamera->Height.GetValue()),
                           pCamera->PixelFormat.ToString().c_str());
            StreamGrabber->Close();
            delete Converter;
            Converter = nullptr;
            return 5;
        }

        camera_update_trigger_flags();
        const int a = acq_trig_on_.value();
        const int as = acq_trig_sel_.value();
        const int f = frame_trig_on_.value();
        const int fs = frame_trig_sel_.value();
        apply(trig_gate_, ((as > 0 && a > 0) || (f > 0 && fs > 0) || trig_enable.load() != 0) ? 1 : 0);

        // Acquisition mode.
        {
            FeatureText t(camera_get_feature_by_name("AcquisitionMode", true));
            if (!t) {
                pCamera->AcquisitionMode.SetValue(Pylon::AcquisitionMode_Continuous, true);
                if (debug_bit(4))
                    printftostderr(name(), "ACQUISITION MODE(C) \t- %s", pCamera->AcquisitionMode.ToString().c_str());
            } else {
                pCamera->AcquisitionMode.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "ACQUISITION MODE \t- %s", pCamera->AcquisitionMode.ToString().c_str());
            }
        }

        // Trigger source: entry number `sel` of the names the "TriggerSource" property
        // collected; an index beyond those names leaves the source unchanged.
        auto set_trigger_source = [this](pylon_prop* p, int sel) {
            if (!p || sel < 0)
                return;
            if (p->type != PYLON_TYPE_ENUMER || sel >= PYLON_MAX_ENUM_ENTRIES || !p->defaultVal.sval[sel]) {
                printftostderr(name(), "camera_start_acquisition() no trigger source number %d", sel);
                return;
            }
            pCamera->TriggerSource.FromString(*p->defaultVal.sval[sel], true);
            if (debug_bit(4))
                printftostderr(name(), "ACQ TRIGGER SOURCE \t- %s", pCamera->TriggerSource.ToString().c_str());
        };

        pylon_prop* p = camera_find_feature_by_name("TriggerSource");
        if (a >= 0) {
            pCamera->TriggerSelector.SetValue(Pylon::TriggerSelector_AcquisitionStart, true);
            if (a == 0) {
                pCamera->TriggerMode.SetValue(Pylon::TriggerMode_Off, true);
            } else {
                pCamera->TriggerMode.SetValue(Pylon::TriggerMode_On, true);
                set_trigger_source(p, as);
            }
            if (debug_bit(4))
                printftostderr(name(), "ACQ TRIGGER SELECTOR MODE \t- %s", pCamera->TriggerMode.ToString().c_str());
            // Trigger delay: TriggerDelayAbs, or TriggerDelay on a camera of today's naming;
            // a camera with neither has no delay to set.
            if (pylon_prop* d = camera_find_feature_by_name("TriggerDelayAbs")) {
                pCamera->TriggerDelayAbs.SetValue(d->get_value_as_float(), true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER DELAY ABS\t- %s", pCamera->TriggerDelayAbs.ToString().c_str());
            } else if (pCamera->TriggerDelayAbs.IsPresent()) {
                pCamera->TriggerDelayAbs.SetValue(0.0, true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER DELAY ABS (C)\t- %s", pCamera->TriggerDelayAbs.ToString().c_str());
            } else if (pylon_prop* d = camera_find_feature_by_name("TriggerDelay")) {
                pCamera->TriggerDelay.SetValue(d->get_value_as_float(), true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER DELAY\t- %s", pCamera->TriggerDelay.ToString().c_str());
            } else if (pCamera->TriggerDelay.IsPresent()) {
                pCamera->TriggerDelay.SetValue(0.0, true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER DELAY (C)\t- %s", pCamera->TriggerDelay.ToString().c_str());
            } else if (debug_bit(4)) {
                printftostderr(name(), "TRIGGER DELAY: none on this camera, nothing to set");
            }
        }
        if (f >= 0) {
            p = camera_find_feature_by_name("TriggerSource");
            pCamera->TriggerSelector.SetValue(Pylon::TriggerSelector_FrameStart, true);
            if (f == 0) {
                pCamera->TriggerMode.SetValue(Pylon::TriggerMode_Off, true);
            } else {
                pCamera->TriggerMode.SetValue(Pylon::TriggerMode_On, true);
                set_trigger_source(p, fs);
            }
            if (debug_bit(4))
                printftostderr(name(), "FRAME TRIGGER SELECTOR MODE \t- %s", pCamera->TriggerMode.ToString().c_str());
            if (as == 0 && f == 0 && a > 0)
                pCamera->TriggerSelector.SetValue(Pylon::TriggerSelector_AcquisitionStart, true);
        }

        // Trigger activation of the trigger now selected.
        {
            FeatureText t(camera_get_feature_by_name("TriggerActivation", true));
            if (!t && !pCamera->TriggerActivation.IsPresent()) {
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER ACTIVATION: none on this camera, nothing to set");
            } else if (!t) {
                pCamera->TriggerActivation.SetValue(Pylon::TriggerActivation_RisingEdge, true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER ACTIVATION(C) \t- %s", pCamera->TriggerActivation.ToString().c_str());
            } else {
                pCamera->TriggerActivation.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "TRIGGER ACTIVATION \t- %s", pCamera->TriggerActivation.ToString().c_str());
            }
        }

        if (camera_find_feature_by_name("AcquisitionFrameCount") && GenApi::IsWritable(pCamera->AcquisitionFrameCount)) {
            FeatureText t(camera_get_feature_by_name("AcquisitionFrameCount", true));
            if (!t) {
                pCamera->AcquisitionFrameCount.SetValue(1, true);
                if (debug_bit(4))
                    printftostderr(name(), "ACQUISITION FRAME COUNT (C) \t- %s", pCamera->AcquisitionFrameCount.ToString().c_str());
            } else {
                pCamera->AcquisitionFrameCount.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "ACQUISITION FRAME COUNT  \t- %s", pCamera->AcquisitionFrameCount.ToString().c_str());
            }
        }

        {
            FeatureText t(camera_get_feature_by_name("ExposureMode", true));
            if (!t && !pCamera->ExposureMode.IsPresent()) {
                if (debug_bit(4))
                    printftostderr(name(), "EXPOSURE MODE: none on this camera, nothing to set");
            } else if (!t) {
                pCamera->ExposureMode.SetValue(Pylon::ExposureMode_Timed, true);
            } else {
                pCamera->ExposureMode.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "EXPOSURE MODE \t- %s", pCamera->ExposureMode.ToString().c_str());
            }
        }

        {
            FeatureText t(camera_get_feature_by_name("ExposureTimeRaw", true));
            const bool w = GenApi::IsWritable(pCamera->ExposureTimeRaw);
            if (!t) {
                // The default of 80 where the camera's range holds it; a camera whose raw
                // exposure counts other units keeps its own value.
                if (w && pCamera->ExposureTimeRaw.GetMin() <= 80 && pCamera->ExposureTimeRaw.GetMax() >= 80)
                    pCamera->ExposureTimeRaw.SetValue(80, true);
                else if (w && debug_bit(4))
                    printftostderr(name(), "EXPOSURE TIME RAW 80 is outside the camera's range: left alone");
                else if (!w && debug_bit(4))
                    printftostderr(name(), "EXPOSURE TIME RAW is not writable and not readable");
            } else if (w) {
                pCamera->ExposureTimeRaw.FromString(t.get(), true);
                if (debug_bit(4))
                    printftostderr(name(), "EXPOSURE TIME RAW \t- %s", pCamera->ExposureTimeRaw.ToString().c_str());
            } else {
                camera_reset_feature_value("ExposureTimeRaw");
                if (debug_bit(4))
                    printftostderr(name(), "EXPOSURE TIME RAW is not writable at the moment");
            }
        }

        // Buffer pool: ten buffers of the payload size, registered, then all queued.
        const int64_t payload = pCamera->PayloadSize.GetValue();
        StreamGrabber->MaxBufferSize.SetValue(payload, true);
        StreamGrabber->MaxNumBuffer.SetValue(N_GRAB_BUFFERS, true);
        StreamGrabber->PrepareGrab();
        for (int i = 0; i < N_GRAB_BUFFERS; ++i) {
            auto buffer = std::make_unique<CGrabBuffer>(static_cast<size_t>(payload));
            buffer->SetBufferHandle(StreamGrabber->RegisterBuffer(buffer->GetBufferPointer(), static_cast<size_t>(payload)));
            BufferList.push_back(buffer.release());
        }
        for (CGrabBuffer* buffer : BufferList)
            StreamGrabber->QueueBuffer(buffer->GetBufferHandle(), nullptr);

        readback_keeping_client_writes(*this);

        pCamera->AcquisitionStart.Execute(true);
        format_changed = false;
        return 0;
    } catch (const GenICam::GenericException& e) {
        printftostderr(name(), "camera_start_acquisition() Exception: %s", e.GetDescription());
        return 6;
    }
}

int EqFctPylon::camera_stop_acquisition()
{
    if (debug_bit(1))
        printftostderr(name(), "Stop acq called");
    {
        std::lock_guard lk(run_state_mx);
        run_state_.set_value(-1);
    }
    if (!pCamera || exeption)
        return 1;

    PthreadLock lock(cbk_mx);
    if (!StreamGrabber)
        return 0;
    if (debug_.value() == -10)
        printftostderr(name(), "Stopping acquisition");

    try {
        if (StreamGrabber->IsOpen()) {
            camera_update_stream_statistics(true);
            StreamGrabber->CancelGrab();
        }
        // Drain the output queue. A result that the wait object announces but that cannot
        // be retrieved is reported; a bounded number of such misses ends the drain.
        Pylon::GrabResult result;
        int misses = 0;
        while (misses < 2 * N_GRAB_BUFFERS && StreamGrabber->GetWaitObject().Wait(0)) {
            if (!StreamGrabber->RetrieveResult(result)) {
                printftostderr(name(), "Faile to retrieve item from output queueu");
                ++misses;
            }
        }
    } catch (const GenICam::GenericException& e) {
        printftostderr(name(), "camera_stop_acquisition() Exception: %s", e.GetDescription());
    }

    try {
        pCamera->AcquisitionStop.Execute(true);
    } catch (const GenICam::AccessException& e) {
        printftostderr(name(), "!!!!!! Stopping acquisition  exception _. %s", e.GetDescription());
        exeption = true;
        g_sts_.online(0);
    } catch (const GenICam::RuntimeException& e) {
        printftostderr(name(), "!!!!!! Stopping acquisition  exception _. %s", e.GetDescription());
        exeption = true;
        g_sts_.online(0);
    }

    // Buffers the grabber refused to give back: freed only once the grabber is closed,
    // since until then it may still write into them.
    std::vector<CGrabBuffer*> kept;
    for (size_t i = 0; i < BufferList.size(); ++i) {
        if (!exeption) {
            try {
                StreamGrabber->DeregisterBuffer(BufferList[i]->GetBufferHandle());
            } catch (const GenICam::LogicalErrorException& e) {
                printftostderr(name(), "Exception while StreamGrabber->DeregisterBuffer(): %s", e.GetDescription());
                exeption = true;
                g_sts_.online(0);
                kept.assign(BufferList.begin() + static_cast<std::ptrdiff_t>(i), BufferList.end());
                break;
            }
        }
        delete BufferList[i];
        BufferList[i] = nullptr;
    }
    BufferList.clear();

    try {
        StreamGrabber->FinishGrab();
        if (StreamGrabber->IsOpen())
            StreamGrabber->Close();
    } catch (const GenICam::LogicalErrorException&) {
        printftostderr(name(), "camera_stop_acquisition() logical error while stopping grabber");
        exeption = true;
        delete StreamGrabber;
        StreamGrabber = nullptr;
        g_sts_.online(0);
        return 0;  // kept buffers stay allocated: the grabber may still know them
    } catch (const GenICam::RuntimeException& e) {
        printftostderr(name(), "!!!!!! Stopping acquisition  exception _. %s", e.GetDescription());
        exeption = true;
        delete StreamGrabber;
        StreamGrabber = nullptr;
        g_sts_.online(0);
        return 0;
    }
    delete StreamGrabber;
    StreamGrabber = nullptr;
    for (CGrabBuffer* buffer : kept)
        delete buffer;
    return 0;
}

bool EqFctPylon::camera_is_acquisition_started()
{
    if (!pCamera)
        return false;
    PthreadLock lock(cbk_mx);
    return StreamGrabber && StreamGrabber->IsOpen();
}

bool EqFctPylon::camera_is_acq_feature_changed()
{
    if (exeption)
        return true;
    if (debug_bit(0x40))
        printftostderr(name(), "EqFctPylon::camera_is_acq_feature_changed(): called");
    if (pCamera) {
        PthreadLock lock(cbk_mx);  // against a feature-file load's read-back on the host's thread
        for (pylon_prop* p : pylon_prop_) {
            if (p && p->acq_restart != 0 && p->is_changed()) {
                if (debug_bit(4)) {
                    printftostderr(name(), "camera_is_acq_feature_changed() ACQ PARAM %s changed", p->node_name.c_str());
                    p->print();
                }
                return true;
            }
        }
    }
    return acq_trig_on_.is_changed() || frame_trig_on_.is_changed() || acq_trig_sel_.is_changed() ||
           frame_trig_sel_.is_changed() || truncate_out_.is_changed();
}

int EqFctPylon::is_trigger_mode_available()
{
    if (!pCamera)
        return 0;
    no_daq = 0;
    return 1;
}
