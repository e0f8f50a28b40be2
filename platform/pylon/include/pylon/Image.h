// Images as the converter sees them.
//
// IImage is the read interface of any image: a buffer holding `height` lines of a pixel
// type, each line `stride` bytes long (the packed line plus `paddingX` bytes). Implement it
// over any memory (a grab result, a user buffer); CPylonImage is the ready-made one that
// either owns its buffer or refers to a caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <pylon/PixelType.h>

namespace Pylon {

class IImage {
public:
    virtual ~IImage() = default;

    // False while the image holds no buffer or no valid pixel type; the other getters
    // then return 0, PixelType_Undefined or null.
    virtual bool IsValid() const = 0;
    virtual EPixelType GetPixelType() const = 0;
    virtual uint32_t GetWidth() const = 0;
    virtual uint32_t GetHeight() const = 0;
    // Bytes appended to every line.
    virtual size_t GetPaddingX() const = 0;
    // First byte of the first line.
    virtual const void* GetBuffer() const = 0;
    virtual void* GetBuffer() = 0;
    // Bytes of the buffer that belong to the image (at least stride * height, planar
    // formats counting all planes).
    virtual size_t GetImageSize() const = 0;
    // Bytes per line; false when the image is not valid.
    virtual bool GetStride(size_t& strideBytes) const = 0;
};

class CPylonImage final : public IImage {
public:
    CPylonImage() = default;
    // An owning image of the given format, zero-filled.
    CPylonImage(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX = 0);
    CPylonImage(const CPylonImage& other);            // deep copy
    CPylonImage& operator=(const CPylonImage& other); // deep copy
    CPylonImage(CPylonImage&&) noexcept = default;
    CPylonImage& operator=(CPylonImage&&) noexcept = default;
    ~CPylonImage() override = default;

    // Allocates an owned, zero-filled buffer for the format (reusing the present one
    // when it is owned and large enough). Throws InvalidArgumentException for an unknown type.
    void Reset(EPixelType pixelType, uint32_t width, uint32_t height, size_t paddingX = 0);
    // Refers to a caller's buffer, which must outlive the image. Throws
    // OutOfRangeException when `bufferSize` is smaller than the format needs.
    void AttachUserBuffer(void* buffer, size_t bufferSize, EPixelType pixelType, uint32_t width,
                          uint32_t height, size_t paddingX = 0);
    // Back to the empty, invalid state.
    void Release() noexcept;
    bool IsUserBufferAttached() const noexcept { return user_buffer_ != nullptr; }

    bool IsValid() const override { return buffer() != nullptr && pixel_type_ != PixelType_Undefined; }
    EPixelType GetPixelType() const override { return pixel_type_; }
    uint32_t GetWidth() const override { return width_; }
    uint32_t GetHeight() const override { return height_; }
    size_t GetPaddingX() const override { return padding_x_; }
    const void* GetBuffer() const override { return buffer(); }
    void* GetBuffer() override { return buffer(); }
    size_t GetImageSize() const override { return image_size_; }
    bool GetStride(size_t& strideBytes) const override;

private:
    void* buffer() const noexcept { return user_buffer_ ? user_buffer_ : owned_.get(); }

    std::unique_ptr<uint8_t[]> owned_;
    size_t owned_capacity_ = 0;
    void* user_buffer_ = nullptr;
    EPixelType pixel_type_ = PixelType_Undefined;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    size_t padding_x_ = 0;
    size_t image_size_ = 0;
};

} // namespace Pylon
