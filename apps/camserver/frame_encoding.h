// One delivered image as a client asked for it: raw pixels, JPEG or PNG, at a scale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <mirva/bcam_base.h>

namespace mirva::camserver {

enum class Encoding : uint8_t { raw = 0, jpeg = 1, png = 2 };
// Pixel layout of raw pixels (the live view's numbering).
enum class PixelLayout : uint8_t { mono8 = 0, mono16 = 1, rgb8 = 2 };

struct FrameFormat {
    Encoding encoding = Encoding::jpeg;
    int quality = 80;            // JPEG 1..100
    int scale_permille = 1000;   // 100..1000: the payload's size relative to the image
    bool operator==(const FrameFormat&) const = default;
};

// Reads format, quality and scale from query parameters (format: jpeg, raw or png, as
// allowed). On a bad value, *error names it and the limits.
std::optional<FrameFormat> frame_format_from(const std::string& format, const std::string& quality,
                                             const std::string& scale, bool allow_png, std::string* error);

struct EncodedFrame {
    std::shared_ptr<const DeliveredImage> image;
    FrameFormat format;
    int width = 0, height = 0;          // of the payload (after scale)
    PixelLayout layout = PixelLayout::mono8;
    std::string bytes;                  // the payload, unless it is the image's own pixels
    bool uses_image_pixels = false;     // raw at full scale: the payload is image->pixels
    const uint8_t* data() const { return uses_image_pixels ? image->pixels.data() : reinterpret_cast<const uint8_t*>(bytes.data()); }
    size_t size() const { return uses_image_pixels ? image->pixels.size() : bytes.size(); }
};

// Encodes (any thread; a JPEG of a 16-bit image has its effective bits shifted down to 8).
// Throws std::runtime_error for an image it cannot encode.
EncodedFrame encode_frame(std::shared_ptr<const DeliveredImage> image, const FrameFormat& format);

} // namespace mirva::camserver
