// Camera initialisation on the full and the minimal camera models: device information,
// image geometry, fresh start and restore, trigger detection, packet size, reset.
#include <gmock/gmock.h>

#include "location_support.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

class Init : public LocationFixture {
protected:
    EqFctPylon* open_camera(const std::string& model, std::map<std::string, std::string> stored = {{"SERIAL", "0"}})
    {
        plug("1001", model);
        EqFctPylon* loc = add_location("CAM", std::move(stored));
        loc->find_cameras_of_type(1);
        loc->init();
        return loc;
    }
};

TEST_F(Init, FreshStartOnTheFullModelResetsTheRegionAndFindsBothTriggerKinds)
{
    EqFctPylon* loc = open_camera(kFullModel);
    loc->bin_x_.set_value(3);
    loc->roi_x_start_.set_value(100);
    Stderr err;
    ASSERT_FALSE(loc->camera_init());
    const std::string text = err.text();

    EXPECT_THAT(text, HasSubstr("CAM: camera_init() Camera selected: "));
    EXPECT_THAT(text, HasSubstr("CAM: camera_get_size() -> xmax:1280  ymax:1024"));
    EXPECT_THAT(text, HasSubstr("CAM: camera_init() BIG endien architecture, will swap data"));
    EXPECT_THAT(text, HasSubstr("CAM: NEW VALUE RESET"));
    EXPECT_THAT(text, HasSubstr("CAM: camera_init() TRIGGER MODES AVAILABLE Acquisition: 1 ("));
    EXPECT_THAT(text, HasSubstr("  Frame:1  ("));
    EXPECT_THAT(text, HasSubstr("CAM: camera_init() PACKET SIZE: "));

    EXPECT_EQ(loc->img_width, 1280);
    EXPECT_EQ(loc->img_height, 1024);
    EXPECT_EQ(loc->bin_x_.value(), 1);
    EXPECT_EQ(loc->bin_y_.value(), 1);
    EXPECT_EQ(loc->roi_x_start_.value(), 1);
    EXPECT_EQ(loc->roi_x_end_.value(), 1280);
    EXPECT_EQ(loc->roi_y_start_.value(), 1);
    EXPECT_EQ(loc->roi_y_end_.value(), 1024);
    EXPECT_FALSE(loc->roi_x_end_.is_changed());
    EXPECT_EQ(loc->roi_x_start_.get_max(), 1279);
    EXPECT_EQ(loc->roi_y_end_.get_max(), 1024);

    // Trigger modes on/off; sources: the available TriggerSource entries (Software, Line1, Line2).
    EXPECT_EQ(loc->acq_trig_on_.get_min(), 0);
    EXPECT_EQ(loc->acq_trig_on_.get_max(), 1);
    EXPECT_EQ(loc->frame_trig_on_.get_max(), 1);
    EXPECT_EQ(loc->acq_trig_sel_.get_min(), 0);
    EXPECT_EQ(loc->acq_trig_sel_.get_max(), 2);
    EXPECT_EQ(loc->frame_trig_sel_.get_max(), 2);

    EXPECT_TRUE(loc->byte_swap);
    EXPECT_TRUE(loc->format_changed);
    EXPECT_EQ(loc->err_code, 0);
    EXPECT_EQ(loc->serial_.value(), 1001);
    EXPECT_FALSE(loc->pylon_prop_.empty());

    // Device information as read-only root properties.
    D_fct* serial = loc->find_property("SERIALNUMBER");
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->description(), "SerialNumber of the camera");
    EXPECT_EQ(dynamic_cast<D_cam_param_text_const*>(serial)->value(), "1001");
    EXPECT_EQ(loc->property_group(serial), 1);
}

TEST_F(Init, MinimalModelHasOnlyTheFrameTriggerWithoutSources)
{
    EqFctPylon* loc = open_camera(kMinimalModel);
    Stderr err;
    ASSERT_FALSE(loc->camera_init());
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("CAM: camera_init() TRIGGER MODES AVAILABLE Acquisition: 0 (-1 sel: -1)  Frame:1  (0 sel: 0)"));
    EXPECT_THAT(text, HasSubstr("CAM: camera_init() PACKET SIZE: UNKNOWN"));
    EXPECT_EQ(loc->acq_trig_on_.get_min(), -1);
    EXPECT_EQ(loc->acq_trig_on_.get_max(), -1);
    EXPECT_EQ(loc->acq_trig_sel_.get_max(), -1);
    // Marked as not offered: an acquisition start leaves that trigger kind alone.
    EXPECT_EQ(loc->acq_trig_on_.value(), -1);
    EXPECT_EQ(loc->acq_trig_sel_.value(), -1);
    EXPECT_EQ(loc->frame_trig_on_.get_min(), 0);
    EXPECT_EQ(loc->frame_trig_on_.get_max(), 1);
    EXPECT_EQ(loc->frame_trig_sel_.get_min(), -1);
    EXPECT_EQ(loc->frame_trig_sel_.get_max(), -1);
    // No binning features: the region is the sensor.
    EXPECT_EQ(loc->roi_x_end_.value(), 640);
    EXPECT_EQ(loc->roi_y_end_.value(), 480);
    // Neither trigger on and no user software trigger: the gated parameter is off.
    EXPECT_EQ(loc->trig_gated_.value(), 0);

    // No DeviceReset on this model.
    Stderr reset;
    loc->camera_reset();
    EXPECT_THAT(reset.text(), HasSubstr("CAM: camera_rest() DeviceReset not found"));
}

TEST_F(Init, RestoreWritesTheStoredValuesIntoTheCamera)
{
    EqFctPylon* loc =
        open_camera(kFullModel, {{"SERIAL", "1001"}, {"RESTORE_OLD", "1"}, {"GAINRAW", "123"}, {"BINNINGHORIZONTAL", "2"}});
    Stderr err;
    ASSERT_FALSE(loc->camera_init());
    const std::string text = err.text();
    EXPECT_THAT(text, HasSubstr("CAM: GainRaw setting to 123.000000"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("NEW VALUE RESET")));
    EXPECT_EQ(loc->pCamera->GainRaw.GetValue(), 123);
    EXPECT_EQ(loc->pCamera->BinningHorizontal.GetValue(), 2);

    // Binning 2: WidthMax is halved, the full sensor width stays in unbinned pixels.
    EXPECT_EQ(loc->pCamera->WidthMax.GetValue(), 640);
    int w = 0, h = 0;
    EXPECT_EQ(loc->camera_get_size(&w, &h), 0);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 1024);
}

TEST_F(Init, FailedDeviceCreationMarksTheLocation)
{
    EqFctPylon* loc = open_camera(kFullModel);
    ASSERT_TRUE(Pylon::Emulator::Instance().Unplug("1001"));
    Stderr err;
    EXPECT_TRUE(loc->camera_init());
    EXPECT_THAT(err.text(), HasSubstr("doesn't exists"));
    EXPECT_TRUE(loc->exeption);
    EXPECT_EQ(loc->pCamera, nullptr);
}

TEST_F(Init, SizeWithoutCameraComesFromTheProperties)
{
    EqFctPylon* loc = add_location("CAM");
    loc->width_.set_value(320);
    loc->height_.set_value(200);
    int w = 0, h = 0;
    EXPECT_EQ(loc->camera_get_size(&w, &h), 1);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(loc->camera_get_size(nullptr, nullptr), 1);

    for (auto [bits, bytes] : {std::pair{8, 1}, {12, 2}, {16, 2}, {24, 3}, {32, 4}}) {
        loc->bpp_.set_value(bits);
        EXPECT_EQ(loc->camera_get_max_size(), 320 * 200 * bytes) << bits;
    }
}

} // namespace
