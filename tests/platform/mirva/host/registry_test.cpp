// Property registry of a location, restore at registration, and the location list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <mirva/d_cam_param.h>
#include <mirva/eq_fct.h>
#include <mirva/location_list.h>
#include <mirva/server.h>

#include "test_support.h"

using testing::HasSubstr;

namespace {

using mirva::test::PlainLocation;

TEST(LocationCreationTest, StoredValuesAreRestoredAtRegistration) {
    mirva::LocationCreation scope("CAM1", {{"SERIAL", "21234567"},
                                           {"GAIN", "17"},
                                           {"EXPO", "250.5"},
                                           {"PIXELFORMAT", "Mono12"},
                                           {"LATER", "9"},
                                           {"BAD", "twelve"}});
    PlainLocation loc;
    EXPECT_STREQ(loc.name(), "CAM1");

    D_int serial("SERIAL serial number", &loc);
    EXPECT_EQ(serial.value(), 21234567);
    EXPECT_TRUE(serial.was_restored());

    D_cam_param_int gain("GAIN gain", 0, 10, &loc);  // stored values are restored as they are, limits apply later
    EXPECT_EQ(gain.value(), 17);
    EXPECT_EQ(gain.new_value(), 17);
    EXPECT_FALSE(gain.changed());
    EXPECT_TRUE(gain.get_valid());

    D_cam_param_float expo("EXPO exposure", &loc);
    EXPECT_FLOAT_EQ(expo.value(), 250.5f);
    EXPECT_TRUE(expo.get_valid());

    D_cam_param_text pf("PIXELFORMAT pixel format", &loc);
    EXPECT_EQ(pf.value(), "Mono12");

    // Registered after construction (no owner given): restored by add_property.
    D_int later("LATER later", nullptr);
    EXPECT_EQ(later.value(), 0);
    loc.add_property(&later, 1);
    EXPECT_EQ(later.value(), 9);
    EXPECT_EQ(loc.property_group(&later), 1);

    testing::internal::CaptureStderr();
    D_cam_param_int bad("BAD bad value", 0, 100, &loc);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(bad.value(), 0);
    EXPECT_FALSE(bad.get_valid());
    EXPECT_FALSE(bad.was_restored());
    EXPECT_THAT(err, HasSubstr("CAM1"));
    EXPECT_THAT(err, HasSubstr("BAD"));
    EXPECT_THAT(err, HasSubstr("\"twelve\""));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    D_int untouched("OTHER other", &loc);
    EXPECT_FALSE(untouched.was_restored());
}

TEST(LocationCreationTest, ScopesNestAndEndWithTheirBlock) {
    EXPECT_EQ(mirva::LocationCreation::current(), nullptr);
    {
        mirva::LocationCreation outer("OUTER", {});
        {
            mirva::LocationCreation inner("INNER", {});
            PlainLocation a;
            EXPECT_STREQ(a.name(), "INNER");
        }
        PlainLocation b;
        EXPECT_STREQ(b.name(), "OUTER");
    }
    EXPECT_EQ(mirva::LocationCreation::current(), nullptr);
}

TEST(LocationCreationTest, ARemovedPropertyComesBackWithItsLastValue) {
    // Camera features are removed when the camera goes away and created again when it
    // returns: the client's setting must survive that.
    mirva::LocationCreation scope("CAM1", {{"EXPOSURE", "100"}});
    PlainLocation loc;
    auto* first = new D_cam_param_int("EXPOSURE exposure", 0, 100000, &loc);
    EXPECT_EQ(first->value(), 100);
    first->mirva::D_value<int>::set_value(5000);
    loc.rem_property(first);
    delete first;
    D_cam_param_int again("EXPOSURE exposure", 0, 100000, &loc);
    EXPECT_EQ(again.value(), 5000);
    EXPECT_TRUE(again.get_valid());
}

TEST(LocationCreationTest, AClientWriteStillPendingAtRemovalIsWrittenAgainLater) {
    PlainLocation loc;
    auto* gain = new D_cam_param_int("GAIN gain", 0, 500, &loc);
    auto* mode = new D_cam_param_text("MODE mode", &loc);
    auto* gone = new D_cam_param_int("GONE a feature the next camera lacks", 0, 9, &loc);
    auto* applied = new D_cam_param_text("APPLIED applied text", &loc);
    ASSERT_TRUE(gain->client_write(int64_t{172}).code == mirva::WriteResult::ok);
    ASSERT_TRUE(mode->client_write(std::string("Continuous")).code == mirva::WriteResult::ok);
    ASSERT_TRUE(gone->client_write(int64_t{3}).code == mirva::WriteResult::ok);
    ASSERT_TRUE(applied->client_write(std::string("done")).code == mirva::WriteResult::ok);
    applied->confirm_client_text("done");  // the owner applied it
    EXPECT_FALSE(applied->pending_write());
    for (D_fct* p : std::initializer_list<D_fct*>{gain, mode, gone, applied}) {
        loc.rem_property(p);
        delete p;
    }

    // Created again with the values read from the camera; the pending writes come back
    // as pending writes, and one without its property is reported.
    D_cam_param_int gain2("GAIN gain", 0, 500, &loc);
    D_cam_param_text mode2("MODE mode", &loc);
    D_cam_param_text applied2("APPLIED applied text", &loc);
    mode2.set_value("Off");
    applied2.set_value("camera");
    const auto dropped = loc.reapply_pending_writes();
    EXPECT_EQ(gain2.new_value(), 172);
    EXPECT_TRUE(gain2.is_changed());
    EXPECT_EQ(mode2.value(), "Continuous");
    EXPECT_EQ(applied2.value(), "camera");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_THAT(dropped[0], HasSubstr("the write of 3 to GONE, made while the camera was away, is dropped"));
    EXPECT_TRUE(loc.reapply_pending_writes().empty());  // once

    // A set-up that reads camera values back keeps what clients wrote meanwhile.
    ASSERT_TRUE(gain2.client_write(int64_t{200}).code == mirva::WriteResult::ok);
    loc.keep_pending_writes(0);
    gain2.reset_new_val();  // the read-back
    loc.reapply_pending_writes();
    EXPECT_EQ(gain2.new_value(), 200);
}

TEST(LocationCreationTest, NewInitKeepsAPendingClientWrite) {
    PlainLocation loc;
    D_cam_param_int format("FORMAT.OUT output format", 0, 2, &loc);
    format.new_init();
    EXPECT_FALSE(format.pending_write());
    ASSERT_TRUE(format.client_write(int64_t{2}).code == mirva::WriteResult::ok);
    format.new_init();  // camera initialisation while the write waits
    EXPECT_EQ(format.new_value(), 2);
    EXPECT_TRUE(format.is_changed());
    EXPECT_EQ(format.orig_value(), 0);
}

TEST(RegistryTest, FindPropertyUsesTheFirstWordOnly) {
    PlainLocation loc;
    D_int a("WIDTH width", &loc);
    D_int b("WIDTH.MAX maximum width", &loc);
    EXPECT_EQ(loc.find_property("WIDTH"), &a);
    EXPECT_EQ(loc.find_property("WIDTH.MAX the rest is ignored"), &b);
    EXPECT_EQ(loc.find_property(std::string("  WIDTH")), &a);
    EXPECT_EQ(loc.find_property("WIDTH.M"), nullptr);
    EXPECT_EQ(loc.find_property(""), nullptr);
}

TEST(RegistryTest, RegistrationIsIdempotentAndKeepsOrder) {
    PlainLocation loc;
    D_int a("A a", &loc);
    D_int b("B b", &loc);
    loc.add_property(&a, 2);  // again: only the group changes
    EXPECT_EQ(loc.property_count(), 2u);
    EXPECT_EQ(loc.property_group(&a), 2);
    std::vector<std::string> names;
    loc.for_each_property([&](D_fct& p) { names.push_back(p.name()); });
    EXPECT_THAT(names, testing::ElementsAre("A", "B"));

    loc.rem_property(&a);
    EXPECT_EQ(loc.find_property("A"), nullptr);
    EXPECT_EQ(loc.property_group(&a), -1);
    EXPECT_EQ(loc.property_count(), 1u);
    EXPECT_FALSE(loc.with_property("A", [](D_fct&) {}));
    {
        D_int c("C c", &loc);
        EXPECT_EQ(loc.property_count(), 2u);
    }
    EXPECT_EQ(loc.property_count(), 1u);  // the destructor unregistered it
}

TEST(RegistryTest, RemovalWaitsForAClientThatVisitsTheProperty) {
    PlainLocation loc;
    auto* p = new D_cam_param_int("GAIN gain", 0, 10, &loc);
    loc.add_property(p, 2);
    std::promise<void> inside;
    std::future<void> inside_f = inside.get_future();
    std::promise<void> leave;
    std::shared_future<void> leave_f = leave.get_future().share();
    std::atomic<bool> removed{false};

    std::thread client([&] {
        loc.with_property("GAIN", [&](D_fct& prop) {
            inside.set_value();
            leave_f.wait_for(std::chrono::seconds(5));
            // Still intact although the camera thread is removing it.
            EXPECT_EQ(prop.name(), "GAIN");
            EXPECT_EQ(prop.client_write(mirva::ClientValue{int64_t{3}}).code, mirva::WriteResult::ok);
            EXPECT_FALSE(removed.load());
        });
    });
    ASSERT_EQ(inside_f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    std::thread remover([&] {
        loc.rem_property(p);
        removed.store(true);
        delete p;
    });
    leave.set_value();
    client.join();
    remover.join();
    EXPECT_TRUE(removed.load());
    EXPECT_EQ(loc.find_property("GAIN"), nullptr);
}

TEST(RegistryTest, AHalfBuiltPropertyIsSeenOnlyByItsConstructingThread) {
    PlainLocation loc;
    D_int* first = nullptr;
    D_int* second = nullptr;
    std::thread maker([&] {
        first = new D_int("FIRST first", &loc);
        EXPECT_EQ(loc.find_property("FIRST"), first);  // its own thread sees it at once
        second = new D_int("SECOND second", &loc);     // a new registration completes the first
    });
    maker.join();
    EXPECT_EQ(loc.find_property("FIRST"), first);
    EXPECT_EQ(loc.find_property("SECOND"), nullptr);
    EXPECT_FALSE(loc.with_property("SECOND", [](D_fct&) {}));
    EXPECT_EQ(loc.property_count(), 1u);
    int visited = 0;
    loc.for_each_property([&](D_fct&) { ++visited; });
    EXPECT_EQ(visited, 1);

    loc.add_property(second, 2);  // registration by the back-end completes it
    EXPECT_EQ(loc.find_property("SECOND"), second);
    EXPECT_EQ(loc.property_group(second), 2);

    D_int* third = nullptr;
    std::thread other([&] { third = new D_int("THIRD third", &loc); });
    other.join();
    EXPECT_EQ(loc.find_property("THIRD"), nullptr);
    loc.publish_properties();
    EXPECT_EQ(loc.find_property("THIRD"), third);
    delete first;
    delete second;
    delete third;
    EXPECT_EQ(loc.property_count(), 0u);
}

TEST(RegistryTest, ErrorCodeIsKept) {
    PlainLocation loc;
    EXPECT_EQ(loc.error(), 0);
    loc.set_error(4);
    EXPECT_EQ(loc.error(), 4);
}

TEST(LocationListTest, WalkersSeeLocationsInOrderAndNullPastTheEnd) {
    auto& list = mirva::LocationList::instance();
    const size_t before = list.size();
    EqFct* a;
    EqFct* b;
    {
        mirva::LocationCreation s("LIST.A", {});
        a = list.add(std::make_unique<PlainLocation>());
    }
    {
        mirva::LocationCreation s("LIST.B", {});
        b = list.add(std::make_unique<PlainLocation>());
    }
    EXPECT_EQ(list.size(), before + 2);
    EXPECT_EQ(list.find("LIST.B"), b);

    std::vector<EqFct*> seen;
    for (int i = 0;; ++i) {
        EqFct* loc = eq_acq(&i, nullptr);
        if (!loc) break;
        seen.push_back(loc);
        eq_rel(i);
    }
    ASSERT_EQ(seen.size(), before + 2);
    EXPECT_EQ(seen[before], a);
    EXPECT_EQ(seen[before + 1], b);
    int past = static_cast<int>(before + 2);
    EXPECT_EQ(eq_acq(&past, nullptr), nullptr);
    int negative = -1;
    EXPECT_EQ(eq_acq(&negative, nullptr), nullptr);

    EXPECT_NE(list.remove(a), nullptr);
    EXPECT_NE(list.remove(b), nullptr);
    EXPECT_EQ(list.remove(b), nullptr);
    EXPECT_EQ(list.size(), before);
}

TEST(LocationListTest, RemovalWaitsUntilThePinIsReleased) {
    auto& list = mirva::LocationList::instance();
    EqFct* loc = list.add(std::make_unique<PlainLocation>());
    int index = static_cast<int>(list.size()) - 1;

    std::promise<void> pinned;
    std::promise<void> release;
    std::atomic<bool> destroyed{false};
    std::thread walker([&] {
        int i = index;
        EXPECT_EQ(eq_acq(&i, nullptr), loc);
        pinned.set_value();
        release.get_future().wait_for(std::chrono::seconds(5));
        EXPECT_FALSE(destroyed.load());
        EXPECT_EQ(loc->fct_code(), 1);  // still alive
        eq_rel(i);
    });
    ASSERT_EQ(pinned.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    std::thread remover([&] {
        std::unique_ptr<EqFct> owned = list.remove(loc);
        EXPECT_EQ(owned.get(), loc);
        owned.reset();
        destroyed.store(true);
    });
    // The list no longer shows it while the walker still holds it.
    EXPECT_TRUE(mirva::test::eventually([&] { return list.size() == static_cast<size_t>(index); }));
    release.set_value();
    walker.join();
    remover.join();
    EXPECT_TRUE(destroyed.load());
}

} // namespace
