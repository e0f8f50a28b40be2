// Pixel type questions, answered from the pixel-format table.
#include <pylon/PixelFormatTable.h>
#include <pylon/PixelType.h>
#include <pylon/PixelTypeMapper.h>

#include <GenICam/GCException.h>

namespace Pylon {

namespace {

using C = EPixelColour;

template <typename Pred>
bool test(EPixelType type, Pred pred)
{
    const SPixelFormatInfo* info = FindPixelFormat(type);
    return info != nullptr && pred(*info);
}

} // namespace

uint32_t BitDepth(EPixelType pixelType)
{
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    return info ? info->bitDepth : 0;
}

uint32_t BitPerPixel(EPixelType pixelType)
{
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    return info ? info->bitsPerPixel : 0;
}

uint32_t SamplesPerPixel(EPixelType pixelType)
{
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    return info ? info->channels : 0;
}

bool IsMono(EPixelType t) { return test(t, [](const auto& i) { return i.colour == C::Mono; }); }
bool IsBayer(EPixelType t) { return test(t, [](const auto& i) { return i.colour == C::Bayer; }); }
bool IsPacked(EPixelType t)
{
    return test(t, [](const auto& i) {
        return i.packing == EPixelPacking::TwoInThree || i.packing == EPixelPacking::LsbStream ||
               i.packing == EPixelPacking::Words32;
    });
}
bool IsRGB(EPixelType t)
{
    return test(t, [](const auto& i) { return i.colour == C::RGB || i.colour == C::RGBA || i.colour == C::RGBPlanar; });
}
bool IsBGR(EPixelType t) { return test(t, [](const auto& i) { return i.colour == C::BGR || i.colour == C::BGRA; }); }
bool IsRGBA(EPixelType t) { return test(t, [](const auto& i) { return i.colour == C::RGBA; }); }
bool IsBGRA(EPixelType t) { return test(t, [](const auto& i) { return i.colour == C::BGRA; }); }
bool IsYUV(EPixelType t)
{
    return test(t, [](const auto& i) {
        return i.colour == C::YUV411 || i.colour == C::YUV422_UYVY || i.colour == C::YUV422_YUYV ||
               i.colour == C::YUV444;
    });
}
bool IsPlanar(EPixelType t) { return test(t, [](const auto& i) { return i.packing == EPixelPacking::Planar; }); }
bool IsColorImage(EPixelType t) { return test(t, [](const auto& i) { return i.colour != C::Mono; }); }
bool IsFloatingPoint(EPixelType t) { return t == PixelType_Double; }
bool IsValidPixelType(EPixelType t) { return FindPixelFormat(t) != nullptr; }

bool ComputeStride(size_t& strideBytes, EPixelType pixelType, uint32_t width, size_t paddingX)
{
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    if (info == nullptr)
        return false;
    // A planar line is one line of one plane.
    const uint64_t bits = info->packing == EPixelPacking::Planar
                              ? uint64_t{width} * (info->bitsPerPixel / info->channels)
                              : uint64_t{width} * info->bitsPerPixel;
    strideBytes = static_cast<size_t>((bits + 7) / 8) + paddingX;
    return true;
}

size_t ComputeBufferSize(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX)
{
    size_t stride = 0;
    if (!ComputeStride(stride, pixelType, width, paddingX))
        throw INVALID_ARGUMENT_EXCEPTION("ComputeBufferSize: unknown pixel type 0x%llx",
                                         static_cast<unsigned long long>(pixelType));
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    const size_t planes = info->packing == EPixelPacking::Planar ? info->channels : 1;
    return stride * height * planes;
}

} // namespace Pylon
