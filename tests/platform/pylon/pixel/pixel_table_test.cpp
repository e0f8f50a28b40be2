// The pixel-format table against the GigE Vision codes and the image-header source-format
// codes, and the size and name questions answered from it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include <GenICam/GCException.h>
#include <pylon/PixelFormatTable.h>
#include <pylon/PixelType.h>
#include <pylon/PixelTypeMapper.h>

using namespace Pylon;

namespace {

// Every pixel type the SDK declares, apart from PixelType_Undefined.
const EPixelType kAllTypes[] = {
    PixelType_Mono1packed, PixelType_Mono2packed, PixelType_Mono4packed, PixelType_Mono8, PixelType_Mono8signed,
    PixelType_Mono10, PixelType_Mono10packed, PixelType_Mono10p, PixelType_Mono12, PixelType_Mono12packed,
    PixelType_Mono12p, PixelType_Mono16, PixelType_BayerGR8, PixelType_BayerRG8, PixelType_BayerGB8,
    PixelType_BayerBG8, PixelType_BayerGR10, PixelType_BayerRG10, PixelType_BayerGB10, PixelType_BayerBG10,
    PixelType_BayerGR12, PixelType_BayerRG12, PixelType_BayerGB12, PixelType_BayerBG12, PixelType_BayerGR12Packed,
    PixelType_BayerRG12Packed, PixelType_BayerGB12Packed, PixelType_BayerBG12Packed, PixelType_BayerGR16,
    PixelType_BayerRG16, PixelType_BayerGB16, PixelType_BayerBG16, PixelType_BayerBG10p, PixelType_BayerGB10p,
    PixelType_BayerGR10p, PixelType_BayerRG10p, PixelType_BayerBG12p, PixelType_BayerGB12p, PixelType_BayerGR12p,
    PixelType_BayerRG12p, PixelType_RGB8packed, PixelType_BGR8packed, PixelType_RGBA8packed, PixelType_BGRA8packed,
    PixelType_RGB10packed, PixelType_BGR10packed, PixelType_RGB12packed, PixelType_BGR12packed, PixelType_RGB16packed,
    PixelType_BGR10V1packed, PixelType_BGR10V2packed, PixelType_RGB12V1packed, PixelType_YUV411packed,
    PixelType_YUV422packed, PixelType_YUV444packed, PixelType_YUV422_YUYV_Packed, PixelType_RGB8planar,
    PixelType_RGB10planar, PixelType_RGB12planar, PixelType_RGB16planar, PixelType_Double,
};

// The image header's source-format codes, by SDK name; every other type has -1.
const std::map<std::string, int> kSourceCodes = {
    {"Mono8", 0}, {"Mono8signed", 0}, {"Mono10", 0}, {"Mono10packed", 0}, {"Mono12", 0}, {"Mono12packed", 0},
    {"Mono16", 0},
    {"RGB8packed", 1}, {"BGR8packed", 1}, {"RGB10packed", 1}, {"BGR10packed", 1}, {"RGB12packed", 1},
    {"BGR12packed", 1}, {"BGR10V1packed", 1}, {"BGR10V2packed", 1}, {"RGB12V1packed", 1}, {"RGB8planar", 1},
    {"RGB10planar", 1}, {"RGB12planar", 1}, {"RGB16planar", 1},
    {"RGBA8packed", 2}, {"BGRA8packed", 2},
    {"YUV411packed", 7}, {"YUV422packed", 8}, {"YUV422_YUYV_Packed", 8}, {"YUV444packed", 9},
    {"BayerGR8", 12}, {"BayerRG8", 12}, {"BayerGB8", 12}, {"BayerBG8", 12}, {"BayerGR10", 12}, {"BayerRG10", 12},
    {"BayerGB10", 12}, {"BayerBG10", 12}, {"BayerGR12", 12}, {"BayerRG12", 12}, {"BayerGB12", 12},
    {"BayerBG12", 12}, {"BayerGR12Packed", 12}, {"BayerRG12Packed", 12}, {"BayerGB12Packed", 12},
    {"BayerBG12Packed", 12}, {"BayerGR16", 12}, {"BayerRG16", 12}, {"BayerGB16", 12}, {"BayerBG16", 12},
};

} // namespace

TEST(PixelFormatTable, ListsEveryTypeOnceWithUniqueNames)
{
    std::set<long long> types;
    std::set<std::string> names;
    for (const auto& info : kPixelFormatTable) {
        EXPECT_TRUE(types.insert(info.type).second) << info.name;
        EXPECT_TRUE(names.insert(std::string(info.name)).second) << info.name;
    }
    for (EPixelType t : kAllTypes)
        EXPECT_NE(FindPixelFormat(t), nullptr) << std::hex << t;
    EXPECT_EQ(types.size(), std::size(kAllTypes));
    EXPECT_EQ(FindPixelFormat(PixelType_Undefined), nullptr);
}

TEST(PixelFormatTable, CodesCarryBitsPerPixelAndColourFlag)
{
    for (const auto& info : kPixelFormatTable) {
        const auto code = static_cast<unsigned long long>(info.type);
        EXPECT_EQ((code >> 16) & 0xFF, info.bitsPerPixel) << info.name;
        const bool single_channel = info.colour == EPixelColour::Mono || info.colour == EPixelColour::Bayer;
        EXPECT_EQ((code >> 24) & 0x0F, single_channel ? 1u : 2u) << info.name;
        EXPECT_LE(info.bitDepth * (info.colour == EPixelColour::YUV422_UYVY || info.colour == EPixelColour::YUV422_YUYV ||
                                           info.colour == EPixelColour::YUV411
                                       ? 1u
                                       : info.channels),
                  info.bitsPerPixel)
            << info.name;
        EXPECT_EQ(info.colour == EPixelColour::Bayer, info.bayer != EBayerPattern::None) << info.name;
    }
}

TEST(PixelFormatTable, SourceFormatCodesOfTheImageHeader)
{
    for (const auto& info : kPixelFormatTable) {
        const auto it = kSourceCodes.find(std::string(info.name));
        EXPECT_EQ(SourceFormatCode(info.type), it == kSourceCodes.end() ? -1 : it->second) << info.name;
    }
    for (const auto& [name, code] : kSourceCodes)
        EXPECT_NE(CPixelTypeMapper::GetPylonPixelTypeByName(name.c_str()), PixelType_Undefined) << name;
    EXPECT_EQ(SourceFormatCode(PixelType_BayerRG8), 12);
    EXPECT_EQ(SourceFormatCode(PixelType_Mono12p), -1);
    EXPECT_EQ(SourceFormatCode(PixelType_RGB16packed), -1);
    EXPECT_EQ(SourceFormatCode(PixelType_Double), -1);
    EXPECT_EQ(SourceFormatCode(PixelType_Undefined), -1);
}

TEST(PixelTypeMapper, FindsSdkNamesAndFeatureSymbolics)
{
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("RGB8packed"), PixelType_RGB8packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("RGB8Packed"), PixelType_RGB8packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("BGR8Packed"), PixelType_BGR8packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("YUV422Packed"), PixelType_YUV422packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("Mono12Packed"), PixelType_Mono12packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("Mono12p"), PixelType_Mono12p);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("BayerRG8"), PixelType_BayerRG8);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("Mono8Signed"), PixelType_Mono8signed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("PixelType_Mono16"), PixelType_Mono16);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName(GenICam::gcstring("BayerBG12Packed")),
              PixelType_BayerBG12Packed);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("Mono13"), PixelType_Undefined);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName(""), PixelType_Undefined);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName("PixelType_"), PixelType_Undefined);
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName(static_cast<const char*>(nullptr)), PixelType_Undefined);

    for (const auto& info : kPixelFormatTable) {
        EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName(std::string(info.name)), info.type);
        EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeByName(std::string(info.featureName)), info.type);
        EXPECT_STREQ(CPixelTypeMapper::GetNameByPixelType(info.type), std::string(info.name).c_str());
        EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeFromNodeValue(static_cast<int64_t>(info.type)), info.type);
    }
    EXPECT_EQ(CPixelTypeMapper::GetPylonPixelTypeFromNodeValue(0x01080099), PixelType_Undefined);
    EXPECT_STREQ(CPixelTypeMapper::GetNameByPixelType(PixelType_Undefined), "Undefined");
}

TEST(PixelType, BitDepthAndBitsPerPixel)
{
    EXPECT_EQ(BitDepth(PixelType_Mono8), 8u);
    EXPECT_EQ(BitDepth(PixelType_Mono12), 12u);
    EXPECT_EQ(BitDepth(PixelType_Mono12packed), 12u);
    EXPECT_EQ(BitDepth(PixelType_Mono10packed), 10u);
    EXPECT_EQ(BitDepth(PixelType_Mono16), 16u);
    EXPECT_EQ(BitDepth(PixelType_BayerRG12Packed), 12u);
    EXPECT_EQ(BitDepth(PixelType_RGB8packed), 8u);
    EXPECT_EQ(BitDepth(PixelType_Undefined), 0u);
    EXPECT_EQ(BitPerPixel(PixelType_Mono12packed), 12u);
    EXPECT_EQ(BitPerPixel(PixelType_Mono12), 16u);
    EXPECT_EQ(BitPerPixel(PixelType_RGB8packed), 24u);
    EXPECT_EQ(BitPerPixel(PixelType_YUV422packed), 16u);
    EXPECT_EQ(BitPerPixel(PixelType_Undefined), 0u);
    EXPECT_EQ(SamplesPerPixel(PixelType_BGRA8packed), 4u);
}

TEST(PixelType, KindQuestions)
{
    EXPECT_TRUE(IsMono(PixelType_Mono12packed));
    EXPECT_FALSE(IsMono(PixelType_BayerRG8));
    EXPECT_TRUE(IsBayer(PixelType_BayerGB12Packed));
    EXPECT_TRUE(IsPacked(PixelType_Mono12packed));
    EXPECT_TRUE(IsPacked(PixelType_Mono10p));
    EXPECT_FALSE(IsPacked(PixelType_Mono12));
    EXPECT_FALSE(IsPacked(PixelType_RGB8packed)); // byte-aligned despite the name
    EXPECT_TRUE(IsRGB(PixelType_RGBA8packed));
    EXPECT_TRUE(IsBGR(PixelType_BGR8packed));
    EXPECT_FALSE(IsRGB(PixelType_BGR8packed));
    EXPECT_TRUE(IsYUV(PixelType_YUV422_YUYV_Packed));
    EXPECT_TRUE(IsPlanar(PixelType_RGB8planar));
    EXPECT_TRUE(IsColorImage(PixelType_BayerBG8));
    EXPECT_FALSE(IsColorImage(PixelType_Mono8));
    EXPECT_TRUE(IsFloatingPoint(PixelType_Double));
    EXPECT_FALSE(IsMono(PixelType_Undefined));
    EXPECT_FALSE(IsValidPixelType(PixelType_Undefined));
}

TEST(PixelType, StrideAndBufferSize)
{
    size_t stride = 0;
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono8, 5));
    EXPECT_EQ(stride, 5u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono8, 5, 3));
    EXPECT_EQ(stride, 8u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono12, 5));
    EXPECT_EQ(stride, 10u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono12packed, 4));
    EXPECT_EQ(stride, 6u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono12packed, 3)); // odd last pixel: two bytes
    EXPECT_EQ(stride, 5u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono10packed, 1));
    EXPECT_EQ(stride, 2u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono10p, 3)); // 30 bits
    EXPECT_EQ(stride, 4u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_Mono1packed, 9));
    EXPECT_EQ(stride, 2u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_YUV422packed, 3));
    EXPECT_EQ(stride, 6u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_RGB12V1packed, 3)); // 108 bits
    EXPECT_EQ(stride, 14u);
    EXPECT_TRUE(ComputeStride(stride, PixelType_RGB8planar, 4)); // one plane's line
    EXPECT_EQ(stride, 4u);
    stride = 77;
    EXPECT_FALSE(ComputeStride(stride, PixelType_Undefined, 4));
    EXPECT_EQ(stride, 77u);

    EXPECT_EQ(ComputeBufferSize(PixelType_Mono12packed, 3, 7), 35u);
    EXPECT_EQ(ComputeBufferSize(PixelType_Mono12packed, 3, 7, 1), 42u);
    EXPECT_EQ(ComputeBufferSize(PixelType_RGB8packed, 1280, 1024), 1280u * 1024u * 3u);
    EXPECT_EQ(ComputeBufferSize(PixelType_RGB8planar, 4, 2), 24u);
    EXPECT_EQ(ComputeBufferSize(PixelType_RGB10planar, 4, 2), 48u);
    EXPECT_EQ(ComputeBufferSize(PixelType_Mono8, 0, 10), 0u);
    EXPECT_THROW(ComputeBufferSize(PixelType_Undefined, 4, 4), GenICam::InvalidArgumentException);
}
