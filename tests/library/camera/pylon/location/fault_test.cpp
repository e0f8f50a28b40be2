// Faults around a location's set-up: a camera held by another connection, a camera that
// goes away between choice and opening, enumerations of other locations in the middle of
// a set-up, and device information named like a property of the location.
#include <gmock/gmock.h>

#include <future>

#include "location_support.h"

using ::testing::HasSubstr;
using ::testing::Not;
using namespace location_test;

namespace {

class SetUpFaults : public LocationFixture {};

// Another application's connection to the camera, opened and closed by the test.
class OtherConnection {
public:
    explicit OtherConnection(const std::string& serial)
    {
        Pylon::DeviceInfoList_t list;
        Pylon::CTlFactory::GetInstance().EnumerateDevices(list);
        for (const Pylon::CDeviceInfo& info : list) {
            if (info.GetSerialNumber() == serial.c_str())
                device_ = Pylon::CTlFactory::GetInstance().CreateDevice(info);
        }
        if (device_)
            device_->Open(Pylon::Control | Pylon::Stream | Pylon::Event);
    }
    ~OtherConnection() { close(); }
    bool held() const { return device_ != nullptr; }
    void close()
    {
        if (!device_)
            return;
        device_->Close();
        Pylon::CTlFactory::GetInstance().DestroyDevice(device_);
        device_ = nullptr;
    }

private:
    Pylon::IPylonDevice* device_ = nullptr;
};

TEST_F(SetUpFaults, CameraHeldByAnotherConnectionFailsTheSetUpAndTheRecoveryRetries)
{
    plug("1001");
    OtherConnection other("1001");
    ASSERT_TRUE(other.held());
    EqFctPylon* a = add_location("A", {{"SERIAL", "1001"}, {"RESTORE_OLD", "1"}});
    a->find_cameras_of_type(1);
    {
        Stderr err;
        ASSERT_NO_THROW(start(a));
        const std::string text = err.text();
        EXPECT_THAT(text, HasSubstr("A: Unable to open camera 1001 (acA1300-30gm-emu#"));
        EXPECT_THAT(text, HasSubstr("Device '1001' is opened by another connection"));
    }
    EXPECT_FALSE(a->setup_done);
    EXPECT_EQ(a->setup_result, 2);
    EXPECT_EQ(a->g_sts_.online(), 0);
    EXPECT_THAT(a->err_text_.value(), HasSubstr("unable to open camera 1001 ("));
    EXPECT_THAT(a->err_text_.value(), HasSubstr("Device '1001' is opened by another connection"));
    // Nothing of the failed attempt is kept: no camera object, no booking.
    EXPECT_EQ(a->pCamera, nullptr);
    EXPECT_EQ(a->n_device, -1);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));

    // The host's recovery thread meets the same refusal and carries on (an exception out
    // of online() would end the process); once the other connection is gone it succeeds.
    a->set_recovery_period(std::chrono::milliseconds(20));
    a->camera_start_recovery_thread();
    other.close();
    EXPECT_TRUE(eventually([&] { return a->setup_done.load(); }));
    EXPECT_NE(a->pCamera, nullptr);
    EXPECT_EQ(a->n_device, 0);
}

// A location chose camera 1001, which went away before it was opened; after a new
// enumeration the only device is 1002. The location must not open 1002 in its place.
TEST_F(SetUpFaults, FailedSetUpLeavesNoIndexThatOpensAnotherCamera)
{
    plug("1001");
    plug("1002");
    EqFctPylon* a = add_location("A", {{"SERIAL", "1001"}, {"RESTORE_OLD", "1"}});
    EqFctPylon* b = add_location("B", {{"SERIAL", "1002"}, {"RESTORE_OLD", "1"}});
    a->find_cameras_of_type(1);
    {
        std::lock_guard lk(a->lifecycle_mutex());
        a->init();  // books 1001
    }
    ASSERT_EQ(a->n_device, 0);
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    {
        std::lock_guard lk(a->lifecycle_mutex());
        a->post_init();  // the camera is gone: the set-up fails
    }
    EXPECT_FALSE(a->setup_done);
    EXPECT_EQ(a->n_device, -1);

    // A new enumeration that rebuilds no bookings: device 0 is now camera 1002.
    Stderr err;
    a->find_cameras_of_type(0);
    start(a);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: camera_select comparing '1002' '1001'"));
    EXPECT_FALSE(a->setup_done);
    EXPECT_EQ(a->pCamera, nullptr);
    EXPECT_EQ(a->serial_.value(), 1001);
    EXPECT_EQ(a->err_text_.value(), "No camera found or in USE");

    // Camera 1002 is still free for the location that wants it.
    start(b);
    EXPECT_TRUE(b->setup_done);
    EXPECT_EQ(b->serial_.value(), 1002);
}

// While a location is between the choice of its device and its opening, another location
// enumerates the cameras and chooses the first free one. It must not get the same device.
class EnumerationInTheMiddle : public EqFctPylon {
public:
    bool camera_select(bool how) override
    {
        const bool failed = EqFctPylon::camera_select(how);
        if (!how && !failed && other) {
            EqFctPylon* o = other;
            other = nullptr;
            auto done = std::async(std::launch::async, [o] {
                o->find_cameras_of_type(1);
                return o->camera_select(false);
            });
            // Bounded: with the registry held until this location has recorded its camera
            // the other location waits, and goes on once this set-up has finished.
            if (done.wait_for(std::chrono::seconds(3)) == std::future_status::ready)
                other_failed = done.get();
            else
                pending = std::move(done);
        }
        return failed;
    }
    EqFctPylon* other = nullptr;
    bool other_failed = true;
    std::future<bool> pending;
};

TEST_F(SetUpFaults, EnumerationOfAnotherLocationCannotFreeADeviceBeingOpened)
{
    plug("1001");
    plug("1002");
    auto* a = add_location<EnumerationInTheMiddle>("A", {{"SERIAL", "0"}});
    EqFctPylon* b = add_location("B", {{"SERIAL", "0"}});
    a->other = b;
    a->find_cameras_of_type(1);
    start(a);
    if (a->pending.valid())
        a->other_failed = a->pending.get();
    EXPECT_TRUE(a->setup_done);
    EXPECT_FALSE(a->other_failed);
    EXPECT_EQ(a->n_device, 0);
    EXPECT_EQ(b->n_device, 1);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{1, 1}));
    std::lock_guard lk(EqFctPylon::registry_mx);
    EXPECT_EQ(EqFctPylon::cameras[0], a->pCamera);
}

// The device information's entry Interface meets the location's own INTERFACE property.
TEST_F(SetUpFaults, DeviceInformationNamedLikeALocationPropertyGetsThePylonSuffix)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "1001"}, {"INTERFACE", "192.168.7.1"}});
    a->find_cameras_of_type(1);
    Stderr err;
    start(a);
    ASSERT_TRUE(a->setup_done);
    EXPECT_THAT(err.text(), HasSubstr("A: INTERFACE WE HAVE TO APPEND PYLON TO GET UNIQUE PROP NAME"));
    int interfaces = 0;
    a->for_each_property([&](D_fct& p) { interfaces += p.name() == "INTERFACE" ? 1 : 0; });
    EXPECT_EQ(interfaces, 1);
    EXPECT_EQ(a->interface_.value(), "192.168.7.1");
    auto* info = dynamic_cast<D_cam_param_text_const*>(a->find_property("INTERFACE.PYLON"));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->value(), "127.0.0.1");
}

} // namespace
