// Camera base: buffers, image hand-over, software trigger, recovery and the TCP sender.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <numeric>
#include <thread>

#include <mirva/bcam_base.h>
#include <mirva/location_list.h>
#include <mirva/server.h>

#include "test_support.h"

using mirva::test::bytes_of;
using mirva::test::eventually;
using mirva::test::FakeCamera;
using namespace std::chrono_literals;

namespace {

// Hands an image to the output thread the way frame delivery does.
bool hand_over(bcam_base& cam, const std::vector<uint8_t>& pixels, int w, int h, int bpp = 0) {
    std::lock_guard lk(cam.out_mx);
    if (!cam.out_free) return false;
    if (!pixels.empty()) {
        std::memcpy(cam.output_buffer, pixels.data(), pixels.size());
        std::memcpy(cam.copy_buffer, pixels.data(), pixels.size());
    }
    cam.out_width = w;
    cam.out_height = h;
    cam.out_extra = 0;
    cam.out_bpp = bpp;
    cam.out_free = false;
    cam.new_image = true;
    cam.out_cond.notify_all();
    return true;
}

std::vector<uint8_t> ramp(size_t n) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), uint8_t{1});
    return v;
}

TEST(BuffersTest, CreatesThreeBuffersOfTheRequestedSize) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(640, 480, 2));
    EXPECT_EQ(cam.image_buffer_size, 640 * 480 * 2);
    ASSERT_NE(cam.image_buffer, nullptr);
    ASSERT_NE(cam.output_buffer, nullptr);
    ASSERT_NE(cam.copy_buffer, nullptr);
    EXPECT_NE(cam.image_buffer, cam.output_buffer);
    EXPECT_NE(cam.output_buffer, cam.copy_buffer);
    // The whole size is usable (ASan checks the bounds).
    std::memset(cam.image_buffer, 0xab, static_cast<size_t>(cam.image_buffer_size));
    std::memset(cam.output_buffer, 0xab, static_cast<size_t>(cam.image_buffer_size));
    std::memset(cam.copy_buffer, 0xab, static_cast<size_t>(cam.image_buffer_size));

    ASSERT_FALSE(cam.camera_create_all_buffers(16, 8, 3));  // again, smaller
    EXPECT_EQ(cam.image_buffer_size, 16 * 8 * 3);
}

TEST(BuffersTest, RefusesSizesThatCannotBeBuffers) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(4, 4, 1));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(cam.camera_create_all_buffers(0, 480, 1));
    EXPECT_TRUE(cam.camera_create_all_buffers(640, -1, 1));
    EXPECT_TRUE(cam.camera_create_all_buffers(640, 480, 0));
    EXPECT_TRUE(cam.camera_create_all_buffers(65536, 65536, 4));  // overflows 32 bits
    EXPECT_TRUE(cam.camera_create_all_buffers(20000, 20000, 4));  // beyond any camera
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5) << err;
    EXPECT_EQ(cam.image_buffer_size, 16);  // the earlier buffers stay
}

TEST(BuffersTest, DefaultImageSizeComesFromTheProperties) {
    FakeCamera cam;
    cam.camera_set_default_img_size();
    EXPECT_EQ(cam.img_width.load(), 640);
    EXPECT_EQ(cam.img_height.load(), 480);
    cam.width_.set_value(1024);
    cam.height_.set_value(768);
    cam.camera_set_default_img_size();
    EXPECT_EQ(cam.img_width.load(), 1024);
    EXPECT_EQ(cam.img_height.load(), 768);
}

TEST(CameraBaseTest, PropertiesHaveTheirNames) {
    FakeCamera cam;
    for (const char* n : {"ONLINE", "ERROR.CODE", "ERROR.TEXT", "CAMERA.STATUS", "SERIAL", "WIDTH", "HEIGHT", "EBITS",
                          "BPP", "BINNING.X", "BINNING.Y", "ROI.X.START", "ROI.X.END", "ROI.Y.START", "ROI.Y.END",
                          "START", "GROUP", "DEBUG", "FRAME.COUNTER", "IMAGE.COUNTER", "FRAME.RATE", "ACQ.STATE",
                          "RUN.STATE", "POWER", "TRIGGER.GATE", "TRIGGER.GATED", "SWTRIGGER.ENABLE", "SWTRIGGER",
                          "CALIBRATION", "CALIBRATION.DONE", "BKG.SUBTRACT", "BKG.STATUS", "WRITE.IMAGE", "WRITE.ROI",
                          "SCALE.X", "SCALE.X.ENABLE", "SCALE.Y", "SCALE.Y.ENABLE", "INTERFACE", "TCP.PORT"}) {
        EXPECT_NE(cam.find_property(n), nullptr) << n;
    }
    EXPECT_STREQ(cam.find_property("ONLINE")->class_name(), "D_gen_sts");
    EXPECT_STREQ(cam.find_property("BINNING.X")->class_name(), "D_cam_param_int");
    EXPECT_EQ(cam.serial_.value(), 0);
    EXPECT_EQ(cam.bin_x_.value(), 1);
}

TEST(CameraBaseTest, StateFileKeepsSettingsButNotRunTimeState) {
    FakeCamera cam;
    std::vector<std::string> kept;
    cam.for_each_property([&](D_fct& p) {
        if (p.stored_text()) kept.push_back(p.name());
    });
    for (const char* setting : {"SERIAL", "START", "GROUP", "BINNING.X", "ROI.Y.END", "SWTRIGGER.ENABLE", "INTERFACE",
                                "TCP.PORT", "SCALE.X", "WIDTH"}) {
        EXPECT_THAT(kept, testing::Contains(setting));
    }
    for (const char* state : {"ONLINE", "ERROR.CODE", "ERROR.TEXT", "CAMERA.STATUS", "FRAME.COUNTER", "IMAGE.COUNTER",
                              "FRAME.RATE", "SWTRIGGER", "RUN.STATE", "CALIBRATION.DONE"}) {
        EXPECT_THAT(kept, testing::Not(testing::Contains(state)));
    }
}

TEST(CameraBaseTest, StoredSettingsReplaceTheStartUpValues) {
    mirva::LocationCreation scope("CAMS", {{"SERIAL", "4711"}, {"BINNING.X", "2"}, {"SWTRIGGER.ENABLE", "1"}});
    FakeCamera cam;
    EXPECT_EQ(cam.serial_.value(), 4711);
    EXPECT_EQ(cam.bin_x_.value(), 2);
    EXPECT_TRUE(cam.bin_x_.get_valid());
    EXPECT_EQ(cam.bin_y_.value(), 1);
    EXPECT_EQ(cam.trig_enable.load(), 1);
}

TEST(CameraBaseTest, InitParamResetsPendingWritesAndTheReadyFlag) {
    FakeCamera cam;
    cam.camera_set_ready_flag();
    ASSERT_EQ(cam.bin_x_.client_write(mirva::ClientValue{int64_t{4}}).code, mirva::WriteResult::ok);
    ASSERT_EQ(cam.roi_y_end_.client_write(mirva::ClientValue{int64_t{100}}).code, mirva::WriteResult::ok);
    cam.init_param();
    EXPECT_FALSE(cam.bin_x_.is_changed());
    EXPECT_EQ(cam.bin_x_.new_value(), 1);
    EXPECT_FALSE(cam.roi_y_end_.is_changed());
    EXPECT_FALSE(cam.camera_is_ready());
}

TEST(CameraBaseTest, ForcedPowerIsReassertedWhenItDiffers) {
    FakeCamera cam;
    cam.power_value.store(3);
    EXPECT_EQ(cam.camera_update_auto_power(), 0);
    EqData d;
    d.set(cam.power_value.load());
    cam.power_.set(d);
    EXPECT_NE(cam.camera_update_auto_power(), 0);
    cam.power_.client_write(mirva::ClientValue{int64_t{1}});
    EXPECT_EQ(cam.camera_update_auto_power(), 0);
}

TEST(CameraBaseTest, ImageCounterAndCameraListAndStatus) {
    FakeCamera cam;
    cam.interrupt_usr1(1);
    cam.interrupt_usr1(1);
    EXPECT_EQ(cam.image_counter_.value(), 2);
    cam.camera_add_to_bcam_list();
    cam.camera_add_to_bcam_list();
    auto list = bcam_base::bcam_list();
    EXPECT_EQ(std::count(list.begin(), list.end(), &cam), 1);
    cam.set_camera_status("Online");
    EXPECT_EQ(cam.cam_status_.value(), "Online");
}

TEST(CameraBaseTest, RemovalFromTheLocationListStopsTheHostThreads) {
    auto owned = std::make_unique<FakeCamera>();
    FakeCamera* cam = owned.get();
    ASSERT_FALSE(cam->camera_create_all_buffers(4, 4, 1));
    ASSERT_FALSE(cam->camera_start_mirva_output_thread());
    ASSERT_FALSE(cam->camera_start_tcp_thread());
    cam->set_recovery_period(std::chrono::hours(1));
    cam->camera_start_recovery_thread();
    auto& list = mirva::LocationList::instance();
    list.add(std::move(owned));
    std::unique_ptr<EqFct> back = list.remove(cam);
    ASSERT_EQ(back.get(), cam);
    EXPECT_EQ(cam->tcp_thread.load(), pthread_t{0});
    // The output thread is gone: a hand-over stays untaken.
    ASSERT_TRUE(hand_over(*cam, ramp(16), 4, 4));
    EXPECT_EQ(cam->wait_for_image(0, std::chrono::milliseconds(50)), nullptr);
    std::lock_guard lk(cam->out_mx);
    EXPECT_TRUE(cam->new_image);
}

TEST(ImageOutputTest, HandedOverImagesBecomeTheLatestImage) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(8, 4, 2));
    cam.ebits_.set_value(12);  // 2 bytes per pixel
    cam.frame_counter_.set_value(41);
    cam.roi_x_start_.mirva::D_value<int>::set_value(5);
    cam.bin_x_.mirva::D_value<int>::set_value(2);
    EXPECT_EQ(cam.latest_image(), nullptr);
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());  // already running: nothing to do

    cam.camera_set_ev_num(true);
    auto pixels = ramp(6 * 3 * 2);
    ASSERT_TRUE(hand_over(cam, pixels, 6, 3));
    auto img = cam.wait_for_image(0, 5s);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->sequence, 1u);
    EXPECT_EQ(img->width, 6);
    EXPECT_EQ(img->height, 3);
    EXPECT_EQ(img->bytes_per_pixel, 2);
    EXPECT_EQ(bytes_of(img->pixels), pixels);
    EXPECT_EQ(img->header.img_prm.w, 6);
    EXPECT_EQ(img->header.img_prm.h, 3);
    EXPECT_EQ(img->header.img_prm.bpp, 2);
    EXPECT_EQ(img->header.img_prm.frame, 41u);
    EXPECT_EQ(img->header.img_prm.event_nm, 1u);
    EXPECT_GT(img->header.img_prm.sec, 0u);
    EXPECT_EQ(img->header.img_ext_prm.x_start, 5);
    EXPECT_EQ(img->header.img_ext_prm.hbin, 2);
    EXPECT_EQ(img->header.img_ext_prm.source_format, 17);  // from the back-end
    EXPECT_EQ(img->header.img_ext_prm.length, 36);
    {
        std::lock_guard lk(cam.out_mx);
        EXPECT_TRUE(cam.out_free);
        EXPECT_FALSE(cam.new_image);
    }
    EXPECT_EQ(cam.latest_image(), img);

    // A second image replaces the first; the first stays valid for whoever holds it.
    auto second = ramp(6 * 3 * 2);
    second[0] = 200;
    ASSERT_TRUE(hand_over(cam, second, 6, 3));
    auto img2 = cam.wait_for_image(1, 5s);
    ASSERT_NE(img2, nullptr);
    EXPECT_EQ(img2->pixels[0], 200);
    EXPECT_EQ(img->pixels[0], 1);

    // A hand-over bigger than the buffers is cut, never read past them.
    ASSERT_TRUE(hand_over(cam, {}, 100, 100));
    auto img3 = cam.wait_for_image(2, 5s);
    ASSERT_NE(img3, nullptr);
    EXPECT_TRUE(img3->pixels.empty());

    // An 8-bit image handed over before the effective bits went to 12 for the next frame
    // keeps its own pixel size.
    auto narrow = ramp(6 * 3);
    ASSERT_TRUE(hand_over(cam, narrow, 6, 3, 1));
    auto img4 = cam.wait_for_image(3, 5s);
    ASSERT_NE(img4, nullptr);
    EXPECT_EQ(img4->bytes_per_pixel, 1);
    EXPECT_EQ(bytes_of(img4->pixels), narrow);

    cam.camera_stop_mirva_output_thread();
    cam.camera_stop_mirva_output_thread();
}

TEST(ImageOutputTest, ListenersHearOfEachImageAndImagesHeldByClientsAreNeverFilledAgain) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(8, 4, 1));
    cam.ebits_.set_value(8);
    std::atomic<int> heard{0};
    const uint64_t listener = cam.add_image_listener([&] { ++heard; });
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());

    // The output thread uses the storage of images nobody holds again; a client's image
    // keeps its pixels whatever comes after it.
    constexpr int kImages = 12;
    std::vector<std::shared_ptr<const mirva::DeliveredImage>> held;
    for (int i = 0; i < kImages; ++i) {
        auto pixels = ramp(8 * 4);
        pixels[0] = static_cast<uint8_t>(100 + i);
        ASSERT_TRUE(hand_over(cam, pixels, 8, 4, 1));
        auto img = cam.wait_for_image(static_cast<uint64_t>(i), 5s);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(bytes_of(img->pixels), pixels);
        if (i % 3 == 0)
            held.push_back(img);
    }
    EXPECT_TRUE(eventually([&] { return heard.load() == kImages; }));
    for (size_t k = 0; k < held.size(); ++k)
        EXPECT_EQ(held[k]->pixels[0], 100 + 3 * k) << "image " << 3 * k;

    // A removed listener hears nothing more.
    cam.remove_image_listener(listener);
    ASSERT_TRUE(hand_over(cam, ramp(8 * 4), 8, 4, 1));
    ASSERT_NE(cam.wait_for_image(kImages, 5s), nullptr);
    EXPECT_EQ(heard.load(), kImages);
    cam.camera_stop_mirva_output_thread();
}

TEST(ImageOutputTest, ImagesOfAnySizeTakeTheOutputBufferItselfAndKeepTheirBytes) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(8, 4, 2));
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());

    // Frames smaller than the buffer (a region, fewer bytes per pixel) as well as full ones:
    // each image gets the output buffer's storage instead of a copy, and the location gets
    // storage of its full buffer size back.
    struct Size { int w, h, bpp; };
    const Size sizes[] = {{6, 3, 1}, {8, 4, 2}, {2, 2, 1}, {8, 4, 1}, {5, 5, 2}, {8, 4, 2}};
    std::vector<std::shared_ptr<const mirva::DeliveredImage>> held;
    std::vector<std::vector<uint8_t>> sent;
    for (const Size& s : sizes) {
        auto pixels = ramp(static_cast<size_t>(s.w * s.h * s.bpp));
        pixels[0] = static_cast<uint8_t>(100 + sent.size());
        const uint8_t* handed = nullptr;
        {
            std::lock_guard lk(cam.out_mx);
            handed = cam.output_buffer;
        }
        ASSERT_TRUE(hand_over(cam, pixels, s.w, s.h, s.bpp));
        auto img = cam.wait_for_image(sent.size(), 5s);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->pixels.data(), handed) << s.w << "x" << s.h << "x" << s.bpp << ": copied";
        EXPECT_EQ(bytes_of(img->pixels), pixels);
        {
            // the whole buffer is the location's to write again (ASan checks the bounds)
            std::lock_guard lk(cam.out_mx);
            EXPECT_NE(cam.output_buffer, img->pixels.data());
            std::memset(cam.output_buffer, 0xab, static_cast<size_t>(cam.image_buffer_size));
        }
        held.push_back(img);
        sent.push_back(pixels);
    }
    for (size_t k = 0; k < held.size(); ++k)
        EXPECT_EQ(bytes_of(held[k]->pixels), sent[k]) << "image " << k;
    cam.camera_stop_mirva_output_thread();
}

TEST(SoftwareTriggerTest, ClientRequestWakesTheWaitingCameraThread) {
    FakeCamera cam;
    ASSERT_EQ(cam.sw_trig_enable_.client_write(mirva::ClientValue{int64_t{1}}).code, mirva::WriteResult::ok);
    EXPECT_EQ(cam.trig_enable.load(), 1);

    std::promise<bool> woke;
    std::thread camera([&] {
        std::unique_lock lk(cam.sw_trig_mx);
        bool ok = cam.sw_trig_cond.wait_for(lk, 5s, [&] { return cam.sw_trig_request || cam.trig_enable.load() == 0; });
        bool requested = cam.sw_trig_request;
        cam.sw_trig_request = false;
        woke.set_value(ok && requested);
    });
    ASSERT_TRUE(cam.with_property("SWTRIGGER", [](D_fct& p) {
        EXPECT_EQ(p.client_write(mirva::ClientValue{int64_t{1}}).code, mirva::WriteResult::ok);
    }));
    EXPECT_TRUE(woke.get_future().get());
    camera.join();
    EXPECT_EQ(cam.sw_trig_.value(), 0);  // ready for the next request
    EXPECT_FALSE(cam.sw_trig_.stored_text().has_value());
}

TEST(SoftwareTriggerTest, DisablingWakesTheWaitingCameraThread) {
    FakeCamera cam;
    cam.sw_trig_enable_.client_write(mirva::ClientValue{int64_t{1}});
    std::promise<bool> woke;
    std::promise<void> waiting;
    std::thread camera([&] {
        std::unique_lock lk(cam.sw_trig_mx);
        waiting.set_value();
        bool ok = cam.sw_trig_cond.wait_for(lk, 5s, [&] { return cam.sw_trig_request || cam.trig_enable.load() == 0; });
        woke.set_value(ok && !cam.sw_trig_request);
    });
    waiting.get_future().wait();
    cam.sw_trig_enable_.client_write(mirva::ClientValue{int64_t{0}});
    EXPECT_TRUE(woke.get_future().get());
    camera.join();
    EXPECT_EQ(cam.trig_enable.load(), 0);
}

TEST(RecoveryTest, CallsOnlineUntilTheLocationIsSetUp) {
    FakeCamera cam;
    cam.set_recovery_period(1ms);
    {
        std::lock_guard lk(cam.mx);
        cam.succeed_on = 3;
    }
    cam.do_auto_recovery();
    {
        std::unique_lock lk(cam.mx);
        ASSERT_TRUE(cam.cond.wait_for(lk, 5s, [&] { return cam.setup_done.load(); }));
    }
    cam.camera_stop_host_threads();
    std::lock_guard lk(cam.mx);
    EXPECT_EQ(cam.online_calls, 3);  // and no call after success
}

TEST(RecoveryTest, NothingToDoWhenSetUp) {
    FakeCamera cam;
    cam.set_recovery_period(1ms);
    cam.setup_done.store(true);
    cam.do_auto_recovery();
    cam.camera_stop_host_threads();
    std::lock_guard lk(cam.mx);
    EXPECT_EQ(cam.online_calls, 0);
}

TEST(RecoveryTest, ALocationSwitchedOffByAClientStaysOffUntilSwitchedOn) {
    FakeCamera cam;
    cam.set_recovery_period(1ms);
    {
        std::lock_guard lk(cam.mx);
        cam.succeed_on = 1;
    }
    ASSERT_EQ(cam.g_sts_.client_write(mirva::ClientValue{int64_t{0}}).code, mirva::WriteResult::ok);
    cam.err_code.store(4);  // end of the shut-down path
    cam.do_auto_recovery();
    cam.camera_stop_host_threads();
    {
        std::lock_guard lk(cam.mx);
        EXPECT_EQ(cam.online_calls, 0);
    }
    // The client switches it on: ONLINE reads 1 but nothing is set up yet.
    ASSERT_EQ(cam.g_sts_.client_write(mirva::ClientValue{int64_t{1}}).code, mirva::WriteResult::ok);
    cam.do_auto_recovery();
    std::unique_lock lk(cam.mx);
    ASSERT_TRUE(cam.cond.wait_for(lk, 5s, [&] { return cam.setup_done.load(); }));
    EXPECT_EQ(cam.online_calls, 1);
}

TEST(RecoveryTest, ALocationTakenOffLineByAFaultIsRecovered) {
    // A removed camera ends in the same shut-down state as a client's switch-off, but the
    // location went off line by itself: recovery must set it up again.
    FakeCamera cam;
    cam.set_recovery_period(1ms);
    {
        std::lock_guard lk(cam.mx);
        cam.succeed_on = 1;
    }
    ASSERT_EQ(cam.g_sts_.client_write(mirva::ClientValue{int64_t{0}}).code, mirva::WriteResult::ok);
    cam.g_sts_.online(0);  // the location's own switch-off clears the client's mark
    cam.err_code.store(4);
    EXPECT_FALSE(cam.g_sts_.switched_off_by_client());
    cam.do_auto_recovery();
    std::unique_lock lk(cam.mx);
    ASSERT_TRUE(cam.cond.wait_for(lk, 5s, [&] { return cam.setup_done.load(); }));
    EXPECT_EQ(cam.online_calls, 1);
}

TEST(RecoveryTest, StopsPromptlyWhileWaitingOrBlockedOnTheLifecycleLock) {
    FakeCamera cam;
    cam.set_recovery_period(std::chrono::hours(1));
    cam.camera_start_recovery_thread();
    cam.camera_stop_host_threads();  // would hang for an hour if the wait ignored the stop

    cam.set_recovery_period(1ms);
    std::lock_guard life(cam.lifecycle_mutex());  // the update thread holds it
    cam.camera_start_recovery_thread();
    cam.camera_stop_host_threads();
    std::lock_guard lk(cam.mx);
    EXPECT_EQ(cam.online_calls, 0);
}

int free_loopback_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool read_exact(int fd, void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        pollfd pf{fd, POLLIN, 0};
        if (poll(&pf, 1, 5000) <= 0) return false;
        ssize_t r = recv(fd, p, n, 0);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

TEST(TcpSenderTest, SubscriberGetsHeaderThenPixels) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_create_all_buffers(16, 16, 1));
    ASSERT_FALSE(cam.camera_start_mirva_output_thread());
    const int port = free_loopback_port();
    cam.tcp_port_.set_value(port);
    ASSERT_FALSE(cam.camera_start_tcp_thread());
    EXPECT_NE(cam.tcp_thread.load(), pthread_t{0});
    ASSERT_TRUE(eventually([&] { return cam.tcp_listen_port() == port; }));

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    // Images delivered before the sender took the subscriber are not sent to it: deliver
    // until the stream starts.
    auto pixels = ramp(10 * 7);
    bool got = false;
    for (uint64_t seen = 0; seen < 200 && !got; ++seen) {
        ASSERT_TRUE(eventually([&] { std::lock_guard lk(cam.out_mx); return cam.out_free; }));
        ASSERT_TRUE(hand_over(cam, pixels, 10, 7));
        ASSERT_NE(cam.wait_for_image(seen, 5s), nullptr);
        pollfd pf{fd, POLLIN, 0};
        got = poll(&pf, 1, 20) > 0;
    }
    ASSERT_TRUE(got);
    img_header hd{};
    ASSERT_TRUE(read_exact(fd, &hd, sizeof hd));
    EXPECT_EQ(hd.img_prm.w, 10);
    EXPECT_EQ(hd.img_prm.h, 7);
    EXPECT_EQ(hd.img_prm.bpp, 1);
    std::vector<uint8_t> received(70);
    ASSERT_TRUE(read_exact(fd, received.data(), received.size()));
    EXPECT_EQ(received, pixels);
    close(fd);

    cam.camera_stop_tcp_thread();
    EXPECT_EQ(cam.tcp_thread.load(), pthread_t{0});
    EXPECT_EQ(cam.tcp_listen_port(), 0);
}

TEST(TcpSenderTest, DisabledSenderWaitsOnlyForItsStop) {
    FakeCamera cam;
    ASSERT_FALSE(cam.camera_start_tcp_thread());
    ASSERT_FALSE(cam.camera_start_tcp_thread());
    EXPECT_EQ(cam.tcp_listen_port(), 0);
    cam.camera_stop_tcp_thread();
    ASSERT_FALSE(cam.camera_start_tcp_thread());  // restartable
    // The destructor stops it.
}

} // namespace
