// Discovery, selection and booking of cameras among the locations of one server.
#include <gmock/gmock.h>

#include "location_support.h"

using ::testing::HasSubstr;
using ::testing::Not;
using namespace location_test;

namespace {

class Booking : public LocationFixture {};

TEST_F(Booking, FirstFreeCameraGoesToEachLocationInTurnUntilNoneIsLeft)
{
    plug("1001");
    plug("1002");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    EqFctPylon* b = add_location("B", {{"SERIAL", "0"}});
    EqFctPylon* c = add_location("C", {{"SERIAL", "0"}});
    EXPECT_EQ(a->find_cameras_of_type(0), 0);
    EXPECT_EQ(EqFctPylon::n_cameras, 2);

    // At init nothing is chosen yet without RESTORE_OLD: camera_init takes the first free one.
    EXPECT_FALSE(a->camera_select(true));
    EXPECT_EQ(a->n_device, -1);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0, 0}));

    EXPECT_FALSE(a->camera_select(false));
    EXPECT_FALSE(b->camera_select(false));
    EXPECT_EQ(a->n_device, 0);
    EXPECT_EQ(b->n_device, 1);
    EXPECT_EQ(a->err_text_.value(), "Camera found");
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{1, 1}));

    EXPECT_TRUE(c->camera_select(false));
    EXPECT_EQ(c->n_device, -1);
    EXPECT_EQ(c->err_text_.value(), "No  camera selected");
}

TEST_F(Booking, BySerialNumberAndBusyWhenAnotherLocationHasIt)
{
    plug("1001");
    plug("1002");
    EqFctPylon* a = add_location("A", {{"SERIAL", "1002"}, {"RESTORE_OLD", "1"}});
    EqFctPylon* b = add_location("B", {{"SERIAL", "1002"}, {"RESTORE_OLD", "1"}});
    a->find_cameras_of_type(0);

    Stderr err;
    EXPECT_FALSE(a->camera_select(true));
    EXPECT_EQ(a->n_device, 1);
    EXPECT_EQ(a->err_text_.value(), "Camera found");
    // camera_init keeps what init chose.
    EXPECT_FALSE(a->camera_select(false));
    EXPECT_EQ(a->n_device, 1);

    EXPECT_TRUE(b->camera_select(true));
    EXPECT_EQ(b->n_device, -1);
    EXPECT_EQ(b->err_text_.value(), "No  camera selected");
    EXPECT_TRUE(b->camera_select(false));
    EXPECT_EQ(b->err_text_.value(), "No camera found or in USE");
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: camera_select comparing '1001' '1002'"));
    EXPECT_THAT(text, HasSubstr("A: Camera found"));
    EXPECT_THAT(text, HasSubstr("B: Camera is alredy in use !!!"));
    EXPECT_THAT(text, HasSubstr("camera_select() called with restore:1 how:1"));
}

TEST_F(Booking, UnknownSerialComparesEveryDeviceAndFails)
{
    plug("1001");
    plug("1002");
    EqFctPylon* a = add_location("A", {{"SERIAL", "4242"}, {"RESTORE_OLD", "1"}});
    a->find_cameras_of_type(0);
    Stderr err;
    EXPECT_TRUE(a->camera_select(true));
    const std::string text = err.text();
    EXPECT_EQ(count_of(text, "camera_select comparing"), 2);
    EXPECT_THAT(text, HasSubstr("camera_select comparing '1002' '4242'"));
    EXPECT_EQ(a->err_text_.value(), "No  camera selected");
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0, 0}));
}

TEST_F(Booking, NegativeSerialFailsBeforeLookingAtTheDevices)
{
    EqFctPylon* a = add_location("A", {{"SERIAL", "-1"}});
    a->err_text_.set_value("untouched");
    Stderr err;
    EXPECT_TRUE(a->camera_select(true));
    EXPECT_TRUE(a->camera_select(false));
    EXPECT_THAT(err.text(), HasSubstr("A: camera_select(): Invalid camera serial number: -1"));
    EXPECT_EQ(a->err_text_.value(), "untouched");
}

TEST_F(Booking, NoDeviceLeavesAnEmptyRegistry)
{
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    Stderr err;
    EXPECT_EQ(a->find_cameras_of_type(0), 1);
    EXPECT_TRUE(EqFctPylon::booked.empty());
    EXPECT_TRUE(EqFctPylon::cameras.empty());
    EXPECT_EQ(EqFctPylon::n_cameras, 0);
    EXPECT_TRUE(a->camera_select(false));
    EXPECT_EQ(a->err_text_.value(), "No Pylon camera on the computer");
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("A: find cameras of type called"));
    EXPECT_THAT(text, HasSubstr("pylon: pylon_remove_cameras() done"));
    EXPECT_THAT(text, HasSubstr("pylon: camera_find_pylon_cameras() No camera present!"));
    EXPECT_THAT(text, HasSubstr("A: No Pylon camera(s) found"));
}

TEST_F(Booking, EnumerationPrintsEveryDeviceWithItsProperties)
{
    plug("1001");
    EqFctPylon* a = add_location("A");
    Stderr err;
    EXPECT_EQ(a->find_cameras_of_type(0), 0);
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("pylon: camera_find_pylon_cameras() found 1 cameras"));
    EXPECT_THAT(text, HasSubstr("pylon: camera_print_cameras(): LIST of FOUND CAMERAS"));
    EXPECT_THAT(text, HasSubstr("SerialNumber \t 1001"));
}

TEST_F(Booking, NewEnumerationGivesAnOpenCameraItsDeviceBackInTheNewOrder)
{
    plug("1001");
    plug("1002");
    plug("1003");
    EqFctPylon* holder = add_location("HOLDER", {{"SERIAL", "1002"}, {"RESTORE_OLD", "1"}});
    EqFctPylon* idle = add_location("IDLE", {{"SERIAL", "0"}});
    holder->find_cameras_of_type(0);
    ASSERT_FALSE(holder->camera_select(true));
    ASSERT_FALSE(holder->camera_init());
    ASSERT_EQ(holder->n_device, 1);
    EXPECT_EQ(EqFctPylon::cameras[1], holder->pCamera);

    // Device 1001 goes away: 1002 is first now.
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    idle->setup_result = 2;
    EXPECT_EQ(idle->find_cameras_of_type(1), 0);
    EXPECT_EQ(EqFctPylon::n_cameras, 2);
    EXPECT_EQ(holder->n_device, 0);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{1, 0}));
    EXPECT_EQ(EqFctPylon::cameras[0], holder->pCamera);
    EXPECT_EQ(EqFctPylon::cameras[1], nullptr);
    // A location without a camera is marked for a new set-up.
    EXPECT_EQ(idle->setup_result, 1);

    // The free device is the only one left for a first-free choice.
    EXPECT_FALSE(idle->camera_select(false));
    EXPECT_EQ(idle->n_device, 1);
}

TEST_F(Booking, CleanupReleasesTheBookingAndTheCamera)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(0);
    ASSERT_FALSE(a->camera_init());
    ASSERT_EQ(EqFctPylon::booked, (std::vector<int>{1}));
    a->camera_cleanup(true);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));
    EXPECT_EQ(EqFctPylon::cameras[0], nullptr);
    EXPECT_EQ(a->pCamera, nullptr);
    EXPECT_EQ(a->n_device, -1);
    // The device is free for another opening.
    ASSERT_FALSE(a->camera_init());
    EXPECT_NE(a->pCamera, nullptr);
}

TEST_F(Booking, CleanupWithAPendingResetKeepsTheCamera)
{
    plug("1001");
    EqFctPylon* a = add_location("A", {{"SERIAL", "0"}});
    a->find_cameras_of_type(0);
    ASSERT_FALSE(a->camera_init());
    a->cam_reset_.set_value(1);
    Pylon::Camera_t* camera = a->pCamera;
    a->camera_cleanup(true);
    EXPECT_EQ(EqFctPylon::booked, (std::vector<int>{0}));
    EXPECT_EQ(a->pCamera, camera);
    EXPECT_EQ(a->n_device, 0);
}

TEST_F(Booking, CameraModelQueriesAnswerZero)
{
    EqFctPylon* a = add_location("A");
    int model = 7;
    char text[8] = "x";
    EXPECT_EQ(a->camera_get_model(&model), 0);
    EXPECT_EQ(a->camera_get_model(text), 0);
    EXPECT_EQ(model, 7);
    EXPECT_STREQ(text, "x");
}

} // namespace
