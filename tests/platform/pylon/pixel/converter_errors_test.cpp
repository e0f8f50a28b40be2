// Converter misuse: unsupported formats, uninitialised use, mismatching sources, buffers
// too small (under AddressSanitizer an overrun would also be caught), and the image class.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <GenICam/GCException.h>
#include <pylon/Image.h>
#include <pylon/ImageFormatConverter.h>
#include <pylon/PixelFormatTable.h>

using namespace Pylon;
using ::testing::HasSubstr;

namespace {

template <typename Exception, typename F>
std::string description_of(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.GetDescription();
    } catch (...) {
        return "<other exception>";
    }
    return "<no exception>";
}

} // namespace

TEST(ConverterErrors, UnsupportedSourceIsAnAccessErrorNamingTheFormat)
{
    CImageFormatConverter conv;
    EXPECT_THAT(description_of<GenICam::AccessException>([&] { conv.Initialize(PixelType_RGB10packed); }),
                HasSubstr("RGB10packed"));
    EXPECT_THAT(description_of<GenICam::AccessException>([&] { conv.Initialize(PixelType_Undefined); }),
                HasSubstr("Undefined"));
    EXPECT_FALSE(conv.IsInitialized());
    EXPECT_FALSE(CImageFormatConverter::IsSupportedInputFormat(PixelType_Double));
    EXPECT_TRUE(CImageFormatConverter::IsSupportedInputFormat(PixelType_BayerGB12Packed));
}

TEST(ConverterErrors, InitialisationStateAndSourceMismatch)
{
    CImageFormatConverter conv;
    uint8_t src[4] = {}, dst[4] = {};
    EXPECT_THROW(conv.Convert(dst, sizeof dst, src, sizeof src, PixelType_Mono8, 2, 2, 0), GenICam::LogicalErrorException);
    conv.Initialize(PixelType_Mono8);
    EXPECT_TRUE(conv.IsInitialized(PixelType_Mono8));
    EXPECT_FALSE(conv.IsInitialized(PixelType_Mono12));
    EXPECT_THAT(description_of<GenICam::LogicalErrorException>(
                    [&] { conv.Convert(dst, sizeof dst, src, sizeof src, PixelType_BayerRG8, 2, 2, 0); }),
                HasSubstr("BayerRG8"));
    conv.Uninitialize();
    EXPECT_FALSE(conv.IsInitialized(PixelType_Mono8));
    EXPECT_THROW(conv.Convert(dst, sizeof dst, src, sizeof src, PixelType_Mono8, 2, 2, 0), GenICam::LogicalErrorException);
}

TEST(ConverterErrors, ParametersRefuseValuesOutsideTheirRange)
{
    CImageFormatConverter conv;
    EXPECT_EQ(conv.OutputPixelFormat, PixelType_Mono8);
    EXPECT_THROW(conv.OutputPixelFormat = PixelType_Mono12, GenICam::InvalidArgumentException);
    EXPECT_EQ(conv.OutputPixelFormat.GetValue(), PixelType_Mono8);
    conv.OutputPixelFormat.SetValue(PixelType_RGB8packed);
    EXPECT_EQ(conv.OutputPixelFormat.ToString(), "RGB8packed");
    conv.AdditionalLeftShift = -31;
    EXPECT_EQ(conv.AdditionalLeftShift.GetValue(), -31);
    EXPECT_THAT(description_of<GenICam::OutOfRangeException>([&] { conv.AdditionalLeftShift = 32; }),
                HasSubstr("AdditionalLeftShift"));
    EXPECT_EQ(conv.AdditionalLeftShift, -31);
}

TEST(ConverterErrors, OutputTooSmallIsRefusedBeforeAnyWrite)
{
    CImageFormatConverter conv;
    conv.Initialize(PixelType_Mono8);
    conv.OutputPixelFormat = PixelType_RGB8packed;
    std::vector<uint8_t> src(4 * 3, 9);
    std::vector<uint8_t> dst(4 * 3 * 3 - 1, 0x55);
    const std::string text = description_of<GenICam::OutOfRangeException>(
        [&] { conv.Convert(dst.data(), dst.size(), src.data(), src.size(), PixelType_Mono8, 4, 3, 0); });
    EXPECT_THAT(text, HasSubstr("35"));
    EXPECT_THAT(text, HasSubstr("36"));
    EXPECT_EQ(dst, std::vector<uint8_t>(35, 0x55));
    EXPECT_EQ(conv.GetBufferSizeForConversion(PixelType_Mono8, 4, 3), 36u);
}

TEST(ConverterErrors, SourceTooSmallIsRefused)
{
    CImageFormatConverter conv;
    conv.Initialize(PixelType_Mono12packed);
    std::vector<uint8_t> dst(3 * 2);
    std::vector<uint8_t> src(5 + 4); // second line one byte short
    EXPECT_THAT(description_of<GenICam::OutOfRangeException>(
                    [&] { conv.Convert(dst.data(), dst.size(), src.data(), src.size(), PixelType_Mono12packed, 3, 2, 0); }),
                HasSubstr("9 bytes"));
    // The last line needs no padding.
    src.resize(2 + 5 + 5);
    EXPECT_NO_THROW(conv.Convert(dst.data(), dst.size(), src.data(), src.size(), PixelType_Mono12packed, 3, 2, 2));
}

TEST(ConverterErrors, ImageInterfaceOverload)
{
    CPylonImage image(PixelType_Mono12packed, 3, 2, 1);
    EXPECT_TRUE(image.IsValid());
    EXPECT_EQ(image.GetImageSize(), 12u);
    size_t stride = 0;
    EXPECT_TRUE(image.GetStride(stride));
    EXPECT_EQ(stride, 6u);
    auto* p = static_cast<uint8_t*>(image.GetBuffer());
    p[0] = 0xAB;
    p[1] = 0x0C; // first pixel 0xABC

    CImageFormatConverter conv;
    conv.Initialize(PixelType_Mono12packed);
    conv.OutputPixelFormat = PixelType_Mono16;
    EXPECT_EQ(conv.GetBufferSizeForConversion(image), 12u);
    std::vector<uint8_t> dst(12);
    conv.Convert(dst.data(), dst.size(), image);
    EXPECT_EQ(dst[0] | (dst[1] << 8), 0xABC);

    CPylonImage copy = image;
    EXPECT_EQ(std::memcmp(copy.GetBuffer(), image.GetBuffer(), 12), 0);

    std::vector<uint8_t> user(11);
    CPylonImage attached;
    EXPECT_FALSE(attached.IsValid());
    EXPECT_THROW(attached.AttachUserBuffer(user.data(), user.size(), PixelType_Mono12packed, 3, 2, 1),
                 GenICam::OutOfRangeException);
    user.resize(12);
    attached.AttachUserBuffer(user.data(), user.size(), PixelType_Mono12packed, 3, 2, 1);
    EXPECT_TRUE(attached.IsUserBufferAttached());
    EXPECT_EQ(attached.GetBuffer(), user.data());
    attached.Release();
    EXPECT_FALSE(attached.IsValid());
    EXPECT_THROW(conv.Convert(dst.data(), dst.size(), attached), GenICam::InvalidArgumentException);
}

// Every supported source to every output at awkward sizes, with buffers of exactly the
// computed size: the sanitizer build turns any overrun into a failure.
TEST(ConverterErrors, ExactBuffersAtAwkwardSizesForEveryPair)
{
    std::mt19937 rng(7);
    for (const auto& info : kPixelFormatTable) {
        if (!CImageFormatConverter::IsSupportedInputFormat(info.type))
            continue;
        for (EPixelType out : {PixelType_Mono8, PixelType_Mono16, PixelType_RGB8packed}) {
            for (auto [w, h] : {std::pair{1u, 1u}, std::pair{1u, 3u}, std::pair{3u, 1u}, std::pair{2u, 2u},
                                std::pair{5u, 3u}, std::pair{0u, 4u}}) {
                CImageFormatConverter conv;
                conv.Initialize(info.type);
                conv.OutputPixelFormat = out;
                conv.AdditionalLeftShift = static_cast<int>(rng() % 63) - 31;
                std::vector<uint8_t> src(ComputeBufferSize(info.type, w, h));
                for (auto& b : src)
                    b = static_cast<uint8_t>(rng());
                std::vector<uint8_t> dst(conv.GetBufferSizeForConversion(info.type, w, h));
                EXPECT_NO_THROW(conv.Convert(dst.data(), dst.size(), src.data(), src.size(), info.type, w, h, 0))
                    << info.name << " " << w << "x" << h;
            }
        }
    }
}
