// The one table of pixel formats. The converter, the emulator's frame generator, the
// image-header code of the camera back-end and the tests all read it, so a format is
// described in exactly one place.
//
// Layout of a line on the wire, by packing kind:
//   None        every channel in 8 bits, or in a little-endian 16-bit word when the bit
//               depth exceeds 8 (Mono12: 12 significant bits, LSB-aligned, in 16)
//   TwoInThree  two pixels in three bytes (GigE Vision Mono10packed/Mono12packed):
//                 byte 0 = p0 >> (depth-8), byte 2 = p1 >> (depth-8),
//                 byte 1 = low bits of p0 in bits 0.., low bits of p1 in bits 4..
//               (Mono12packed: nibbles; Mono10packed: bits 1..0 and 5..4)
//   LsbStream   a continuous bit stream, each pixel LSB first (Mono10p, Mono12p, ...)
//   Words32     three 10-bit channels in one little-endian 32-bit word (BGR10V1/V2packed)
//   Planar      one plane per channel, each like None
// A line takes ceil(width * bitsPerPixel / 8) bytes (plus the caller's padding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <pylon/PixelType.h>

namespace Pylon {

enum class EPixelPacking : uint8_t { None, TwoInThree, LsbStream, Words32, Planar };

enum class EPixelColour : uint8_t {
    Mono,        // one grey channel
    Bayer,       // one raw channel behind a colour filter array (see EBayerPattern)
    RGB,         // interleaved R, G, B
    BGR,         // interleaved B, G, R
    RGBA,        // interleaved R, G, B, A
    BGRA,        // interleaved B, G, R, A
    YUV411,      // U Y Y V Y Y
    YUV422_UYVY, // U Y0 V Y1 (GigE Vision YUV422Packed)
    YUV422_YUYV, // Y0 U Y1 V
    YUV444,      // U Y V
    RGBPlanar,   // planes R, G, B
};

// Colour of the first two pixels of the first line: GR = green, red.
enum class EBayerPattern : uint8_t { None, GR, RG, GB, BG };

// Source-format codes of the image header, by colour kind.
namespace SourceFormat {
inline constexpr int None = -1;
inline constexpr int Mono = 0;
inline constexpr int RGB = 1;
inline constexpr int RGBA = 2;
inline constexpr int YUV411 = 7;
inline constexpr int YUV422 = 8;
inline constexpr int YUV444 = 9;
inline constexpr int Bayer = 12;
} // namespace SourceFormat

struct SPixelFormatInfo {
    EPixelType type;
    std::string_view name;        // SDK name without the "PixelType_" prefix, e.g. "RGB8packed"
    std::string_view featureName; // symbolic of the camera's PixelFormat feature, e.g. "RGB8Packed"
    uint8_t bitsPerPixel;         // bits per pixel on the wire (all channels)
    uint8_t bitDepth;             // significant bits per channel
    uint8_t channels;             // samples per pixel (YUV counts 3)
    EPixelPacking packing;
    EPixelColour colour;
    EBayerPattern bayer;
    int sourceFormat;             // source-format code of the image header, -1 = none
};

namespace pixel_table {
using P = EPixelPacking;
using C = EPixelColour;
using B = EBayerPattern;
namespace S = SourceFormat;
} // namespace pixel_table

// clang-format off
inline constexpr SPixelFormatInfo kPixelFormatTable[] = {
    // type                          name                  feature               bpp dep ch packing                     colour                       bayer                 source format
    {PixelType_Mono1packed,        "Mono1packed",        "Mono1p",             1,  1,  1, pixel_table::P::LsbStream,  pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
    {PixelType_Mono2packed,        "Mono2packed",        "Mono2p",             2,  2,  1, pixel_table::P::LsbStream,  pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
    {PixelType_Mono4packed,        "Mono4packed",        "Mono4p",             4,  4,  1, pixel_table::P::LsbStream,  pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
    {PixelType_Mono8,              "Mono8",              "Mono8",              8,  8,  1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono8signed,        "Mono8signed",        "Mono8Signed",        8,  8,  1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono10,             "Mono10",             "Mono10",             16, 10, 1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono10packed,       "Mono10packed",       "Mono10Packed",       12, 10, 1, pixel_table::P::TwoInThree, pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono10p,            "Mono10p",            "Mono10p",            10, 10, 1, pixel_table::P::LsbStream,  pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
    {PixelType_Mono12,             "Mono12",             "Mono12",             16, 12, 1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono12packed,       "Mono12packed",       "Mono12Packed",       12, 12, 1, pixel_table::P::TwoInThree, pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},
    {PixelType_Mono12p,            "Mono12p",            "Mono12p",            12, 12, 1, pixel_table::P::LsbStream,  pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
    {PixelType_Mono16,             "Mono16",             "Mono16",             16, 16, 1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::Mono},

    {PixelType_BayerGR8,           "BayerGR8",           "BayerGR8",           8,  8,  1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::Bayer},
    {PixelType_BayerRG8,           "BayerRG8",           "BayerRG8",           8,  8,  1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::Bayer},
    {PixelType_BayerGB8,           "BayerGB8",           "BayerGB8",           8,  8,  1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::Bayer},
    {PixelType_BayerBG8,           "BayerBG8",           "BayerBG8",           8,  8,  1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::Bayer},
    {PixelType_BayerGR10,          "BayerGR10",          "BayerGR10",          16, 10, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::Bayer},
    {PixelType_BayerRG10,          "BayerRG10",          "BayerRG10",          16, 10, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::Bayer},
    {PixelType_BayerGB10,          "BayerGB10",          "BayerGB10",          16, 10, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::Bayer},
    {PixelType_BayerBG10,          "BayerBG10",          "BayerBG10",          16, 10, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::Bayer},
    {PixelType_BayerGR12,          "BayerGR12",          "BayerGR12",          16, 12, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::Bayer},
    {PixelType_BayerRG12,          "BayerRG12",          "BayerRG12",          16, 12, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::Bayer},
    {PixelType_BayerGB12,          "BayerGB12",          "BayerGB12",          16, 12, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::Bayer},
    {PixelType_BayerBG12,          "BayerBG12",          "BayerBG12",          16, 12, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::Bayer},
    {PixelType_BayerGR12Packed,    "BayerGR12Packed",    "BayerGR12Packed",    12, 12, 1, pixel_table::P::TwoInThree, pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::Bayer},
    {PixelType_BayerRG12Packed,    "BayerRG12Packed",    "BayerRG12Packed",    12, 12, 1, pixel_table::P::TwoInThree, pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::Bayer},
    {PixelType_BayerGB12Packed,    "BayerGB12Packed",    "BayerGB12Packed",    12, 12, 1, pixel_table::P::TwoInThree, pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::Bayer},
    {PixelType_BayerBG12Packed,    "BayerBG12Packed",    "BayerBG12Packed",    12, 12, 1, pixel_table::P::TwoInThree, pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::Bayer},
    {PixelType_BayerGR16,          "BayerGR16",          "BayerGR16",          16, 16, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::Bayer},
    {PixelType_BayerRG16,          "BayerRG16",          "BayerRG16",          16, 16, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::Bayer},
    {PixelType_BayerGB16,          "BayerGB16",          "BayerGB16",          16, 16, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::Bayer},
    {PixelType_BayerBG16,          "BayerBG16",          "BayerBG16",          16, 16, 1, pixel_table::P::None,       pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::Bayer},
    {PixelType_BayerGR10p,         "BayerGR10p",         "BayerGR10p",         10, 10, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::None},
    {PixelType_BayerRG10p,         "BayerRG10p",         "BayerRG10p",         10, 10, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::None},
    {PixelType_BayerGB10p,         "BayerGB10p",         "BayerGB10p",         10, 10, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::None},
    {PixelType_BayerBG10p,         "BayerBG10p",         "BayerBG10p",         10, 10, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::None},
    {PixelType_BayerGR12p,         "BayerGR12p",         "BayerGR12p",         12, 12, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::GR,   pixel_table::S::None},
    {PixelType_BayerRG12p,         "BayerRG12p",         "BayerRG12p",         12, 12, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::RG,   pixel_table::S::None},
    {PixelType_BayerGB12p,         "BayerGB12p",         "BayerGB12p",         12, 12, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::GB,   pixel_table::S::None},
    {PixelType_BayerBG12p,         "BayerBG12p",         "BayerBG12p",         12, 12, 1, pixel_table::P::LsbStream,  pixel_table::C::Bayer,       pixel_table::B::BG,   pixel_table::S::None},

    {PixelType_RGB8packed,         "RGB8packed",         "RGB8Packed",         24, 8,  3, pixel_table::P::None,       pixel_table::C::RGB,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_BGR8packed,         "BGR8packed",         "BGR8Packed",         24, 8,  3, pixel_table::P::None,       pixel_table::C::BGR,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGBA8packed,        "RGBA8packed",        "RGBA8Packed",        32, 8,  4, pixel_table::P::None,       pixel_table::C::RGBA,        pixel_table::B::None, pixel_table::S::RGBA},
    {PixelType_BGRA8packed,        "BGRA8packed",        "BGRA8Packed",        32, 8,  4, pixel_table::P::None,       pixel_table::C::BGRA,        pixel_table::B::None, pixel_table::S::RGBA},
    {PixelType_RGB10packed,        "RGB10packed",        "RGB10Packed",        48, 10, 3, pixel_table::P::None,       pixel_table::C::RGB,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_BGR10packed,        "BGR10packed",        "BGR10Packed",        48, 10, 3, pixel_table::P::None,       pixel_table::C::BGR,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB12packed,        "RGB12packed",        "RGB12Packed",        48, 12, 3, pixel_table::P::None,       pixel_table::C::RGB,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_BGR12packed,        "BGR12packed",        "BGR12Packed",        48, 12, 3, pixel_table::P::None,       pixel_table::C::BGR,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB16packed,        "RGB16packed",        "RGB16Packed",        48, 16, 3, pixel_table::P::None,       pixel_table::C::RGB,         pixel_table::B::None, pixel_table::S::None},
    {PixelType_BGR10V1packed,      "BGR10V1packed",      "BGR10V1Packed",      32, 10, 3, pixel_table::P::Words32,    pixel_table::C::BGR,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_BGR10V2packed,      "BGR10V2packed",      "BGR10V2Packed",      32, 10, 3, pixel_table::P::Words32,    pixel_table::C::BGR,         pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB12V1packed,      "RGB12V1packed",      "RGB12V1Packed",      36, 12, 3, pixel_table::P::LsbStream,  pixel_table::C::RGB,         pixel_table::B::None, pixel_table::S::RGB},

    {PixelType_YUV411packed,       "YUV411packed",       "YUV411Packed",       12, 8,  3, pixel_table::P::None,       pixel_table::C::YUV411,      pixel_table::B::None, pixel_table::S::YUV411},
    {PixelType_YUV422packed,       "YUV422packed",       "YUV422Packed",       16, 8,  3, pixel_table::P::None,       pixel_table::C::YUV422_UYVY, pixel_table::B::None, pixel_table::S::YUV422},
    {PixelType_YUV444packed,       "YUV444packed",       "YUV444Packed",       24, 8,  3, pixel_table::P::None,       pixel_table::C::YUV444,      pixel_table::B::None, pixel_table::S::YUV444},
    {PixelType_YUV422_YUYV_Packed, "YUV422_YUYV_Packed", "YUV422_YUYV_Packed", 16, 8,  3, pixel_table::P::None,       pixel_table::C::YUV422_YUYV, pixel_table::B::None, pixel_table::S::YUV422},

    {PixelType_RGB8planar,         "RGB8planar",         "RGB8Planar",         24, 8,  3, pixel_table::P::Planar,     pixel_table::C::RGBPlanar,   pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB10planar,        "RGB10planar",        "RGB10Planar",        48, 10, 3, pixel_table::P::Planar,     pixel_table::C::RGBPlanar,   pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB12planar,        "RGB12planar",        "RGB12Planar",        48, 12, 3, pixel_table::P::Planar,     pixel_table::C::RGBPlanar,   pixel_table::B::None, pixel_table::S::RGB},
    {PixelType_RGB16planar,        "RGB16planar",        "RGB16Planar",        48, 16, 3, pixel_table::P::Planar,     pixel_table::C::RGBPlanar,   pixel_table::B::None, pixel_table::S::RGB},

    {PixelType_Double,             "Double",             "Double",             64, 64, 1, pixel_table::P::None,       pixel_table::C::Mono,        pixel_table::B::None, pixel_table::S::None},
};
// clang-format on

// The table line of a type, or null when the type is not in the table (PixelType_Undefined).
constexpr const SPixelFormatInfo* FindPixelFormat(EPixelType type) noexcept
{
    for (const auto& info : kPixelFormatTable)
        if (info.type == type)
            return &info;
    return nullptr;
}

// The table line whose SDK name or feature symbolic equals `name`, ignoring case, with or
// without the "PixelType_" prefix; null when none does.
const SPixelFormatInfo* FindPixelFormatByName(std::string_view name) noexcept;

// Source-format code of the image header for a pixel type; -1 for types without one.
constexpr int SourceFormatCode(EPixelType type) noexcept
{
    const SPixelFormatInfo* info = FindPixelFormat(type);
    return info ? info->sourceFormat : SourceFormat::None;
}

} // namespace Pylon
