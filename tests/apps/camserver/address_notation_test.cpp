// Addresses of camera features in their usual notation, both ways.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "address_notation.h"

namespace {

using mirva::ClientValue;
using namespace mirva::camserver;
using ::testing::AllOf;
using ::testing::HasSubstr;

TEST(AddressNotation, NumbersAndTextsBothWays) {
    EXPECT_EQ(format_ipv4(2851995649), "169.254.0.1");
    EXPECT_EQ(format_ipv4(-1062731519), "192.168.1.1");  // a 32-bit property may hold it negative
    EXPECT_EQ(format_mac(0x003053123456), "00:30:53:12:34:56");
    EXPECT_EQ(format_mac(0xABCDEF012345), "AB:CD:EF:01:23:45");
    EXPECT_EQ(parse_ipv4(" 192.168.1.5 "), 3232235781);
    EXPECT_EQ(parse_ipv4("255.255.255.255"), 4294967295);
    for (const char* bad : {"192.168.1.256", "1.2.3", "1.2.3.4.5", "a.b.c.d", "", "1..2.3"})
        EXPECT_EQ(parse_ipv4(bad), std::nullopt) << bad;
    EXPECT_EQ(parse_mac("00:30:53:12:34:56"), 0x003053123456);
    EXPECT_EQ(parse_mac("ab-cd-ef-01-23-45"), 0xABCDEF012345);
    for (const char* bad : {"00:30:53:12:34", "00:30:53-12:34:56", "00:30:53:12:34:5g", "0030531234 56"})
        EXPECT_EQ(parse_mac(bad), std::nullopt) << bad;
    EXPECT_EQ(address_text("MACAddress", 0x003053123456), "00:30:53:12:34:56");
    EXPECT_EQ(address_text("Linear", 5), std::nullopt);
}

TEST(AddressNotation, WritesTakeTheNotationOrANumberAndRefuseOtherTexts) {
    std::string error;
    EXPECT_EQ(address_write("IPV4Address", ClientValue{std::string("192.168.1.5")}, &error), ClientValue{int64_t{3232235781}});
    EXPECT_EQ(address_write("MACAddress", ClientValue{std::string("00:30:53:12:34:56")}, &error),
              ClientValue{int64_t{0x003053123456}});
    // numbers, numeric texts and features of other notations pass unchanged
    EXPECT_EQ(address_write("IPV4Address", ClientValue{int64_t{7}}, &error), ClientValue{int64_t{7}});
    EXPECT_EQ(address_write("IPV4Address", ClientValue{std::string("3232235781")}, &error),
              ClientValue{std::string("3232235781")});
    EXPECT_EQ(address_write("", ClientValue{std::string("1.2.3")}, &error), ClientValue{std::string("1.2.3")});

    EXPECT_EQ(address_write("IPV4Address", ClientValue{std::string("192.168.1.256")}, &error), std::nullopt);
    EXPECT_THAT(error, AllOf(HasSubstr("\"192.168.1.256\""), HasSubstr("0..255")));
    EXPECT_EQ(address_write("MACAddress", ClientValue{std::string("00:30:53")}, &error), std::nullopt);
    EXPECT_THAT(error, AllOf(HasSubstr("\"00:30:53\""), HasSubstr("six hex bytes")));
}

} // namespace
