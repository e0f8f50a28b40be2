// The GigE Vision transport against Aravis's fake camera, inside a private network
// namespace that holds nothing but loopback (the test re-executes itself there).
#include <gtest/gtest.h>

#include <net/if.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <GenICam/GCException.h>
#include <pylon/transport/GigETransport.h>

namespace {

bool OnlyLoopback()
{
    struct if_nameindex* names = if_nameindex();
    bool only = names != nullptr;
    for (auto* n = names; n && n->if_name; ++n)
        only = only && std::string(n->if_name) == "lo";
    if (names)
        if_freenameindex(names);
    return only;
}

class FakeCamera {
public:
    explicit FakeCamera(const char* serial)
    {
        pid_ = fork();
        if (pid_ == 0) {
            execlp("arv-fake-gv-camera-0.8", "arv-fake-gv-camera-0.8", "-i", "127.0.0.1", "-s", serial, nullptr);
            _exit(127);
        }
    }
    ~FakeCamera()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

TEST(GigETransport, FindsTheCameraByAddressWithItsBootstrapInformation)
{
    if (!getenv("MIRVA_IN_PRIVATE_NET"))
        GTEST_SKIP() << "runs only inside its private network namespace";
    if (!OnlyLoopback())
        GTEST_SKIP() << "the network namespace holds more than lo";
    FakeCamera camera("4711");
    auto layer = Pylon::Transport::CreateGigETransportLayer({{"127.0.0.1"}});
    Pylon::DeviceInfoList_t list;
    // Bounded wait for the fake camera to answer.
    for (int attempt = 0; attempt < 100 && list.empty(); ++attempt) {
        layer->EnumerateDevices(list);
        if (list.empty())
            std::this_thread::yield();
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].GetSerialNumber(), "4711");
    EXPECT_EQ(list[0].GetModelName(), "Fake");
    EXPECT_EQ(list[0].GetVendorName(), "Aravis");
    EXPECT_EQ(list[0].GetIpAddress(), "127.0.0.1");
    EXPECT_TRUE(layer->Owns(list[0]));

    auto transport = layer->CreateTransport(list[0]);
    try {
        transport->Open();
    } catch (const GenICam::GenericException& e) {
        // Until the loader reads this camera's description the error must name the camera.
        EXPECT_NE(std::string(e.GetDescription()).find("4711"), std::string::npos) << e.GetDescription();
        return;
    }
    EXPECT_TRUE(transport->IsOpen());
    EXPECT_NE(transport->NodeMap()->GetNode("Width"), nullptr);
}

} // namespace

// Re-executes the test program inside a private user and network namespace with lo up.
int main(int argc, char** argv)
{
    if (!getenv("MIRVA_IN_PRIVATE_NET") && access("/usr/bin/unshare", X_OK) == 0) {
        setenv("MIRVA_IN_PRIVATE_NET", "1", 1);
        std::string command = "ip link set lo up && exec";
        for (int i = 0; i < argc; ++i)
            command += std::string(" '") + argv[i] + "'";
        execl("/usr/bin/unshare", "unshare", "-rn", "sh", "-c", command.c_str(), nullptr);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
