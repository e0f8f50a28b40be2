// Enumeration, device information, device creation and destruction, removal callbacks.
#include "EmulatorFixture.h"

#include <algorithm>
#include <vector>

using namespace Pylon;
using pylon_test::EmulatorTest;
using pylon_test::RemovalRecorder;

namespace {

std::vector<std::string> Serials()
{
    DeviceInfoList_t list;
    CTlFactory::GetInstance().EnumerateDevices(list);
    std::vector<std::string> serials;
    for (const auto& info : list)
        serials.push_back(info.GetSerialNumber());
    return serials;
}

using DeviceEnumeration = EmulatorTest;

TEST_F(DeviceEnumeration, ListsPluggedCamerasInPlugOrder)
{
    EXPECT_TRUE(Serials().empty());
    Plug("2001");
    Plug("1001", "color_area_1920x1200.xml");
    Plug("3001", "minimal_area.xml");
    EXPECT_EQ(Serials(), (std::vector<std::string>{"2001", "1001", "3001"}));

    // Unplugged cameras vanish; a camera plugged again comes last.
    ASSERT_TRUE(Emulator::Instance().Unplug("1001"));
    EXPECT_EQ(Serials(), (std::vector<std::string>{"2001", "3001"}));
    const CDeviceInfo before = InfoOf("2001");
    ASSERT_TRUE(Emulator::Instance().Replug("1001"));
    EXPECT_EQ(Serials(), (std::vector<std::string>{"2001", "3001", "1001"}));
    // A power-cycled camera keeps its identity.
    ASSERT_TRUE(Emulator::Instance().Replug("2001"));
    EXPECT_EQ(Serials(), (std::vector<std::string>{"3001", "1001", "2001"}));
    EXPECT_EQ(InfoOf("2001").GetFullName(), before.GetFullName());
    EXPECT_EQ(InfoOf("2001").GetIpAddress(), before.GetIpAddress());
    EXPECT_FALSE(Emulator::Instance().Replug("never plugged"));
}

TEST_F(DeviceEnumeration, AddToListAppendsAndCountsOnlyTheNewOnes)
{
    Plug("2001");
    DeviceInfoList_t list(1);
    EXPECT_EQ(CTlFactory::GetInstance().EnumerateDevices(list, true), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].GetSerialNumber(), "2001");
    EXPECT_EQ(CTlFactory::GetInstance().EnumerateDevices(list), 1);
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(DeviceEnumeration, PlugRefusesDuplicatesAndUnknownModels)
{
    Plug("2001");
    EXPECT_THROW(Plug("2001"), GenICam::InvalidArgumentException);
    try {
        Plug("2002", "no_such_model.xml");
        FAIL() << "plugging an unknown model must fail";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("no_such_model.xml"), std::string::npos) << e.GetDescription();
    }
    EXPECT_EQ(Serials(), (std::vector<std::string>{"2001"}));
}

using DeviceInformation = EmulatorTest;

TEST_F(DeviceInformation, CarriesIdentityAndAddresses)
{
    Emulator::CameraConfig config;
    config.serialNumber = "21830001";
    config.model = "mono_area_1280x1024.xml";
    config.userName = "TestCam";
    config.ipAddress = "127.0.5.7";
    config.macAddress = "00:30:53:01:02:03";
    Emulator::Instance().Plug(config);

    const CDeviceInfo info = InfoOf("21830001");
    EXPECT_TRUE(info.IsSerialNumberAvailable());
    EXPECT_TRUE(info.IsFullNameAvailable());
    EXPECT_TRUE(info.IsFriendlyNameAvailable());
    EXPECT_EQ(info.GetModelName(), "acA1300-30gm-emu"); // the model's DeviceModelName
    EXPECT_EQ(info.GetUserDefinedName(), "TestCam");
    EXPECT_EQ(info.GetIpAddress(), "127.0.5.7");
    EXPECT_EQ(info.GetMacAddress(), "00:30:53:01:02:03");
    EXPECT_NE(info.GetFriendlyName().find("TestCam"), std::string::npos);
    EXPECT_NE(info.GetFullName().find("127.0.5.7"), std::string::npos);

    StringList_t names;
    const int count = info.GetPropertyNames(names);
    EXPECT_EQ(count, static_cast<int>(names.size()));
    for (const char* expected : {"SerialNumber", "FullName", "FriendlyName", "ModelName", "VendorName", "DeviceClass",
                                 "DeviceVersion", "UserDefinedName", "IpAddress", "SubnetMask", "DefaultGateway",
                                 "MacAddress", "Interface"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    for (const auto& name : names) {
        String_t value;
        EXPECT_TRUE(info.GetPropertyAvailable(name));
        EXPECT_TRUE(info.GetPropertyValue(name, value));
    }
    String_t untouched = "x";
    EXPECT_FALSE(info.GetPropertyAvailable("NoSuchProperty"));
    EXPECT_FALSE(info.GetPropertyValue("NoSuchProperty", untouched));
    EXPECT_EQ(untouched, "x");
}

TEST_F(DeviceInformation, DefaultAddressesDifferBetweenCameras)
{
    Plug("1");
    Plug("2");
    const CDeviceInfo a = InfoOf("1"), b = InfoOf("2");
    EXPECT_FALSE(a.IsUserDefinedNameAvailable());
    EXPECT_NE(a.GetIpAddress(), b.GetIpAddress());
    EXPECT_NE(a.GetMacAddress(), b.GetMacAddress());
    EXPECT_NE(a.GetFullName(), b.GetFullName());
}

using DeviceLifetime = EmulatorTest;

TEST_F(DeviceLifetime, CreateOpenCloseDestroy)
{
    Plug("2001");
    CTlFactory& factory = CTlFactory::GetInstance();
    IPylonDevice* device = factory.CreateDevice(InfoOf("2001"));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetDeviceInfo().GetSerialNumber(), "2001");
    EXPECT_FALSE(device->IsOpen());
    EXPECT_THROW(device->GetNodeMap(), GenICam::LogicalErrorException);

    device->Open();
    EXPECT_TRUE(device->IsOpen());
    EXPECT_TRUE(device->AccessMode().test(Control));
    EXPECT_TRUE(device->AccessMode().test(Stream));
    EXPECT_FALSE(device->AccessMode().test(Exclusive));
    EXPECT_EQ(device->GetNumStreamGrabberChannels(), 1u);
    EXPECT_NE(device->GetNodeMap()->GetNode("Width"), nullptr);
    EXPECT_NE(device->GetTLNodeMap(), nullptr);
    EXPECT_THROW(device->Open(), GenICam::LogicalErrorException);
    EXPECT_TRUE(Emulator::Instance().List().at(0).open);

    device->Close();
    EXPECT_FALSE(device->IsOpen());
    EXPECT_FALSE(Emulator::Instance().List().at(0).open);
    factory.DestroyDevice(device);
    factory.DestroyDevice(device); // unknown by now: ignored
}

TEST_F(DeviceLifetime, ControlOnlyAccessHasNoStreamGrabber)
{
    Plug("2001");
    IPylonDevice* device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    device->Open(Control);
    EXPECT_TRUE(device->AccessMode().test(Control));
    EXPECT_FALSE(device->AccessMode().test(Stream));
    EXPECT_THROW(device->GetStreamGrabber(0), GenICam::LogicalErrorException);
    CTlFactory::GetInstance().DestroyDevice(device);
}

TEST_F(DeviceLifetime, SecondConnectionToAnOpenCameraIsRefused)
{
    Plug("2001");
    CTlFactory& factory = CTlFactory::GetInstance();
    IPylonDevice* first = factory.CreateDevice(InfoOf("2001"));
    IPylonDevice* second = factory.CreateDevice(InfoOf("2001"));
    first->Open();
    EXPECT_THROW(second->Open(), GenICam::AccessException);
    factory.DestroyDevice(first);
    second->Open(); // free again
    EXPECT_TRUE(second->IsOpen());
    factory.DestroyDevice(second);
}

TEST_F(DeviceLifetime, CreatingAGoneOrUnknownDeviceThrowsNamingTheSerial)
{
    Plug("2001");
    const CDeviceInfo info = InfoOf("2001");
    ASSERT_TRUE(Emulator::Instance().Unplug("2001"));
    try {
        CTlFactory::GetInstance().CreateDevice(info);
        FAIL() << "creating an unplugged device must fail";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("2001"), std::string::npos) << e.GetDescription();
    }
    CDeviceInfo unknown;
    unknown.SetSerialNumber("99999");
    try {
        CTlFactory::GetInstance().CreateDevice(unknown);
        FAIL() << "creating an unknown device must fail";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("99999"), std::string::npos) << e.GetDescription();
    }
}

using DeviceRemoval = EmulatorTest;

TEST_F(DeviceRemoval, CallbackRunsOnTheSdkThreadAndLaterAccessThrows)
{
    Plug("2001");
    CTlFactory& factory = CTlFactory::GetInstance();
    IPylonDevice* device = factory.CreateDevice(InfoOf("2001"));
    device->Open();
    GenApi::INodeMap* map = device->GetNodeMap();
    auto* width = dynamic_cast<GenApi::IInteger*>(map->GetNode("Width"));
    ASSERT_NE(width, nullptr);

    RemovalRecorder recorder, dropped;
    const DeviceCallbackHandle handle = RegisterRemovalCallback(device, recorder, &RemovalRecorder::OnRemoved);
    const DeviceCallbackHandle other = RegisterRemovalCallback(device, dropped, &RemovalRecorder::OnRemoved);
    EXPECT_NE(handle, 0);
    EXPECT_NE(handle, other);
    EXPECT_TRUE(device->DeregisterRemovalCallback(other));
    EXPECT_FALSE(device->DeregisterRemovalCallback(other));

    ASSERT_TRUE(Emulator::Instance().Unplug("2001"));
    ASSERT_TRUE(recorder.WaitForCalls(1));
    EXPECT_EQ(recorder.last, device);
    EXPECT_NE(recorder.thread, std::this_thread::get_id());
    EXPECT_EQ(dropped.Calls(), 0);
    EXPECT_TRUE(device->IsRemoved());

    try {
        device->GetNodeMap();
        FAIL() << "the node map of a removed device must not be reachable";
    } catch (const GenICam::RuntimeException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("has been removed"), std::string::npos) << e.GetDescription();
    }
    EXPECT_THROW(width->SetValue(640), GenICam::RuntimeException);
    EXPECT_THROW(device->GetStreamGrabber(0), GenICam::RuntimeException);
    EXPECT_THROW(device->GetNumStreamGrabberChannels(), GenICam::RuntimeException);
    EXPECT_THROW(device->Open(), GenICam::RuntimeException);

    // Clean-up stays safe.
    EXPECT_TRUE(device->DeregisterRemovalCallback(handle));
    device->Close();
    factory.DestroyDevice(device);
    EXPECT_EQ(recorder.Calls(), 1);
}

TEST_F(DeviceRemoval, DestroyingADeviceDropsItsPendingCallbacks)
{
    // Many devices removed at once, destroyed at once: no callback may run on a destroyed one.
    std::vector<IPylonDevice*> devices;
    RemovalRecorder recorder;
    for (int i = 0; i < 8; ++i) {
        const std::string serial = std::to_string(100 + i);
        Plug(serial, "minimal_area.xml");
        IPylonDevice* d = CTlFactory::GetInstance().CreateDevice(InfoOf(serial));
        d->Open();
        RegisterRemovalCallback(d, recorder, &RemovalRecorder::OnRemoved);
        devices.push_back(d);
    }
    Emulator::Instance().Reset();
    for (IPylonDevice* d : devices)
        CTlFactory::GetInstance().DestroyDevice(d);
    EXPECT_LE(recorder.Calls(), 8);
}

TEST_F(DeviceRemoval, DeviceResetRemovesTheDeviceAndTheCameraComesBackWithDefaults)
{
    Plug("2001");
    Emulator::Instance().SetResetDuration(20);
    IPylonDevice* device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    device->Open();
    auto* width = dynamic_cast<GenApi::IInteger*>(device->GetNodeMap()->GetNode("Width"));
    const int64_t original = width->GetValue();
    width->SetValue(640);
    RemovalRecorder recorder;
    RegisterRemovalCallback(device, recorder, &RemovalRecorder::OnRemoved);

    dynamic_cast<GenApi::ICommand*>(device->GetNodeMap()->GetNode("DeviceReset"))->Execute();
    ASSERT_TRUE(recorder.WaitForCalls(1));
    CTlFactory::GetInstance().DestroyDevice(device);

    ASSERT_TRUE(Emulator::Instance().WaitForPlugged("2001", 2000));
    device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    device->Open();
    EXPECT_EQ(dynamic_cast<GenApi::IInteger*>(device->GetNodeMap()->GetNode("Width"))->GetValue(), original);
    CTlFactory::GetInstance().DestroyDevice(device);
}

TEST_F(DeviceRemoval, UnplugOfAClosedDeviceStillReportsRemoval)
{
    Plug("2001");
    IPylonDevice* device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    RemovalRecorder recorder;
    RegisterRemovalCallback(device, recorder, &RemovalRecorder::OnRemoved);
    Emulator::Instance().Unplug("2001");
    ASSERT_TRUE(recorder.WaitForCalls(1));
    EXPECT_THROW(device->Open(), GenICam::RuntimeException);
    CTlFactory::GetInstance().DestroyDevice(device);
}

TEST_F(DeviceRemoval, ReopeningOrLosingTheDeviceDropsTheValuesReadBefore)
{
    // A value read on one connection is never served on the next, nor after the loss of
    // the device: a read goes to the camera then (and fails once it is gone).
    Plug("2001");
    IPylonDevice* device = CTlFactory::GetInstance().CreateDevice(InfoOf("2001"));
    device->Open();
    auto* lut = dynamic_cast<GenApi::IRegister*>(device->GetNodeMap()->GetNode("LUTValueAll"));
    ASSERT_NE(lut, nullptr);
    auto cached = [&] { return dynamic_cast<GenApi::IValue&>(*lut).IsValueCacheValid(); };
    std::vector<uint8_t> bytes(static_cast<size_t>(lut->GetLength()));
    lut->Get(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(cached());
    device->Close();
    EXPECT_FALSE(cached());
    device->Open();
    lut->Get(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(cached());
    device->GetNodeMap()->InvalidateNodes();
    EXPECT_FALSE(cached());
    lut->Get(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(cached());

    RemovalRecorder recorder;
    RegisterRemovalCallback(device, recorder, &RemovalRecorder::OnRemoved);
    ASSERT_TRUE(Emulator::Instance().Unplug("2001"));
    ASSERT_TRUE(recorder.WaitForCalls(1));
    EXPECT_FALSE(cached());
    CTlFactory::GetInstance().DestroyDevice(device);
}

} // namespace
