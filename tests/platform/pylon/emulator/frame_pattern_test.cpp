// The frame generator on its own, for every pixel type it can send (the models offer only
// some of them).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <pylon/ImageFormatConverter.h>
#include <pylon/PixelFormatTable.h>
#include <pylon/emulator/TestPattern.h>

#include "emulator/FramePattern.h"

using namespace Pylon;

namespace {

std::vector<uint8_t> Frame(EPixelType type, uint32_t w, uint32_t h, uint64_t number, uint32_t brightness = 1000)
{
    Emulator::CFramePattern pattern;
    Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    key.brightness = brightness;
    pattern.Prepare(key);
    std::vector<uint8_t> frame(pattern.FrameSize());
    EXPECT_EQ(pattern.Write(number, frame.data(), frame.size()), frame.size());
    return frame;
}

TEST(FramePattern, EverySupportedTypeCarriesTheNumberAndMoves)
{
    int supported = 0;
    for (const auto& info : kPixelFormatTable) {
        if (!Emulator::IsPatternSupported(info.type))
            continue;
        ++supported;
        SCOPED_TRACE(std::string(info.name));
        const uint32_t w = 72, h = 10;
        const auto a = Frame(info.type, w, h, 0x5A5A5A5A12345678ull);
        const auto b = Frame(info.type, w, h, 0x5A5A5A5A12345679ull);
        EXPECT_EQ(a.size(), ComputeBufferSize(info.type, w, h));
        EXPECT_EQ(Emulator::DecodeFrameNumber(a.data(), a.size(), info.type, w), 0x5A5A5A5A12345678ull);
        EXPECT_EQ(Emulator::DecodeFrameNumber(b.data(), b.size(), info.type, w), 0x5A5A5A5A12345679ull);
        size_t stride = 0;
        ASSERT_TRUE(ComputeStride(stride, info.type, w));
        EXPECT_NE(std::memcmp(a.data() + stride, b.data() + stride, a.size() - stride), 0);
    }
    EXPECT_GE(supported, 40);
}

TEST(FramePattern, NarrowFramesCarryFewerBits)
{
    EXPECT_EQ(Emulator::FrameNumberBits(30), 28u);
    EXPECT_EQ(Emulator::FrameNumberBits(1000), 64u);
    const auto f = Frame(PixelType_Mono8, 30, 4, 0x3FFFFFFFull + 5);
    EXPECT_EQ(Emulator::DecodeFrameNumber(f.data(), f.size(), PixelType_Mono8, 30), (0x3FFFFFFFull + 5) & 0xFFFFFFFull);
    EXPECT_FALSE(Emulator::DecodeFrameNumber(f.data(), 10, PixelType_Mono8, 30).has_value()); // shorter than a line
    EXPECT_FALSE(Emulator::IsPatternSupported(PixelType_RGB8planar));
}

// Every mono packing of the same scene converts to the same 8-bit picture, so the packing
// agrees with the converter's reading of it.
TEST(FramePattern, MonoPackingsShowTheSamePicture)
{
    const uint32_t w = 128, h = 8;
    auto mono8 = [&](EPixelType type) {
        const auto raw = Frame(type, w, h, 7, 700);
        CImageFormatConverter converter;
        converter.Initialize(type);
        converter.OutputPixelFormat = PixelType_Mono8;
        CPylonImage source;
        source.AttachUserBuffer(const_cast<uint8_t*>(raw.data()), raw.size(), type, w, h);
        std::vector<uint8_t> out(static_cast<size_t>(w) * h);
        converter.Convert(out.data(), out.size(), source);
        return out;
    };
    const auto reference = mono8(PixelType_Mono8);
    for (EPixelType type : {PixelType_Mono10, PixelType_Mono10packed, PixelType_Mono10p, PixelType_Mono12,
                            PixelType_Mono12packed, PixelType_Mono12p, PixelType_Mono16}) {
        SCOPED_TRACE(FindPixelFormat(type)->name);
        EXPECT_EQ(mono8(type), reference);
    }
}

TEST(FramePattern, BrightnessScalesTheGradient)
{
    const auto dim = Frame(PixelType_Mono8, 256, 4, 1, 250);
    const auto full = Frame(PixelType_Mono8, 256, 4, 1, 1000);
    // Second line: the gradient without the frame number.
    EXPECT_EQ(*std::max_element(full.begin() + 256, full.begin() + 512), 255);
    EXPECT_LE(*std::max_element(dim.begin() + 256, dim.begin() + 512), 64);
    EXPECT_THROW(Frame(PixelType_RGB8planar, 8, 8, 1), GenICam::InvalidArgumentException);
}

} // namespace
