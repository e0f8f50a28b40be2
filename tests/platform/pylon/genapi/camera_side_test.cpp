// The camera's side of a node map: unchecked access, write notification, injected faults,
// commands completed later, callbacks, and use from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "genapi_test_util.h"

using namespace GenApi;
using genapi_test::DescriptionOf;
using genapi_test::Load;

namespace {

const char* const kNodes = R"(
<Integer Name="TLParamsLocked"><Value>0</Value></Integer>
<Integer Name="WidthReg"><Value>640</Value></Integer>
<Integer Name="Width"><pIsLocked>TLParamsLocked</pIsLocked><pValue>WidthReg</pValue><Min>16</Min><Max>1280</Max></Integer>
<Integer Name="SensorTemp"><ImposedAccessMode>RO</ImposedAccessMode><Value>40</Value></Integer>
<Float Name="Gain"><Value>0</Value><Min>0</Min><Max>10</Max></Float>
<Command Name="AcquisitionStart"><pIsLocked>Never</pIsLocked></Command>
<Integer Name="Never"><Value>0</Value></Integer>
<Command Name="UserSetLoad"/>
<IntSwissKnife Name="PayloadSize"><pVariable Name="W">Width</pVariable><Formula>W * 480</Formula></IntSwissKnife>
)";

TEST(CameraSide, UncheckedAccessIgnoresAccessAndLimits) {
    auto map = Load(kNodes);
    map->SetIntegerUnchecked("SensorTemp", 55);
    EXPECT_EQ(CIntegerPtr(map->GetNode("SensorTemp"))->GetValue(), 55);
    map->SetIntegerUnchecked("TLParamsLocked", 1);
    map->SetIntegerUnchecked("Width", 5000);
    EXPECT_EQ(map->GetIntegerUnchecked("WidthReg"), 5000);
    EXPECT_EQ(map->GetIntegerUnchecked("PayloadSize"), 5000 * 480);
    map->SetFloatUnchecked("Gain", 99.5);
    EXPECT_DOUBLE_EQ(map->GetFloatUnchecked("Gain"), 99.5);
    map->SetStringUnchecked("Gain", "1.25");
    EXPECT_EQ(map->GetStringUnchecked("Gain"), "1.25");
    EXPECT_EQ(DescriptionOf<GenICam::LogicalErrorException>([&] { map->GetIntegerUnchecked("Nope"); }),
              "Node 'Nope' does not exist in the node map of 'test.xml'");
}

TEST(CameraSide, LockingThroughAValueNodeChangesAccessAndTellsListeners) {
    auto map = Load(kNodes);
    CIntegerPtr width = map->GetNode("Width");
    std::vector<EAccessMode> seen;
    width->GetNode()->RegisterCallback([&](INode* node) { seen.push_back(node->GetAccessMode()); });
    map->SetIntegerUnchecked("TLParamsLocked", 1);
    EXPECT_EQ(seen, std::vector<EAccessMode>{RO});
    EXPECT_EQ(DescriptionOf<GenICam::AccessException>([&] { width->SetValue(800); }), "Node 'Width' is not writable");
    map->SetIntegerUnchecked("TLParamsLocked", 0);
    width->SetValue(800);
    EXPECT_EQ(map->GetIntegerUnchecked("WidthReg"), 800);
}

TEST(CameraSide, CallbacksFireForTheNodeAndItsDependentsOutsideTheLock) {
    auto map = Load(kNodes);
    std::vector<std::string> calls;
    bool lock_free = true;
    auto record = [&](INode* node) {
        calls.push_back(node->GetName());
        // Another thread can take the lock: we are not called inside it.
        std::thread probe([&] {
            if (map->GetLock().try_lock())
                map->GetLock().unlock();
            else
                lock_free = false;
        });
        probe.join();
    };
    const auto h1 = map->GetNode("Width")->RegisterCallback(record);
    map->GetNode("PayloadSize")->RegisterCallback(record);
    map->GetNode("Gain")->RegisterCallback(record);
    CIntegerPtr(map->GetNode("Width"))->SetValue(320);
    EXPECT_EQ(calls, (std::vector<std::string>{"Width", "PayloadSize"}));
    EXPECT_TRUE(lock_free);

    calls.clear();
    EXPECT_TRUE(map->GetNode("Width")->DeregisterCallback(h1));
    EXPECT_FALSE(map->GetNode("Width")->DeregisterCallback(h1));
    map->SetIntegerUnchecked("WidthReg", 100); // the value node behind Width
    EXPECT_EQ(calls, std::vector<std::string>{"PayloadSize"});

    // Holding the lock defers the callbacks until it is released.
    calls.clear();
    {
        std::lock_guard<NodeMapLock> guard(map->GetLock());
        CFloatPtr(map->GetNode("Gain"))->SetValue(2);
        EXPECT_TRUE(calls.empty());
    }
    EXPECT_EQ(calls, std::vector<std::string>{"Gain"});
}

TEST(CameraSide, WriteHookSeesClientWritesOnly) {
    auto map = Load(kNodes);
    std::vector<std::pair<std::string, EWritePhase>> writes;
    map->SetWriteHook([&](INode& node, EWritePhase phase) {
        writes.emplace_back(node.GetName(), phase);
        if (phase == EWritePhase::AfterWrite && node.GetName() == "AcquisitionStart")
            map->SetIntegerUnchecked("TLParamsLocked", 1); // the camera reacts
    });
    map->SetIntegerUnchecked("Width", 100);
    EXPECT_TRUE(writes.empty());
    CCommandPtr(map->GetNode("AcquisitionStart"))->Execute();
    CFloatPtr(map->GetNode("Gain"))->FromString("3");
    using P = EWritePhase;
    EXPECT_EQ(writes, (std::vector<std::pair<std::string, P>>{{"AcquisitionStart", P::BeforeWrite},
                                                               {"AcquisitionStart", P::AfterWrite},
                                                               {"Gain", P::BeforeWrite},
                                                               {"Gain", P::AfterWrite}}));
    EXPECT_EQ(CNodePtr(map->GetNode("Width"))->GetAccessMode(), RO);

    // A refusal in the before phase leaves the value alone.
    map->SetWriteHook([](INode& node, EWritePhase phase) {
        if (phase == EWritePhase::BeforeWrite)
            throw RUNTIME_EXCEPTION("Node '%s': busy", node.GetName().c_str());
    });
    EXPECT_THROW(CFloatPtr(map->GetNode("Gain"))->SetValue(4), GenICam::RuntimeException);
    EXPECT_DOUBLE_EQ(map->GetFloatUnchecked("Gain"), 3);
    map->SetWriteHook(nullptr);
    CFloatPtr(map->GetNode("Gain"))->SetValue(4);
}

TEST(CameraSide, InjectedFaultsFailTheNextWrites) {
    auto map = Load(kNodes);
    CFloatPtr gain = map->GetNode("Gain");
    map->FailNextWrite("Gain", EWriteFault::Runtime, "", 2);
    EXPECT_EQ(DescriptionOf<GenICam::RuntimeException>([&] { gain->SetValue(1); }),
              "Node 'Gain': the camera refused the write");
    EXPECT_THROW(gain->SetValue(1), GenICam::RuntimeException);
    gain->SetValue(1);
    EXPECT_DOUBLE_EQ(gain->GetValue(), 1);

    // The range check comes first; then the fault; the value stays.
    map->FailNextWrite("Gain", EWriteFault::Timeout, "Gain: no answer");
    EXPECT_THROW(gain->SetValue(11), GenICam::OutOfRangeException);
    EXPECT_EQ(DescriptionOf<GenICam::TimeoutException>([&] { gain->SetValue(2); }), "Gain: no answer");
    EXPECT_DOUBLE_EQ(gain->GetValue(), 1);

    map->FailNextWrite("Gain", EWriteFault::Access);
    map->ClearWriteFaults();
    gain->SetValue(3);
    EXPECT_THROW(map->FailNextWrite("Nope", EWriteFault::Access), GenICam::LogicalErrorException);
}

TEST(CameraSide, CommandsStayRunningUntilCompleted) {
    auto map = Load(kNodes);
    CCommandPtr load = map->GetNode("UserSetLoad");
    map->SetCommandAutoComplete("UserSetLoad", false);
    load->Execute();
    EXPECT_FALSE(load->IsDone());
    EXPECT_EQ(map->GetIntegerUnchecked("UserSetLoad"), 1);
    map->CompleteCommand("UserSetLoad");
    EXPECT_TRUE(load->IsDone());
    EXPECT_THROW(map->CompleteCommand("Gain"), GenICam::LogicalErrorException);
}

TEST(CameraSide, ConcurrentReadersWritersAndCallbacksAreRaceFree) {
    auto map = Load(kNodes);
    std::atomic<int> callbacks{0};
    map->GetNode("PayloadSize")->RegisterCallback([&](INode* node) {
        CIntegerPtr(node)->GetValue(); // calls back into the map
        callbacks.fetch_add(1);
    });
    constexpr int kRounds = 300;
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { // a client
        CIntegerPtr width = map->GetNode("Width");
        for (int i = 0; i < kRounds; ++i) {
            try {
                width->SetValue(16 + i);
            } catch (const GenICam::AccessException&) {
                // locked by the camera thread for a moment
            }
        }
    });
    threads.emplace_back([&] { // the camera locking and unlocking
        for (int i = 0; i < kRounds; ++i)
            map->SetIntegerUnchecked("TLParamsLocked", i % 2);
    });
    threads.emplace_back([&] { // a frame thread reading a consistent pair
        for (int i = 0; i < kRounds; ++i) {
            std::lock_guard<NodeMapLock> guard(map->GetLock());
            if (map->GetIntegerUnchecked("PayloadSize") != map->GetIntegerUnchecked("Width") * 480)
                failed = true;
        }
    });
    threads.emplace_back([&] { // a host thread walking the map
        for (int i = 0; i < kRounds / 10; ++i) {
            NodeList_t nodes;
            map->GetNodes(nodes);
            for (INode* node : nodes)
                if (IsReadable(node))
                    CValuePtr(node)->ToString();
        }
    });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(failed);
    EXPECT_GT(callbacks.load(), 0);
}

} // namespace
