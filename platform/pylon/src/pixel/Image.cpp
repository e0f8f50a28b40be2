// CPylonImage: an owning or non-owning image buffer.
#include <pylon/Image.h>

#include <cstring>

#include <GenICam/GCException.h>
#include <pylon/PixelTypeMapper.h>

namespace Pylon {

CPylonImage::CPylonImage(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX)
{
    Reset(pixelType, width, height, paddingX);
}

CPylonImage::CPylonImage(const CPylonImage& other)
{
    *this = other;
}

CPylonImage& CPylonImage::operator=(const CPylonImage& other)
{
    if (this == &other)
        return *this;
    if (!other.IsValid()) {
        Release();
        return *this;
    }
    Reset(other.pixel_type_, other.width_, other.height_, other.padding_x_);
    std::memcpy(buffer(), other.buffer(), image_size_);
    return *this;
}

void CPylonImage::Reset(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX)
{
    const size_t size = ComputeBufferSize(pixelType, width, height, paddingX); // throws for unknown types
    user_buffer_ = nullptr;
    if (!owned_ || owned_capacity_ < size || size == 0) {
        // A zero-sized image still gets a buffer so that it counts as valid.
        owned_ = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
        owned_capacity_ = size;
    } else {
        std::memset(owned_.get(), 0, size);
    }
    pixel_type_ = pixelType;
    width_ = width;
    height_ = height;
    padding_x_ = paddingX;
    image_size_ = size;
}

void CPylonImage::AttachUserBuffer(void* buffer, size_t bufferSize, EPixelType pixelType, uint32_t width,
                                   uint32_t height, size_t paddingX)
{
    const size_t size = ComputeBufferSize(pixelType, width, height, paddingX);
    if (buffer == nullptr)
        throw INVALID_ARGUMENT_EXCEPTION("AttachUserBuffer: null buffer for a %s image of %ux%u",
                                         CPixelTypeMapper::GetNameByPixelType(pixelType), width, height);
    if (bufferSize < size)
        throw OUT_OF_RANGE_EXCEPTION("AttachUserBuffer: buffer of %zu bytes is smaller than the %zu bytes of a %s image of %ux%u",
                                     bufferSize, size, CPixelTypeMapper::GetNameByPixelType(pixelType), width, height);
    owned_.reset();
    owned_capacity_ = 0;
    user_buffer_ = buffer;
    pixel_type_ = pixelType;
    width_ = width;
    height_ = height;
    padding_x_ = paddingX;
    image_size_ = size;
}

void CPylonImage::Release() noexcept
{
    owned_.reset();
    owned_capacity_ = 0;
    user_buffer_ = nullptr;
    pixel_type_ = PixelType_Undefined;
    width_ = height_ = 0;
    padding_x_ = 0;
    image_size_ = 0;
}

bool CPylonImage::GetStride(size_t& strideBytes) const
{
    if (!IsValid())
        return false;
    return ComputeStride(strideBytes, pixel_type_, width_, padding_x_);
}

} // namespace Pylon
