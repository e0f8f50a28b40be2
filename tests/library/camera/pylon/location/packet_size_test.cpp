// Stream packet size from the MTU of the host interface in the camera's network, with a
// fake interface list in place of the system's.
#include <gmock/gmock.h>

#include <sys/socket.h>

#include "location_support.h"

using ::testing::HasSubstr;
using namespace location_test;

namespace {

struct FakeInterface {
    std::string name;
    int family;
    std::string address;
    int mtu;  // < 0: the MTU request fails
};

class PacketSize : public LocationFixture {
protected:
    void SetUp() override
    {
        LocationFixture::SetUp();
        plug("1001");
        loc = add_location("CAM", {{"SERIAL", "0"}});
        loc->find_cameras_of_type(1);
        ASSERT_FALSE(loc->camera_init());
    }

    // Puts a fake interface list in place; `list_ok` false: the list cannot be read.
    void use(std::vector<FakeInterface> interfaces, bool list_ok = true, bool socket_ok = true)
    {
        loc->net_source.list_addresses = [interfaces, list_ok](std::vector<pylon_net_if>& out) {
            for (const FakeInterface& f : interfaces) {
                pylon_net_if e;
                e.name = f.name;
                e.family = f.family;
                e.numeric_ok = !f.address.empty();
                e.address = f.address;
                out.push_back(e);
            }
            return list_ok;
        };
        loc->net_source.read_mtu = [interfaces, socket_ok](const std::string& name, int& mtu) {
            if (!socket_ok)
                return pylon_net_source::mtu_socket_failed;
            for (const FakeInterface& f : interfaces) {
                if (f.name == name && f.mtu >= 0) {
                    mtu = f.mtu;
                    return pylon_net_source::mtu_ok;
                }
            }
            return pylon_net_source::mtu_request_failed;
        };
    }

    int64_t camera_packet_size() { return loc->pCamera->GevSCPSPacketSize.GetValue(); }

    EqFctPylon* loc = nullptr;
};

const FakeInterface lo{"lo", AF_INET, "127.0.0.1", 65536};
const FakeInterface eth1{"eth1", AF_INET, "10.1.2.1", 9000};

TEST_F(PacketSize, MtuOfTheInterfaceInTheSameNetwork)
{
    loc->interface_.set_value("10.1.2.3");
    use({lo, {"eth0", -1, "", 0}, {"eth0", AF_PACKET, "", 0}, eth1});
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_EQ(camera_packet_size(), 9000);
}

TEST_F(PacketSize, NoInterfaceInTheNetworkGivesTheDefault)
{
    loc->interface_.set_value("10.1.2.3");
    use({lo, {"eth2", AF_INET, "192.168.1.5", 9000}});
    Stderr err;
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() failed to find interface setting default 1500 size"));
    EXPECT_EQ(camera_packet_size(), 1500);
}

TEST_F(PacketSize, PrefixMatchesAnywhereInTheAddressAndTheFirstMatchWins)
{
    loc->interface_.set_value("10.1.2.3");
    use({lo, {"eth3", AF_INET, "210.1.2.7", 4000}, eth1});
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_EQ(camera_packet_size(), 4000);
}

TEST_F(PacketSize, MtuBetweenTwoStepsIsRoundedDownAndLimitsClamp)
{
    loc->interface_.set_value("10.1.2.3");
    use({{"eth1", AF_INET, "10.1.2.1", 9001}});
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_EQ(camera_packet_size(), 9000);

    use({{"eth1", AF_INET, "10.1.2.1", 65536}});
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_EQ(camera_packet_size(), 16404);  // the feature's maximum
}

TEST_F(PacketSize, FailuresOfTheSystemCalls)
{
    loc->interface_.set_value("10.1.2.3");
    {
        use({eth1}, /*list_ok=*/false);
        Stderr err;
        EXPECT_EQ(loc->camera_set_packet_size(), 1);
        EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() failed getifaddrs()"));
    }
    {
        // An address that cannot be turned into text before the match ends the search.
        use({{"eth0", AF_INET, "", 0}, eth1});
        Stderr err;
        EXPECT_EQ(loc->camera_set_packet_size(), 1);
        EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() getnameinfo() failed"));
    }
    {
        use({{"eth1", AF_INET, "10.1.2.1", 2000}}, true, /*socket_ok=*/false);
        Stderr err;
        EXPECT_EQ(loc->camera_set_packet_size(), 1);
        EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() failed to open socket. Setting default 1500 size"));
        EXPECT_EQ(camera_packet_size(), 1500);
    }
    {
        use({{"eth1", AF_INET, "10.1.2.1", -1}});
        loc->pCamera->GevSCPSPacketSize.SetValue(3000);
        loc->camera_readback_all_features();
        Stderr err;
        EXPECT_EQ(loc->camera_set_packet_size(), 0);
        EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() failed to get MTU. Setting default 1500 size"));
        EXPECT_EQ(camera_packet_size(), 1500);
    }
}

TEST_F(PacketSize, InterfacePropertyMissingOrEmpty)
{
    use({eth1});
    loc->interface_.set_value("");
    Stderr err;
    EXPECT_EQ(loc->camera_set_packet_size(), 1);
    EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() empty value in INTERFACE"));
}

TEST_F(PacketSize, AddressWithoutDotIsUsedWhole)
{
    loc->interface_.set_value("eth");
    use({{"x", AF_INET6, "fe80::eth", 7000}});
    EXPECT_EQ(loc->camera_set_packet_size(), 0);
    EXPECT_EQ(camera_packet_size(), 7000);
}

class PacketSizeMinimal : public LocationFixture {};

TEST_F(PacketSizeMinimal, CameraWithoutThePacketSizeFeatureIsLeftAlone)
{
    plug("1001", kMinimalModel);
    EqFctPylon* loc = add_location("CAM", {{"SERIAL", "0"}, {"INTERFACE", "10.1.2.3"}});
    loc->find_cameras_of_type(1);
    ASSERT_FALSE(loc->camera_init());
    loc->net_source.list_addresses = [](std::vector<pylon_net_if>& out) {
        out.push_back({"eth1", AF_INET, true, "10.1.2.1"});
        return true;
    };
    Stderr err;
    EXPECT_EQ(loc->camera_set_packet_size(), 1);
    EXPECT_THAT(err.text(), HasSubstr("CAM: camera_set_packet_size() failed to find GevSCPSPacketSize property"));
}

TEST_F(PacketSizeMinimal, NoCameraNoPacketSize)
{
    EqFctPylon* loc = add_location("CAM", {{"INTERFACE", "10.1.2.3"}});
    EXPECT_EQ(loc->camera_set_packet_size(), 1);
}

} // namespace
