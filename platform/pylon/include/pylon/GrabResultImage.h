// A grab result seen as an image, so the converter can take it as its source.
#pragma once

#include <pylon/GrabResult.h>
#include <pylon/Image.h>

namespace Pylon {

template <class GrabResultT>
class CGrabResultImageT : public IImage {
public:
    // The result (and its buffer) must outlive this object.
    explicit CGrabResultImageT(GrabResultT& result) : result_(result) {}

    bool IsValid() const override
    {
        return result_.m_pBuffer != nullptr && result_.m_PixelType != PixelType_Undefined && result_.m_SizeX > 0 &&
               result_.m_SizeY > 0;
    }
    EPixelType GetPixelType() const override { return IsValid() ? result_.m_PixelType : PixelType_Undefined; }
    uint32_t GetWidth() const override { return IsValid() ? static_cast<uint32_t>(result_.m_SizeX) : 0; }
    uint32_t GetHeight() const override { return IsValid() ? static_cast<uint32_t>(result_.m_SizeY) : 0; }
    size_t GetPaddingX() const override { return result_.m_PaddingX > 0 ? static_cast<size_t>(result_.m_PaddingX) : 0; }
    const void* GetBuffer() const override { return IsValid() ? result_.m_pBuffer : nullptr; }
    void* GetBuffer() override { return IsValid() ? result_.m_pBuffer : nullptr; }
    // The bytes the camera wrote.
    size_t GetImageSize() const override
    {
        return IsValid() && result_.m_PayloadSize > 0 ? static_cast<size_t>(result_.m_PayloadSize) : 0;
    }
    bool GetStride(size_t& strideBytes) const override
    {
        return IsValid() && ComputeStride(strideBytes, result_.m_PixelType, GetWidth(), GetPaddingX());
    }

private:
    GrabResultT& result_;
};

using CGrabResultImage = CGrabResultImageT<GrabResult>;

} // namespace Pylon
