#include "frame_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "jpeg_encode.h"
#include "png_encode.h"

namespace mirva::camserver {

namespace {

int scaled(int n, int permille) { return std::max(1, static_cast<int>((int64_t(n) * permille + 500) / 1000)); }

// Bits to shift a 16-bit pixel right so that its effective bits fit in 8.
int shift_to_8_bits(const DeliveredImage& image) {
    int bits = image.header.img_ext_prm.ebitpp;
    if (bits <= 8 || bits > 16)
        bits = 16;
    return bits - 8;
}

// The image resampled (nearest pixel) to out_w x out_h: 1 byte grey, 2 bytes grey (or 1 with
// to_8_bits), 3 bytes RGB (RGBA loses its alpha).
std::string resample(const DeliveredImage& image, int out_w, int out_h, bool to_8_bits) {
    const int bpp = image.bytes_per_pixel;
    const int out_bpp = bpp == 4 ? 3 : (bpp == 2 && to_8_bits ? 1 : bpp);
    std::string out(size_t(out_w) * out_h * out_bpp, '\0');
    std::vector<int> source_x(static_cast<size_t>(out_w));
    for (int x = 0; x < out_w; ++x)
        source_x[size_t(x)] = static_cast<int>(int64_t(x) * image.width / out_w);
    const int shift = shift_to_8_bits(image);
    auto* dst = reinterpret_cast<uint8_t*>(out.data());
    for (int y = 0; y < out_h; ++y) {
        const int sy = static_cast<int>(int64_t(y) * image.height / out_h);
        const uint8_t* row = image.pixels.data() + size_t(sy) * image.width * bpp;
        uint8_t* d = dst + size_t(y) * out_w * out_bpp;
        for (int x = 0; x < out_w; ++x) {
            const uint8_t* s = row + size_t(source_x[size_t(x)]) * bpp;
            switch (bpp) {
            case 1: d[x] = s[0]; break;
            case 2:
                if (to_8_bits) {
                    uint16_t v;
                    std::memcpy(&v, s, 2);
                    d[x] = static_cast<uint8_t>(std::min(255, v >> shift));
                } else {
                    std::memcpy(d + size_t(x) * 2, s, 2);
                }
                break;
            default: std::memcpy(d + size_t(x) * 3, s, 3); break;
            }
        }
    }
    return out;
}

PixelLayout layout_of(int bytes_per_pixel) {
    switch (bytes_per_pixel) {
    case 1: return PixelLayout::mono8;
    case 2: return PixelLayout::mono16;
    default: return PixelLayout::rgb8;
    }
}

} // namespace

std::optional<FrameFormat> frame_format_from(const std::string& format, const std::string& quality,
                                             const std::string& scale, bool allow_png, std::string* error) {
    FrameFormat f;
    if (format == "jpeg")
        f.encoding = Encoding::jpeg;
    else if (format == "raw")
        f.encoding = Encoding::raw;
    else if (format == "png" && allow_png)
        f.encoding = Encoding::png;
    else {
        *error = "format " + format + " refused: " + (allow_png ? "png, jpeg or raw" : "jpeg or raw");
        return std::nullopt;
    }
    if (!quality.empty()) {
        char* end = nullptr;
        const long q = std::strtol(quality.c_str(), &end, 10);
        if (*end != '\0' || q < 1 || q > 100) {
            *error = "quality " + quality + " refused: an integer 1..100";
            return std::nullopt;
        }
        f.quality = static_cast<int>(q);
    }
    if (!scale.empty()) {
        char* end = nullptr;
        const double s = std::strtod(scale.c_str(), &end);
        if (*end != '\0' || !(s >= 0.1 && s <= 1.0)) {
            *error = "scale " + scale + " refused: a number 0.1..1";
            return std::nullopt;
        }
        f.scale_permille = static_cast<int>(std::lround(s * 1000));
    }
    return f;
}

EncodedFrame encode_frame(std::shared_ptr<const DeliveredImage> image, const FrameFormat& format) {
    const DeliveredImage& img = *image;
    const int bpp = img.bytes_per_pixel;
    if (img.width <= 0 || img.height <= 0 || bpp < 1 || bpp > 4 ||
        img.pixels.size() < size_t(img.width) * img.height * bpp)
        throw std::runtime_error("image " + std::to_string(img.width) + "x" + std::to_string(img.height) + " with " +
                                 std::to_string(bpp) + " bytes per pixel cannot be encoded");
    EncodedFrame e;
    e.format = format;
    e.width = scaled(img.width, format.scale_permille);
    e.height = scaled(img.height, format.scale_permille);
    e.layout = layout_of(bpp);
    const bool full = e.width == img.width && e.height == img.height;
    switch (format.encoding) {
    case Encoding::raw:
        if (full && bpp != 4)
            e.uses_image_pixels = true;
        else
            e.bytes = resample(img, e.width, e.height, false);
        break;
    case Encoding::jpeg:
        if (full && (bpp == 1 || bpp == 3)) {
            e.bytes = encode_jpeg(img.width, img.height, bpp, img.pixels.data(), img.width * bpp, format.quality);
        } else {
            const std::string px = resample(img, e.width, e.height, true);
            const int channels = bpp >= 3 ? 3 : 1;
            e.bytes = encode_jpeg(e.width, e.height, channels, reinterpret_cast<const uint8_t*>(px.data()),
                                  e.width * channels, format.quality);
        }
        break;
    case Encoding::png:
        if (full) {
            e.bytes = encode_png(img.width, img.height, bpp, img.pixels.data());
        } else {
            const std::string px = resample(img, e.width, e.height, false);
            e.bytes = encode_png(e.width, e.height, bpp == 4 ? 3 : bpp, reinterpret_cast<const uint8_t*>(px.data()));
        }
        break;
    }
    e.image = std::move(image);
    return e;
}

} // namespace mirva::camserver
