// Pixel types of the camera SDK and the questions asked about them.
//
// The enumerator values are the GigE Vision pixel format codes, so a camera's
// PixelFormat enumeration value (the code on the wire) is a valid EPixelType:
//   bits 31..24  colour flag: 0x01 monochrome (also Bayer), 0x02 colour; 0x80 set for
//                formats that exist only inside the SDK (PixelType_Double)
//   bits 23..16  bits occupied per pixel on the wire
//   bits 15..0   identifier
// The properties of every type (name, bit depth, packing, colour kind, ...) live in one
// table, pylon/PixelFormatTable.h; the functions below read that table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Pylon {

enum EPixelType {
    PixelType_Undefined = -1,

    // Monochrome
    PixelType_Mono1packed = 0x01010037,
    PixelType_Mono2packed = 0x01020038,
    PixelType_Mono4packed = 0x01040039,
    PixelType_Mono8 = 0x01080001,
    PixelType_Mono8signed = 0x01080002,
    PixelType_Mono10 = 0x01100003,
    PixelType_Mono10packed = 0x010C0004, // two pixels in three bytes
    PixelType_Mono10p = 0x010A0046,      // bit stream, LSB first
    PixelType_Mono12 = 0x01100005,
    PixelType_Mono12packed = 0x010C0006, // two pixels in three bytes
    PixelType_Mono12p = 0x010C0047,      // bit stream, LSB first
    PixelType_Mono16 = 0x01100007,

    // Bayer
    PixelType_BayerGR8 = 0x01080008,
    PixelType_BayerRG8 = 0x01080009,
    PixelType_BayerGB8 = 0x0108000A,
    PixelType_BayerBG8 = 0x0108000B,
    PixelType_BayerGR10 = 0x0110000C,
    PixelType_BayerRG10 = 0x0110000D,
    PixelType_BayerGB10 = 0x0110000E,
    PixelType_BayerBG10 = 0x0110000F,
    PixelType_BayerGR12 = 0x01100010,
    PixelType_BayerRG12 = 0x01100011,
    PixelType_BayerGB12 = 0x01100012,
    PixelType_BayerBG12 = 0x01100013,
    PixelType_BayerGR12Packed = 0x010C002A,
    PixelType_BayerRG12Packed = 0x010C002B,
    PixelType_BayerGB12Packed = 0x010C002C,
    PixelType_BayerBG12Packed = 0x010C002D,
    PixelType_BayerGR16 = 0x0110002E,
    PixelType_BayerRG16 = 0x0110002F,
    PixelType_BayerGB16 = 0x01100030,
    PixelType_BayerBG16 = 0x01100031,
    PixelType_BayerBG10p = 0x010A0052,
    PixelType_BayerGB10p = 0x010A0054,
    PixelType_BayerGR10p = 0x010A0056,
    PixelType_BayerRG10p = 0x010A0058,
    PixelType_BayerBG12p = 0x010C0053,
    PixelType_BayerGB12p = 0x010C0055,
    PixelType_BayerGR12p = 0x010C0057,
    PixelType_BayerRG12p = 0x010C0059,

    // Colour, interleaved
    PixelType_RGB8packed = 0x02180014,
    PixelType_BGR8packed = 0x02180015,
    PixelType_RGBA8packed = 0x02200016,
    PixelType_BGRA8packed = 0x02200017,
    PixelType_RGB10packed = 0x02300018, // one 16-bit word per channel
    PixelType_BGR10packed = 0x02300019,
    PixelType_RGB12packed = 0x0230001A,
    PixelType_BGR12packed = 0x0230001B,
    PixelType_RGB16packed = 0x02300033,
    PixelType_BGR10V1packed = 0x0220001C, // three 10-bit channels in 32 bits
    PixelType_BGR10V2packed = 0x0220001D,
    PixelType_RGB12V1packed = 0x02240034, // two pixels of three 12-bit channels in 9 bytes

    // YUV
    PixelType_YUV411packed = 0x020C001E,
    PixelType_YUV422packed = 0x0210001F, // U Y0 V Y1 (UYVY)
    PixelType_YUV444packed = 0x02180020,
    PixelType_YUV422_YUYV_Packed = 0x02100032, // Y0 U Y1 V

    // Colour, planar
    PixelType_RGB8planar = 0x02180021,
    PixelType_RGB10planar = 0x02300022,
    PixelType_RGB12planar = 0x02300023,
    PixelType_RGB16planar = 0x02300024,

    // SDK-internal: one IEEE double per pixel
    PixelType_Double = static_cast<long long>(0x81400100u),
};

// Significant bits per channel (Mono12: 12, RGB8packed: 8); 0 for an unknown type.
uint32_t BitDepth(EPixelType pixelType);
// Bits a pixel occupies in the buffer (Mono12packed: 12, RGB8packed: 24); 0 for an unknown type.
uint32_t BitPerPixel(EPixelType pixelType);
// Channels per pixel (mono and Bayer: 1, RGB: 3, RGBA: 4, YUV: 3); 0 for an unknown type.
uint32_t SamplesPerPixel(EPixelType pixelType);

bool IsMono(EPixelType pixelType);        // monochrome, Bayer excluded
bool IsBayer(EPixelType pixelType);
bool IsPacked(EPixelType pixelType);      // pixels not aligned to bytes/words (Mono12packed, Mono10p, BGR10V1packed, ...)
bool IsRGB(EPixelType pixelType);         // RGB channel order (packed or planar, alpha included)
bool IsBGR(EPixelType pixelType);         // BGR channel order (alpha included)
bool IsRGBA(EPixelType pixelType);
bool IsBGRA(EPixelType pixelType);
bool IsYUV(EPixelType pixelType);
bool IsPlanar(EPixelType pixelType);
bool IsColorImage(EPixelType pixelType);  // RGB, BGR, YUV and Bayer
bool IsFloatingPoint(EPixelType pixelType);
bool IsValidPixelType(EPixelType pixelType); // listed in the pixel-format table

// Bytes of one line: ceil(width * BitPerPixel / 8) + paddingX. For the two-in-three
// packed formats an odd last pixel takes two bytes. False for an unknown type.
bool ComputeStride(size_t& strideBytes, EPixelType pixelType, uint32_t width, size_t paddingX = 0);

// Bytes of a whole image: stride * height, planar formats counting all their planes.
// Throws GenICam::InvalidArgumentException for an unknown type.
size_t ComputeBufferSize(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX = 0);

} // namespace Pylon
