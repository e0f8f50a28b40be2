// CPU time per frame of a GigE Vision stream (Aravis's fake camera, Mono8 at its largest
// size) in three consumers, measured in the same run on the same camera:
//   BM_BareAravis   the reference: Aravis's own stream with its own buffers, popped and
//                   pushed back, nothing else;
//   BM_PylonGrab    our transport: the stream grabber's registered buffers filled in place
//                   (no copy beyond the one into the grab buffer), retrieved and re-queued;
//   BM_Location     the whole path into a camera location: its camera thread delivers
//                   every frame (conversion into the image buffer, hand-over to the host).
// Time is the process's CPU time (every thread of ours, the receiving thread included;
// the camera is another process) divided by the frames received. The counter
// "x_aravis" is the ratio to the reference (target for BM_PylonGrab: within 1.2x).
// BM_Location also splits its time by thread (us per frame): "receive_us" (Aravis's receiving
// thread, the reference's whole work), "camera_thread_us" (conversion into the image buffer and
// the copy buffer's copy at the hand-over), "image_output_us" (beam statistics) and "other_us".
//
// The program re-executes itself inside a private user and network namespace holding
// only loopback (unshare -rn); without one it reports that and measures nothing.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/transport/GigETransport.h>

#include "eq_pylon.h"
#include "gige_test_support.h"

namespace {

constexpr const char* kSerial = "5150";
constexpr int kFrames = 100;
// Frames let through before the measurement: more than the ten buffers, so that every buffer
// has been written once (its first write faults its pages in) in each consumer alike.
constexpr int kWarmUpFrames = 15;

double process_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The fake camera for the whole run.
struct Camera {
    Camera() : description(gige_test::DescriptionFile()), fake(kSerial, description) { ready = fake.Answers(); }
    ~Camera() { std::remove(description.c_str()); }
    std::string description;
    gige_test::FakeCamera fake;
    bool ready = false;
};

Camera& camera()
{
    static Camera c;
    return c;
}

// CPU seconds of each of this process's threads so far, summed by thread name.
std::map<std::string, double> thread_seconds()
{
    std::map<std::string, double> by_name;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        double ns = 0; // first field of schedstat: time spent on a CPU
        std::ifstream(task.path() / "schedstat") >> ns;
        by_name[name] += ns * 1e-9;
    }
    return by_name;
}

// The per-frame split of BM_Location's time between its threads, as counters.
void report_threads(benchmark::State& state, const std::map<std::string, double>& before,
                    const std::map<std::string, double>& after, int frames)
{
    if (frames <= 0)
        return;
    double receive = 0, camera = 0, output = 0, other = 0;
    for (const auto& [name, seconds] : after) {
        const auto was = before.find(name);
        const double spent = seconds - (was == before.end() ? 0.0 : was->second);
        (name == "arv_gv_stream" ? receive : name == "pylon_thread" ? camera : name == "image_output" ? output : other) += spent;
    }
    const double per_frame = 1e6 / frames;
    state.counters["receive_us"] = receive * per_frame;
    state.counters["camera_thread_us"] = camera * per_frame;
    state.counters["image_output_us"] = output * per_frame;
    state.counters["other_us"] = other * per_frame;
}

double reference_us = 0; // BM_BareAravis's CPU time per frame

void report(benchmark::State& state, double seconds, int frames, bool reference)
{
    const double us = frames > 0 ? seconds * 1e6 / frames : 0;
    state.counters["cpu_us_per_frame"] = us;
    state.counters["frames"] = frames;
    if (reference)
        reference_us = us;
    else
        state.counters["x_aravis"] = reference_us > 0 ? us / reference_us : 0.0;
}

void BM_BareAravis(benchmark::State& state)
{
    if (!camera().ready)
        return state.SkipWithError("the fake camera did not answer");
    GInetAddress* address = g_inet_address_new_from_string(gige_test::kCameraAddress);
    ArvDevice* device = arv_gv_device_new(address, address, nullptr);
    g_object_unref(address);
    arv_gv_device_take_control(ARV_GV_DEVICE(device), nullptr);
    arv_gv_device_set_packet_size_adjustment(ARV_GV_DEVICE(device), ARV_GV_PACKET_SIZE_ADJUSTMENT_NEVER);
    arv_device_set_integer_feature_value(device, "GevSCPSPacketSize", 8192, nullptr);
    arv_device_set_integer_feature_value(device, "Width", arv_device_get_integer_feature_value(device, "SensorWidth", nullptr), nullptr);
    arv_device_set_integer_feature_value(device, "Height", arv_device_get_integer_feature_value(device, "SensorHeight", nullptr), nullptr);
    arv_device_set_string_feature_value(device, "PixelFormat", "Mono8", nullptr);
    const gint64 payload = arv_device_get_integer_feature_value(device, "PayloadSize", nullptr);
    ArvStream* stream = arv_device_create_stream(device, nullptr, nullptr, nullptr);
    for (int i = 0; i < 10; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(static_cast<size_t>(payload), nullptr));
    arv_device_execute_command(device, "AcquisitionStart", nullptr);
    for (int i = 0; i < kWarmUpFrames; ++i)
        if (ArvBuffer* b = arv_stream_timeout_pop_buffer(stream, 5000000))
            arv_stream_push_buffer(stream, b);
    int frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = process_seconds();
        frames = 0;
        while (frames < kFrames) {
            ArvBuffer* b = arv_stream_timeout_pop_buffer(stream, 5000000);
            if (!b)
                break;
            if (arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS)
                ++frames;
            arv_stream_push_buffer(stream, b);
        }
        seconds = process_seconds() - t0;
    }
    arv_device_execute_command(device, "AcquisitionStop", nullptr);
    g_object_unref(stream);
    arv_gv_device_leave_control(ARV_GV_DEVICE(device), nullptr);
    g_object_unref(device);
    state.counters["payload_bytes"] = static_cast<double>(payload);
    report(state, seconds, frames, true);
}

std::shared_ptr<Pylon::Transport::ITransportLayer> layer()
{
    static auto l = [] {
        auto made = Pylon::Transport::CreateGigETransportLayer(
            {{gige_test::kCameraAddress}, false, {}, std::chrono::milliseconds(2000), {}});
        Pylon::CTlFactory::GetInstance().RegisterTransportLayer(made);
        return made;
    }();
    return l;
}

void BM_PylonGrab(benchmark::State& state)
{
    if (!camera().ready)
        return state.SkipWithError("the fake camera did not answer");
    Pylon::PylonInitialize();
    layer();
    Pylon::DeviceInfoList_t list;
    Pylon::CTlFactory::GetInstance().EnumerateDevices(list);
    Pylon::IPylonDevice* device = nullptr;
    for (const auto& info : list)
        if (info.GetSerialNumber() == kSerial)
            device = Pylon::CTlFactory::GetInstance().CreateDevice(info);
    if (!device)
        return state.SkipWithError("camera not found");
    device->Open();
    GenApi::INodeMap& map = *device->GetNodeMap();
    GenApi::CIntegerPtr(map.GetNode("GevSCPSPacketSize"))->SetValue(8192);
    GenApi::CIntegerPtr(map.GetNode("Width"))->SetValue(GenApi::CIntegerPtr(map.GetNode("SensorWidth"))->GetValue());
    GenApi::CIntegerPtr(map.GetNode("Height"))->SetValue(GenApi::CIntegerPtr(map.GetNode("SensorHeight"))->GetValue());
    GenApi::CEnumerationPtr(map.GetNode("PixelFormat"))->FromString("Mono8");
    const size_t payload = static_cast<size_t>(GenApi::CIntegerPtr(map.GetNode("PayloadSize"))->GetValue());
    Pylon::IStreamGrabber* grabber = device->GetStreamGrabber(0);
    grabber->Open();
    GenApi::CIntegerPtr(grabber->GetNodeMap()->GetNode("MaxBufferSize"))->SetValue(static_cast<int64_t>(payload));
    GenApi::CIntegerPtr(grabber->GetNodeMap()->GetNode("MaxNumBuffer"))->SetValue(10);
    grabber->PrepareGrab();
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<Pylon::StreamBufferHandle> handles;
    for (int i = 0; i < 10; ++i) {
        buffers.push_back(std::make_unique<uint8_t[]>(payload));
        handles.push_back(grabber->RegisterBuffer(buffers.back().get(), payload));
        grabber->QueueBuffer(handles.back());
    }
    GenApi::CCommandPtr(map.GetNode("AcquisitionStart"))->Execute();
    for (int i = 0; i < kWarmUpFrames; ++i) {
        Pylon::GrabResult r;
        if (grabber->GetWaitObject().Wait(5000) && grabber->RetrieveResult(r))
            grabber->QueueBuffer(r.Handle());
    }
    int frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = process_seconds();
        frames = 0;
        Pylon::GrabResult r;
        while (frames < kFrames && grabber->GetWaitObject().Wait(5000) && grabber->RetrieveResult(r)) {
            if (r.Succeeded())
                ++frames;
            grabber->QueueBuffer(r.Handle());
        }
        seconds = process_seconds() - t0;
    }
    GenApi::CCommandPtr(map.GetNode("AcquisitionStop"))->Execute();
    grabber->CancelGrab();
    Pylon::GrabResult r;
    while (grabber->RetrieveResult(r)) {
    }
    for (auto h : handles)
        grabber->DeregisterBuffer(h);
    grabber->FinishGrab();
    grabber->Close();
    Pylon::CTlFactory::GetInstance().DestroyDevice(device);
    Pylon::PylonTerminate();
    state.counters["payload_bytes"] = static_cast<double>(payload);
    report(state, seconds, frames, false);
}

void BM_Location(benchmark::State& state)
{
    if (!camera().ready)
        return state.SkipWithError("the fake camera did not answer");
    Pylon::PylonInitialize();
    layer();
    std::unique_ptr<EqFctPylon> loc;
    {
        mirva::LocationCreation scope("GIGE_BENCH", {{"SERIAL", kSerial}, {"RESTORE_OLD", "1"}, {"INTERFACE", "127.0.0.1"}});
        loc = std::make_unique<EqFctPylon>();
    }
    loc->set_recovery_period(std::chrono::hours(1));
    loc->find_cameras_of_type(1); // the process-wide camera list, as the server's start-up makes it
    {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->init();
        loc->post_init();
    }
    if (!gige_test::Eventually([&] { return loc->g_sts_.online() == 1; }, std::chrono::seconds(30)))
        return state.SkipWithError("the location did not come on line");
    auto& cam = *loc->pCamera;
    // The camera's largest image (its own description names no WidthMax: the location's
    // stand-in gives it).
    cam.Width.SetValue(loc->camera_largest_size(true));
    cam.Height.SetValue(loc->camera_largest_size(false));
    loc->start_.set_value(1);
    // The host's update cycle (once per second, the server's default period) and its image-output
    // thread run meanwhile.
    std::atomic<bool> stop{false};
    std::thread updater([&] {
        while (!stop) {
            {
                std::lock_guard lk(loc->lifecycle_mutex());
                loc->update();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        }
    });
    int frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        gige_test::Eventually([&] { return loc->frame_counter_.value() > kWarmUpFrames; }, std::chrono::seconds(30));
        const int first = loc->frame_counter_.value();
        const auto threads_before = thread_seconds();
        const double t0 = process_seconds();
        gige_test::Eventually([&] { return loc->frame_counter_.value() >= first + kFrames; }, std::chrono::seconds(60));
        seconds = process_seconds() - t0;
        frames = loc->frame_counter_.value() - first;
        report_threads(state, threads_before, thread_seconds(), frames);
    }
    stop = true;
    updater.join();
    loc->start_.set_value(0);
    loc->camera_stop_host_threads();
    loc->cancel();
    loc.reset();
    Pylon::PylonTerminate();
    report(state, seconds, frames, false);
}

} // namespace

BENCHMARK(BM_BareAravis)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PylonGrab)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Location)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    gige_test::ReexecInPrivateNetwork(argc, argv);
    if (!std::getenv(gige_test::kInNamespace)) {
        std::printf("bench_gige: no private network namespace here (unshare -rn): nothing measured\n");
        return 0;
    }
    if (!gige_test::OnlyLoopback()) {
        std::printf("bench_gige: the network namespace holds more than lo: nothing measured\n");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
