// Faults with the camera thread running: a start refused in its geometry stage, and
// feature-file loads against the thread's passes and against its end.
#include <gmock/gmock.h>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>

#include "location_support.h"

using ::testing::HasSubstr;
using ::testing::Not;
using namespace location_test;

namespace {

// A location set up on an emulated camera; update() starts its camera thread.
class RunningFaults : public LocationFixture {
protected:
    void SetUp() override
    {
        // Feature files are written beside the process: each test gets a folder of its own,
        // since the tests of this suite run side by side and share the file names.
        char dir_template[] = "/tmp/mirva_running_fault_XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        LocationFixture::SetUp();
        plug("1001");
        loc = add_location("FF", {{"SERIAL", "1001"}});
        loc->find_cameras_of_type(1);
        start(loc);
        ASSERT_TRUE(loc->setup_done);
    }
    void TearDown() override
    {
        LocationFixture::TearDown();
        if (!old_cwd_.empty())
            std::filesystem::current_path(old_cwd_);
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }
    EqFctPylon* loc = nullptr;
    std::filesystem::path dir_, old_cwd_;
};

// The camera thread stops a start that failed, as it stops after a failed frame: the next
// start finds a clean state and frames come, without waiting for the watchdog.
TEST_F(RunningFaults, StartRefusedInTheGeometryStageIsRetriedByTheThread)
{
    ASSERT_TRUE(Pylon::Emulator::Instance().RefuseNextWrite("1001", "OffsetX"));
    Stderr err;
    loc->start_.set_value(1);
    update(loc);
    EXPECT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }));
    loc->cancel();
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("FF: EXCEPTION: Trying to fix image geometry"));
    EXPECT_THAT(text, Not(HasSubstr("previous not stopped")));
}

// Loads and their read-back on the update thread while the camera thread runs its passes,
// idle and acquiring (the thread sanitizer build sees any unguarded feature access).
TEST_F(RunningFaults, FeatureFileLoadsWhileTheThreadRunsItsPasses)
{
    update(loc);
    loc->save_config_.set_value(1);
    update(loc);
    ASSERT_EQ(loc->save_config_.value(), 0);
    for (int start : {0, 1}) {
        loc->saved_start = start;  // what the thread's start-up passes put back
        loc->start_.set_value(start);
        if (start != 0) {
            ASSERT_TRUE(eventually([&] { return loc->frame_counter_.value() > 0; }));
        }
        for (int i = 0; i < 4; ++i) {
            loc->load_config_.set_value(1);
            update(loc);
            EXPECT_EQ(loc->load_config_.value(), 0) << "start " << start << " load " << i;
        }
    }
    EXPECT_TRUE(loc->setup_done);
    EXPECT_EQ(loc->g_sts_.online(), 1);
}

// Opens the FIFO for writing once a reader has it open (bounded); -1 on timeout.
int open_fifo_writer(const char* path)
{
    int fd = -1;
    eventually([&] {
        fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0;
    });
    return fd;
}

// A switch-off while update() is inside a feature-file load: the camera thread's end
// (which removes the features and releases the camera) must wait until the load is done.
// The feature file is a FIFO, so that the test decides when the load may go on.
TEST_F(RunningFaults, ThreadEndWaitsForAFeatureFileLoadInProgress)
{
    update(loc);
    ASSERT_NE(loc->cam_thread.load(), pthread_t{0});
    loc->config_file_.set_value("a3");
    ::unlink("FF_a3");
    ASSERT_EQ(::mkfifo("FF_a3", 0600), 0) << std::strerror(errno);

    auto load = std::async(std::launch::async, [&] { return loc->camera_load_features(); });
    // The load reads the file's header: it waits for data once a writer is there.
    const int header = open_fifo_writer("FF_a3");
    ASSERT_GE(header, 0) << "the load never opened the file";
    loc->config_file_.set_value("a3save");  // the thread's last save goes elsewhere
    loc->g_sts_.online(0);
    EXPECT_FALSE(loc->wait_camera_thread_end(2)) << "the camera thread ended during the load";

    const char text[] = "# Device = acA1300-30gm-emu\n";
    EXPECT_EQ(::write(header, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    ::close(header);
    // Then it opens the file once more to load it; when that open waits for a writer, one
    // lets it through (a FIFO is no feature file, so the load fails).
    int body = -1;
    EXPECT_TRUE(eventually([&] {
        if (load.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            return true;
        body = ::open("FF_a3", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return body >= 0;
    }));
    ASSERT_EQ(load.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(load.get());
    if (body >= 0)
        ::close(body);
    EXPECT_EQ(loc->load_config_.value(), -1);
    EXPECT_TRUE(loc->wait_camera_thread_end(10));
    EXPECT_EQ(loc->pCamera, nullptr);
}

} // namespace
