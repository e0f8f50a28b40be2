// The register value cache: which reads reach the device, and that no read serves a value
// the device no longer holds after a write, an invalidation, or the end of its PollingTime.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::Load;

namespace {

// A device register space behind the port "Device" that counts the transfers; the test
// changes its bytes behind the node map's back the way a camera does by itself.
class CountingDevice {
public:
    explicit CountingDevice(NodeMap& map) {
        map.ConnectPort(
            "Device",
            [this](int64_t address, uint8_t* buffer, size_t length) {
                std::lock_guard lock(mutex_);
                ++reads_;
                for (size_t i = 0; i < length; ++i)
                    buffer[i] = memory_[address + static_cast<int64_t>(i)];
            },
            [this](int64_t address, const uint8_t* buffer, size_t length) {
                std::lock_guard lock(mutex_);
                ++writes_;
                for (size_t i = 0; i < length; ++i)
                    memory_[address + static_cast<int64_t>(i)] = buffer[i];
                if (address == kSelfClearing)
                    memory_[address] = 0; // a command register the camera clears at once
            });
    }
    // A 4-byte little-endian value the camera puts into its register by itself.
    void Poke(int64_t address, uint32_t value) {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < 4; ++i)
            memory_[address + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    uint32_t Peek(int64_t address) {
        std::lock_guard lock(mutex_);
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(memory_[address + i]) << (8 * i);
        return value;
    }
    int Reads() {
        std::lock_guard lock(mutex_);
        return reads_;
    }

    static constexpr int64_t kSelfClearing = 0x700;

private:
    std::mutex mutex_;
    std::map<int64_t, uint8_t> memory_;
    int reads_ = 0;
    int writes_ = 0;
};

const char* const kNodes = R"(
<Port Name="Device"/>
<IntReg Name="Plain"><Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>
<IntReg Name="Temperature"><Address>0x104</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  <Cachable>NoCache</Cachable></IntReg>
<IntReg Name="Clamped"><Address>0x108</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
  <Cachable>WriteAround</Cachable></IntReg>
<IntReg Name="BinningReg"><Address>0x10c</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>
<Integer Name="Binning"><pValue>BinningReg</pValue><Min>1</Min><Max>4</Max></Integer>
<IntReg Name="WidthMax"><Address>0x110</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  <pInvalidator>Binning</pInvalidator></IntReg>
<IntReg Name="FrameCounter"><Address>0x114</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  <PollingTime>3600000</PollingTime></IntReg>
<MaskedIntReg Name="ReverseX"><Address>0x200</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
  <Bit>0</Bit></MaskedIntReg>
<MaskedIntReg Name="Mode"><Address>0x200</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>
  <LSB>8</LSB><MSB>15</MSB></MaskedIntReg>
<Integer Name="Selector"><Value>0</Value><Min>0</Min><Max>3</Max></Integer>
<IntReg Name="PerLine"><Address>0x300</Address><pIndex Offset="4">Selector</pIndex><Length>4</Length><AccessMode>RO</AccessMode>
  <pPort>Device</pPort></IntReg>
<Command Name="TimestampLatch"><pValue>LatchReg</pValue><CommandValue>1</CommandValue></Command>
<IntReg Name="LatchReg"><Address>0x700</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>
<IntReg Name="TimestampValue"><Address>0x704</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort>
  <pInvalidator>TimestampLatch</pInvalidator></IntReg>
)";

struct Cache : ::testing::Test {
    std::unique_ptr<NodeMap> map = Load(kNodes);
    CountingDevice device{*map};
    int64_t Get(const char* name, bool ignore_cache = false) {
        return CIntegerPtr(map->GetNode(name))->GetValue(false, ignore_cache);
    }
    void Set(const char* name, int64_t value) { CIntegerPtr(map->GetNode(name))->SetValue(value); }
    bool Cached(const char* name) { return dynamic_cast<IValue&>(*map->GetNode(name)).IsValueCacheValid(); }
};

TEST_F(Cache, CachingModesDecideWhichReadsReachTheDevice) {
    // WriteThrough (the default): the first read fills, a write stores what it wrote.
    device.Poke(0x100, 7);
    EXPECT_EQ(Get("Plain"), 7);
    const int after_fill = device.Reads();
    EXPECT_EQ(Get("Plain"), 7);
    EXPECT_EQ(device.Reads(), after_fill);
    EXPECT_TRUE(Cached("Plain"));
    Set("Plain", 9);
    EXPECT_EQ(Get("Plain"), 9);
    EXPECT_EQ(device.Reads(), after_fill);
    // Asked to, a read goes past the cache.
    device.Poke(0x100, 11);
    EXPECT_EQ(Get("Plain", true), 11);
    EXPECT_EQ(device.Reads(), after_fill + 1);

    // NoCache: every read asks the camera.
    device.Poke(0x104, 40);
    EXPECT_EQ(Get("Temperature"), 40);
    device.Poke(0x104, 41);
    EXPECT_EQ(Get("Temperature"), 41);
    EXPECT_FALSE(Cached("Temperature"));

    // WriteAround: reads are kept, a write is not (the camera may have clamped it).
    EXPECT_EQ(Get("Clamped"), 0);
    int reads = device.Reads();
    EXPECT_EQ(Get("Clamped"), 0);
    EXPECT_EQ(device.Reads(), reads);
    Set("Clamped", 500);
    device.Poke(0x108, 255);
    EXPECT_EQ(Get("Clamped"), 255);
    EXPECT_EQ(device.Reads(), reads + 1);
}

TEST_F(Cache, ChangesDropTheValuesThatDependOnThem) {
    // pInvalidator: the camera recomputes WidthMax when the binning changes.
    device.Poke(0x110, 1280);
    EXPECT_EQ(Get("WidthMax"), 1280);
    Set("Binning", 2);
    device.Poke(0x110, 640);
    EXPECT_EQ(Get("WidthMax"), 640);
    // Also when the invalidator changes through what it is made of (its register).
    Set("BinningReg", 4);
    device.Poke(0x110, 320);
    EXPECT_EQ(Get("WidthMax"), 320);
    // An explicit invalidation of one node.
    device.Poke(0x110, 330);
    map->GetNode("WidthMax")->InvalidateNode();
    EXPECT_EQ(Get("WidthMax"), 330);

    // A register addressed through a selector reads the entry selected now.
    device.Poke(0x300, 10);
    device.Poke(0x304, 20);
    EXPECT_EQ(Get("PerLine"), 10);
    Set("Selector", 1);
    EXPECT_EQ(Get("PerLine"), 20);
    Set("Selector", 0);
    EXPECT_EQ(Get("PerLine"), 10);

    // A command's register is the camera's after Execute, and what the command invalidates
    // reads the device again.
    device.Poke(0x704, 1000);
    EXPECT_EQ(Get("TimestampValue"), 1000);
    device.Poke(0x704, 2000);
    CCommandPtr(map->GetNode("TimestampLatch"))->Execute();
    EXPECT_EQ(Get("TimestampValue"), 2000);
    EXPECT_EQ(Get("LatchReg"), 0); // self-cleared, not the 1 written
}

TEST_F(Cache, BitFieldsOfOneRegisterStayConsistent) {
    EXPECT_EQ(Get("ReverseX"), 0);
    EXPECT_EQ(Get("Mode"), 0);
    Set("Mode", 5);
    // ReverseX's bytes held Mode = 0: writing ReverseX from them would undo Mode.
    Set("ReverseX", 1);
    EXPECT_EQ(Get("Mode"), 5);
    EXPECT_EQ(Get("ReverseX"), 1);
    EXPECT_EQ(device.Peek(0x200), 0x501u);
    // A register read as a whole sees the bit fields written.
    uint8_t bytes[4] = {};
    CRegisterPtr(map->GetNode("Mode"))->Get(bytes, 4);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x05);
}

TEST_F(Cache, PollingTimeBoundsTheAgeOfAValue) {
    int told = 0;
    map->GetNode("FrameCounter")->RegisterCallback([&](INode*) { ++told; });
    device.Poke(0x114, 1);
    EXPECT_EQ(Get("FrameCounter"), 1);
    device.Poke(0x114, 2);
    map->Poll(3600000 - 60000); // a minute short of its PollingTime
    EXPECT_EQ(Get("FrameCounter"), 1);
    EXPECT_EQ(told, 0);
    map->Poll(60000);
    EXPECT_EQ(told, 1); // listeners learn the value is to be read again
    EXPECT_EQ(Get("FrameCounter"), 2);
    EXPECT_TRUE(Cached("FrameCounter"));
}

TEST_F(Cache, InvalidateNodesDropsEveryValue) {
    device.Poke(0x100, 1);
    device.Poke(0x110, 2);
    EXPECT_EQ(Get("Plain"), 1);
    EXPECT_EQ(Get("WidthMax"), 2);
    const int reads = device.Reads();
    device.Poke(0x100, 3);
    device.Poke(0x110, 4);
    map->InvalidateNodes();
    EXPECT_FALSE(Cached("Plain"));
    EXPECT_EQ(Get("Plain"), 3);
    EXPECT_EQ(Get("WidthMax"), 4);
    EXPECT_EQ(device.Reads(), reads + 2);
}

TEST_F(Cache, ReadersAndWritersOnSeveralThreadsSeeTheLastWrite) {
    // Two threads write the two bit fields of one register while a third reads: no write
    // is lost (read-modify-write over cached bytes) and the map stays consistent.
    constexpr int kRounds = 300;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop)
            (void)Get("Mode");
    });
    std::thread modes([&] {
        for (int i = 1; i <= kRounds; ++i)
            Set("Mode", i % 256);
    });
    for (int i = 1; i <= kRounds; ++i)
        Set("ReverseX", i % 2);
    modes.join();
    stop = true;
    reader.join();
    EXPECT_EQ(Get("Mode"), kRounds % 256);
    EXPECT_EQ(Get("ReverseX"), kRounds % 2);
    EXPECT_EQ(device.Peek(0x200), static_cast<uint32_t>((kRounds % 256) << 8 | kRounds % 2));
}

} // namespace
