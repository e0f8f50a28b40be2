// Produces the frames of an emulated camera.
//
// Counter pattern: the lines of a geometry, pixel format and brightness are prepared once; a
// frame is then one copy per line plus the few bytes that carry the frame number.
//
// Beam: the Gaussian spot is separable, so its horizontal and vertical profiles are prepared
// once; a frame computes each sample from the two profiles and two draws from a table of
// normal deviates (read noise, and shot noise whose amplitude is separable as well: the
// square root of a Gaussian is a Gaussian). Without noise the whole frame is prepared once
// and a frame is one copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <GenICam/GCException.h>
#include <pylon/PixelFormatTable.h>
#include <pylon/emulator/Emulator.h>

namespace Pylon::Emulator {

struct PatternKey {
    EPixelType type = PixelType_Undefined;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint32_t binningH = 1;
    uint32_t binningV = 1;
    uint32_t brightness = 1000; // per mille of the reference exposure
    bool operator==(const PatternKey&) const = default;
};

class CFramePattern {
public:
    // Prepares the lines for `key` (nothing when the key is unchanged). Throws
    // InvalidArgumentException for a pixel type the pattern cannot produce.
    void Prepare(const PatternKey& key);
    const PatternKey& Key() const { return key_; }
    // Bytes of one frame.
    size_t FrameSize() const { return stride_ * key_.height; }
    // Writes frame `frameNumber` into `destination`; returns the bytes written (cut at capacity).
    size_t Write(uint64_t frameNumber, uint8_t* destination, size_t capacity) const;

private:
    PatternKey key_;
    const SPixelFormatInfo* info_ = nullptr;
    size_t stride_ = 0;
    std::vector<std::vector<uint8_t>> lines_; // doubled lines (width + period pixels), by line kind
    uint32_t number_pixels_ = 0;              // pixels of the first line that carry the frame number
};

class CBeamPattern {
public:
    // Prepares the profiles for `key` and `beam` (nothing when both are unchanged); the beam
    // has its defaults filled in. Throws InvalidArgumentException for a pixel type the
    // emulator cannot produce.
    void Prepare(const PatternKey& key, const BeamSettings& beam);
    size_t FrameSize() const { return stride_ * key_.height; }
    // Writes frame `frameNumber` (it seeds the noise) into `destination`; returns the bytes
    // written (cut at capacity).
    size_t Write(uint64_t frameNumber, uint8_t* destination, size_t capacity) const;

private:
    enum class Path { Narrow, Wide, Generic }; // 8-bit samples, 16-bit samples, any other packing
    // Writes line y of a frame; `seed` draws the noise offsets (nothing drawn without noise).
    void Line(uint32_t y, uint64_t& seed, uint8_t* out) const;
    // Computes pixels first..last - 1 of line y into `out` (which points at pixel `first`).
    void Spot(uint32_t y, uint32_t first, uint32_t last, uint64_t& seed, uint8_t* out) const;

    PatternKey key_;
    BeamSettings beam_;
    const SPixelFormatInfo* info_ = nullptr;
    size_t stride_ = 0;
    Path path_ = Path::Generic;
    uint32_t channels_ = 1;       // samples per pixel written (alpha included)
    float max_value_ = 255;       // full scale of a sample in the path's units
    std::vector<float> gx_, sqrt_gx_; // horizontal profile (peak 1) and its square root, per pixel
    std::vector<float> gy_;           // vertical profile, per line
    float peak_ = 0, background_ = 0; // in sample units
    float read_sigma_ = 0;            // read noise and the background's shot noise, sample units
    float shot_factor_ = 0;           // shot noise variance per unit of signal, sample units
    std::vector<uint8_t> clean_;      // the whole frame when there is no noise
    // With noise, plain samples: lines of background and read noise, wider than the image so
    // that a line starts anywhere in their first kNoiseShift pixels; a frame line is one of
    // them, and only the pixels where the spot shows are computed.
    std::vector<std::vector<uint8_t>> noise_lines_;
    std::vector<uint32_t> spot_begin_, spot_end_; // per line: pixels where the spot shows
};

} // namespace Pylon::Emulator
