// The emulated camera's network features tell what its device information tells.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <pylon/PylonIncludes.h>

#include "EmulatorFixture.h"

namespace {

class NetworkFeatures : public pylon_test::EmulatorTest {
protected:
    // The feature's value in the notation of the device information.
    static std::string Ipv4(GenApi::INodeMap& map, const char* name)
    {
        const auto v = static_cast<uint32_t>(GenApi::CIntegerPtr(map.GetNode(name))->GetValue());
        char text[32];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255);
        return text;
    }
    static std::string Mac(GenApi::INodeMap& map)
    {
        const auto v = static_cast<uint64_t>(GenApi::CIntegerPtr(map.GetNode("GevMACAddress"))->GetValue());
        char text[32];
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(v >> 40 & 255), unsigned(v >> 32 & 255),
                      unsigned(v >> 24 & 255), unsigned(v >> 16 & 255), unsigned(v >> 8 & 255), unsigned(v & 255));
        return text;
    }
};

TEST_F(NetworkFeatures, AgreeWithTheDeviceInformationForDefaultAndConfiguredAddresses)
{
    Plug("7001", "color_area_1920x1200.xml");
    Pylon::Emulator::CameraConfig config;
    config.serialNumber = "7002";
    config.model = "mono_area_1280x1024.xml";
    config.ipAddress = "192.168.7.200";
    config.macAddress = "AC:DE:48:00:11:22";
    Pylon::Emulator::Instance().Plug(config);

    for (const char* serial : {"7001", "7002"}) {
        SCOPED_TRACE(serial);
        const Pylon::CDeviceInfo info = InfoOf(serial);
        Pylon::Camera_t camera(Pylon::CTlFactory::GetInstance().CreateDevice(info));
        camera.Open();
        GenApi::INodeMap& map = *camera.GetNodeMap();
        EXPECT_EQ(Ipv4(map, "GevCurrentIPAddress"), std::string(info.GetIpAddress()));
        EXPECT_EQ(Ipv4(map, "GevCurrentSubnetMask"), std::string(info.GetSubnetMask()));
        EXPECT_EQ(Ipv4(map, "GevCurrentDefaultGateway"), std::string(info.GetDefaultGateway()));
        EXPECT_EQ(Mac(map), std::string(info.GetMacAddress()));
        camera.Close();
    }
    EXPECT_EQ(std::string(InfoOf("7002").GetIpAddress()), "192.168.7.200");
}

} // namespace
