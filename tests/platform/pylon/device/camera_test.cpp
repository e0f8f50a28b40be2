// The GigE camera object: device ownership and the typed parameters.
#include "EmulatorFixture.h"

using namespace Pylon;
using pylon_test::EmulatorTest;

namespace {

using CameraObject = EmulatorTest;

TEST_F(CameraObject, WithoutDeviceTheDevicePointerCheckThrows)
{
    CBaslerGigECamera camera;
    EXPECT_FALSE(camera.IsAttached());
    EXPECT_FALSE(camera.IsOpen());
    EXPECT_THROW(camera.GetDevice(), GenICam::LogicalErrorException);
    EXPECT_THROW(camera.Open(), GenICam::LogicalErrorException);
    EXPECT_EQ(camera.Width.GetAccessMode(), GenApi::NI);
    EXPECT_FALSE(GenApi::IsWritable(camera.Width));
    EXPECT_THROW(camera.Width.GetValue(), GenICam::LogicalErrorException);
}

TEST_F(CameraObject, DestructorDestroysTheOwnedDevice)
{
    Plug("2001");
    {
        Camera_t camera(CTlFactory::GetInstance().CreateDevice(InfoOf("2001")));
        EXPECT_TRUE(camera.HasOwnership());
        camera.Open();
        EXPECT_TRUE(camera.IsOpen());
        EXPECT_TRUE(Emulator::Instance().List().at(0).open);
    }
    EXPECT_FALSE(Emulator::Instance().List().at(0).open);
}

TEST_F(CameraObject, DetachedDeviceSurvivesTheCamera)
{
    Plug("2001");
    IPylonDevice* device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    {
        CBaslerGigECamera camera;
        camera.Attach(device);
        camera.Open();
        EXPECT_EQ(camera.DetachDevice(), device);
        EXPECT_FALSE(camera.IsAttached());
    }
    EXPECT_TRUE(device->IsOpen());
    CTlFactory::GetInstance().DestroyDevice(device);
}

TEST_F(CameraObject, FactoryDestroyDetachesTheCamera)
{
    Plug("2001");
    CBaslerGigECamera camera;
    camera.Attach(CTlFactory::GetInstance().CreateDevice(InfoOf("2001")), true);
    camera.Open();
    CTlFactory::GetInstance().DestroyDevice(camera.GetDevice());
    EXPECT_FALSE(camera.IsAttached());
    EXPECT_THROW(camera.GetDevice(), GenICam::LogicalErrorException);
    EXPECT_EQ(camera.PixelFormat.GetAccessMode(), GenApi::NI);
    // The camera's destructor must not touch the destroyed device.
}

TEST_F(CameraObject, TypedParametersForwardToTheNodes)
{
    Plug("2001");
    Camera_t camera(CTlFactory::GetInstance().CreateDevice(InfoOf("2001")));
    camera.Open();
    camera.ChangeIpConfiguration(true, false);

    EXPECT_TRUE(GenApi::IsWritable(camera.PixelFormat));
    camera.PixelFormat.SetValue(PixelFormat_Mono12);
    EXPECT_EQ(camera.PixelFormat.GetValue(), PixelFormat_Mono12);
    EXPECT_EQ(camera.PixelFormat.ToString(), "Mono12");
    camera.PixelFormat = PixelFormat_Mono8;
    EXPECT_EQ(camera.PixelFormat(), PixelFormat_Mono8);
    camera.PixelFormat = "Mono12Packed";
    EXPECT_EQ(camera.PixelFormat.GetValue(), PixelFormat_Mono12Packed);
    // An entry the model does not offer is refused by the node.
    EXPECT_THROW(camera.PixelFormat.SetValue(PixelFormat_BayerRG8), GenICam::GenericException);

    camera.Width = 640;
    EXPECT_EQ(camera.Width.GetValue(), 640);
    EXPECT_EQ(camera.Width(), 640);
    EXPECT_EQ(camera.WidthMax.GetValue(), 1280);
    EXPECT_GT(camera.Width.GetMax(), camera.Width.GetMin());
    camera.OffsetX.SetValue(16);
    EXPECT_EQ(camera.OffsetX.GetValue(), 16);
    EXPECT_THROW(camera.Width.SetValue(100000), GenICam::OutOfRangeException);

    camera.ExposureTimeRaw.SetValue(1050);
    EXPECT_DOUBLE_EQ(camera.ExposureTimeAbs.GetValue(), 1050.0);
    camera.AcquisitionFrameRateEnable.SetValue(true);
    EXPECT_TRUE(camera.AcquisitionFrameRateEnable.GetValue());
    camera.TriggerSelector.SetValue(TriggerSelector_FrameStart);
    camera.TriggerMode.SetValue(TriggerMode_On);
    camera.TriggerSource.SetValue(TriggerSource_Line1);
    EXPECT_EQ(camera.TriggerSource.GetValue(), TriggerSource_Line1);
    camera.TriggerSelector.SetValue(TriggerSelector_AcquisitionStart);
    EXPECT_EQ(camera.TriggerMode.GetValue(), TriggerMode_Off); // each trigger has its own mode
    EXPECT_TRUE(camera.AcquisitionStart.IsDone());
    camera.GevSCPSPacketSize.SetValue(1500);
    EXPECT_EQ(camera.GevSCPSPacketSize.GetValue(), 1500);
    camera.DeviceUserID.SetValue("bench");
    EXPECT_EQ(camera.DeviceUserID.GetValue(), "bench");
    // PayloadSize follows the geometry and pixel format.
    camera.Height = 100;
    camera.PixelFormat = PixelFormat_Mono8;
    EXPECT_EQ(camera.PayloadSize.GetValue(), 640 * 100);
}

TEST_F(CameraObject, AbsentFeaturesReportNotImplementedAndNameThemselves)
{
    Plug("3001", "minimal_area.xml");
    Camera_t camera(CTlFactory::GetInstance().CreateDevice(InfoOf("3001")));
    camera.Open();
    EXPECT_TRUE(camera.Width.IsPresent());
    ASSERT_EQ(camera.GetNodeMap()->GetNode("BinningHorizontal"), nullptr) << "model changed: pick another absent feature";
    EXPECT_FALSE(camera.BinningHorizontal.IsPresent());
    EXPECT_EQ(camera.BinningHorizontal.GetAccessMode(), GenApi::NI);
    EXPECT_FALSE(GenApi::IsReadable(camera.BinningHorizontal));
    EXPECT_FALSE(GenApi::IsImplemented(camera.BinningHorizontal));
    try {
        camera.BinningHorizontal.GetValue();
        FAIL() << "reading an absent feature must fail";
    } catch (const GenICam::LogicalErrorException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("BinningHorizontal"), std::string::npos) << e.GetDescription();
    }
    EXPECT_THROW(camera.TriggerSelector.SetValue(TriggerSelector_AcquisitionStart), GenICam::GenericException);
}

TEST_F(CameraObject, ParametersOfARemovedDeviceThrow)
{
    Plug("2001");
    Camera_t camera(CTlFactory::GetInstance().CreateDevice(InfoOf("2001")));
    camera.Open();
    Emulator::Instance().Unplug("2001");
    EXPECT_THROW(camera.Width.GetValue(), GenICam::RuntimeException);
    EXPECT_THROW(camera.GetNodeMap(), GenICam::RuntimeException);
    camera.Close();
}

} // namespace
