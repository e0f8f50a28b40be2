// CImageFormatConverter: parameter checks and buffer-size checks around the conversion engine.
#include <pylon/ImageFormatConverter.h>

#include <GenICam/GCException.h>
#include <pylon/PixelTypeMapper.h>

#include "ConvertImage.h"

namespace Pylon {

namespace {

const char* name_of(EPixelType t) noexcept { return CPixelTypeMapper::GetNameByPixelType(t); }

} // namespace

// ---- Parameters -------------------------------------------------------------------------

bool COutputPixelFormatParameter::IsSupported(EPixelType value) noexcept
{
    return value == PixelType_Mono8 || value == PixelType_Mono16 || value == PixelType_RGB8packed;
}

void COutputPixelFormatParameter::SetValue(EPixelType value)
{
    if (!IsSupported(value))
        throw INVALID_ARGUMENT_EXCEPTION("OutputPixelFormat: %s (0x%llx) is not an output format; use Mono8, Mono16 or RGB8packed",
                                         name_of(value), static_cast<unsigned long long>(value));
    value_ = value;
}

GenICam::gcstring COutputPixelFormatParameter::ToString() const { return name_of(value_); }

void CIntegerParameterValue::SetValue(int64_t value)
{
    if (value < min_ || value > max_)
        throw OUT_OF_RANGE_EXCEPTION("%s: value %lld is outside %lld..%lld", name_, static_cast<long long>(value),
                                     static_cast<long long>(min_), static_cast<long long>(max_));
    value_ = value;
}

// ---- Converter ---------------------------------------------------------------------------

bool CImageFormatConverter::IsSupportedInputFormat(EPixelType sourcePixelType) noexcept
{
    pixel::SourceReader reader;
    return pixel::describe_source(sourcePixelType, reader);
}

void CImageFormatConverter::Initialize(EPixelType sourcePixelType)
{
    if (!IsSupportedInputFormat(sourcePixelType))
        throw ACCESS_EXCEPTION("CImageFormatConverter: cannot convert from pixel format %s (0x%llx)",
                               name_of(sourcePixelType), static_cast<unsigned long long>(sourcePixelType));
    source_ = sourcePixelType;
}

bool CImageFormatConverter::IsInitialized(EPixelType sourcePixelType) const noexcept
{
    return source_ != PixelType_Undefined && source_ == sourcePixelType;
}

void CImageFormatConverter::Uninitialize() noexcept
{
    source_ = PixelType_Undefined;
    bytes_ = {};
    words_ = {};
}

size_t CImageFormatConverter::GetBufferSizeForConversion(EPixelType /*sourcePixelType*/, uint32_t width,
                                                         uint32_t height) const
{
    return ComputeBufferSize(OutputPixelFormat.GetValue(), width, height);
}

size_t CImageFormatConverter::GetBufferSizeForConversion(const IImage& source) const
{
    return GetBufferSizeForConversion(source.GetPixelType(), source.GetWidth(), source.GetHeight());
}

void CImageFormatConverter::Convert(void* dst, size_t dstSize, const IImage& source)
{
    if (!source.IsValid())
        throw INVALID_ARGUMENT_EXCEPTION("CImageFormatConverter::Convert: the source image is not valid");
    Convert(dst, dstSize, source.GetBuffer(), source.GetImageSize(), source.GetPixelType(), source.GetWidth(),
            source.GetHeight(), source.GetPaddingX());
}

void CImageFormatConverter::Convert(void* dst, size_t dstSize, const void* src, size_t srcSize,
                                    EPixelType sourcePixelType, uint32_t width, uint32_t height, size_t paddingX)
{
    if (source_ == PixelType_Undefined)
        throw LOGICAL_ERROR_EXCEPTION("CImageFormatConverter::Convert: not initialised (source %s)",
                                      name_of(sourcePixelType));
    if (sourcePixelType != source_)
        throw LOGICAL_ERROR_EXCEPTION("CImageFormatConverter::Convert: source is %s but the converter was initialised for %s",
                                      name_of(sourcePixelType), name_of(source_));
    pixel::SourceReader reader;
    pixel::describe_source(source_, reader);

    const EPixelType output = OutputPixelFormat.GetValue();
    const size_t needed = ComputeBufferSize(output, width, height);
    if (dstSize < needed)
        throw OUT_OF_RANGE_EXCEPTION("CImageFormatConverter::Convert: output buffer of %zu bytes is smaller than the %zu bytes of a %s image of %ux%u",
                                     dstSize, needed, name_of(output), width, height);
    if (width == 0 || height == 0)
        return;
    if (dst == nullptr)
        throw INVALID_ARGUMENT_EXCEPTION("CImageFormatConverter::Convert: null output buffer");

    size_t line = 0; // bytes of one line without padding
    ComputeStride(line, sourcePixelType, width, 0);
    const size_t stride = line + paddingX;
    const size_t src_needed = stride * (height - 1) + line;
    if (src == nullptr)
        throw INVALID_ARGUMENT_EXCEPTION("CImageFormatConverter::Convert: null source buffer");
    if (srcSize < src_needed)
        throw OUT_OF_RANGE_EXCEPTION("CImageFormatConverter::Convert: source buffer of %zu bytes is smaller than the %zu bytes of a %s image of %ux%u with %zu bytes padding",
                                     srcSize, src_needed, name_of(sourcePixelType), width, height, paddingX);

    pixel::ConvertJob job;
    job.dst = static_cast<uint8_t*>(dst);
    job.src = static_cast<const uint8_t*>(src);
    job.src_stride = stride;
    job.width = width;
    job.height = height;
    job.output = output;
    job.shift = static_cast<int>(AdditionalLeftShift.GetValue());
    pixel::convert_image(reader, job, bytes_, words_);
}

} // namespace Pylon
