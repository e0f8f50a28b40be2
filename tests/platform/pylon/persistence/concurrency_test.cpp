// A save switches selectors to read per-entry values and a load writes many features: another
// thread using the same node map meanwhile must see neither half-way.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <GenApi/GenApi.h>
#include <pylon/FeaturePersistence.h>

namespace {

using namespace GenApi;
using Pylon::CFeaturePersistence;
using ::testing::HasSubstr;

constexpr int kRounds = 60;

std::unique_ptr<NodeMap> MonoModel() {
    return CNodeMapFactory::LoadFromFile(MIRVA_SOURCE_DIR "/platform/pylon/models/mono_area_1280x1024.xml");
}

// The other thread keeps the frame trigger on and, as one step (as the camera back-end's
// acquisition start does), selects the acquisition start trigger, writes its mode (off) and
// selects the frame trigger again.
void RewriteAcquisitionTrigger(NodeMap& map, std::atomic<bool>& stop) {
    CEnumerationPtr selector = map.GetNode("TriggerSelector"), mode = map.GetNode("TriggerMode");
    while (!stop.load()) {
        {
            std::lock_guard<NodeMapLock> step(map.GetLock());
            selector->FromString("AcquisitionStart");
            mode->FromString("Off");
            selector->FromString("FrameStart");
        }
        std::this_thread::yield(); // let the saving thread in between steps
    }
}

TEST(PersistenceConcurrency, SaveReadsEachEntryUnderItsOwnSelector) {
    auto map = MonoModel();
    CEnumerationPtr(map->GetNode("TriggerSelector"))->FromString("FrameStart");
    CEnumerationPtr(map->GetNode("TriggerMode"))->FromString("On");
    std::atomic<bool> stop{false};
    std::thread other(RewriteAcquisitionTrigger, std::ref(*map), std::ref(stop));
    for (int i = 0; i < kRounds; ++i) {
        std::string text;
        CFeaturePersistence::SaveToString(text, map.get());
        // A save that read the acquisition trigger's entry while the other thread had the
        // frame trigger selected would show it on.
        ASSERT_THAT(text, HasSubstr("TriggerSelector\tFrameStart\n"));
        ASSERT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=AcquisitionStart}\tOff\n"));
        ASSERT_THAT(text, HasSubstr("TriggerMode\t{TriggerSelector=FrameStart}\tOn\n"));
    }
    stop = true;
    other.join();
}

TEST(PersistenceConcurrency, LoadIsSeenWholeByOtherThreads) {
    auto map = MonoModel();
    const std::string small = "OffsetX\t0\nWidth\t640\nOffsetX\t320\n";
    const std::string full = "OffsetX\t0\nWidth\t1280\n";
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        CIntegerPtr width = map->GetNode("Width"), ox = map->GetNode("OffsetX");
        while (!stop.load()) {
            {
                std::lock_guard<NodeMapLock> step(map->GetLock());
                const int64_t w = width->GetValue(), x = ox->GetValue();
                if (!((w == 640 && x == 320) || (w == 1280 && x == 0)))
                    ++torn;
            }
            std::this_thread::yield(); // let the loading thread in between reads
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        CFeaturePersistence::LoadFromString(small, map.get());
        CFeaturePersistence::LoadFromString(full, map.get());
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
