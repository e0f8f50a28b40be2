// Builders of small source images for the converter tests, written independently of the
// converter's own unpacking code.
#pragma once

#include <cstdint>
#include <vector>

#include <pylon/PixelType.h>

namespace pixel_test {

// Mono10packed / Mono12packed line: two pixels in three bytes; an odd last pixel takes two.
inline std::vector<uint8_t> pack_two_in_three(const std::vector<uint16_t>& px, unsigned depth)
{
    const unsigned low = depth - 8;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < px.size(); i += 2) {
        const uint16_t p0 = px[i];
        out.push_back(static_cast<uint8_t>(p0 >> low));
        uint8_t mid = static_cast<uint8_t>(p0 & ((1u << low) - 1));
        if (i + 1 < px.size()) {
            const uint16_t p1 = px[i + 1];
            mid = static_cast<uint8_t>(mid | ((p1 & ((1u << low) - 1)) << 4));
            out.push_back(mid);
            out.push_back(static_cast<uint8_t>(p1 >> low));
        } else {
            out.push_back(mid);
        }
    }
    return out;
}

// Mono10p / Mono12p line: bit stream, LSB first.
inline std::vector<uint8_t> pack_lsb_stream(const std::vector<uint16_t>& px, unsigned depth)
{
    std::vector<uint8_t> out((px.size() * depth + 7) / 8, 0);
    size_t bit = 0;
    for (uint16_t v : px)
        for (unsigned b = 0; b < depth; ++b, ++bit)
            if (v & (1u << b))
                out[bit / 8] = static_cast<uint8_t>(out[bit / 8] | (1u << (bit % 8)));
    return out;
}

inline std::vector<uint8_t> words_le(const std::vector<uint16_t>& px)
{
    std::vector<uint8_t> out;
    for (uint16_t v : px) {
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    return out;
}

// Appends lines with `padding` filler bytes after each.
inline void append_line(std::vector<uint8_t>& image, const std::vector<uint8_t>& line, size_t padding)
{
    image.insert(image.end(), line.begin(), line.end());
    image.insert(image.end(), padding, uint8_t{0xEE});
}

struct Rgb {
    int r, g, b;
};

// A Bayer mosaic of width x height sampled from colour(x, y); `quad` names the colours of
// (0,0), (1,0), (0,1), (1,1), e.g. "RGGB".
template <typename ColourAt>
std::vector<uint16_t> mosaic(const char* quad, uint32_t width, uint32_t height, ColourAt colour)
{
    std::vector<uint16_t> px;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = colour(x, y);
            const char which = quad[(y & 1) * 2 + (x & 1)];
            px.push_back(static_cast<uint16_t>(which == 'R' ? c.r : which == 'G' ? c.g : c.b));
        }
    return px;
}

} // namespace pixel_test
