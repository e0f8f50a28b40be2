#include "png_encode.h"

#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace mirva::camserver {

namespace {

struct Sink {
    std::string* out;
    char message[200];
};

void write_data(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    sink->out->append(reinterpret_cast<const char*>(data), length);
}

void flush_data(png_structp) {}

void on_error(png_structp png, png_const_charp text) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", text);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Only plain data lives in this frame: libpng leaves it with longjmp on an error.
bool encode_rows(png_structp png, png_infop info, int width, int height, int color_type, int bit_depth,
                 png_bytepp rows, bool swap16, const PngSettings& settings) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), bit_depth, color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, settings.compression_level);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.sub_filter ? PNG_FILTER_SUB : PNG_FILTER_NONE);
    png_write_info(png, info);
    if (swap16)
        png_set_swap(png);  // PNG samples are big-endian
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

std::string encode_png(int width, int height, int bytes_per_pixel, const uint8_t* pixels, const PngSettings& settings) {
    int color_type = 0, bit_depth = 8;
    switch (bytes_per_pixel) {
    case 1: color_type = PNG_COLOR_TYPE_GRAY; break;
    case 2: color_type = PNG_COLOR_TYPE_GRAY; bit_depth = 16; break;
    case 3: color_type = PNG_COLOR_TYPE_RGB; break;
    case 4: color_type = PNG_COLOR_TYPE_RGBA; break;
    default:
        throw std::runtime_error("PNG encoding: " + std::to_string(bytes_per_pixel) + " bytes per pixel not supported");
    }
    if (width <= 0 || height <= 0 || !pixels)
        throw std::runtime_error("PNG encoding: empty image " + std::to_string(width) + "x" + std::to_string(height));

    std::string out;
    out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bytes_per_pixel) / 2 + 1024);
    Sink sink{&out, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
    if (!png)
        throw std::runtime_error("PNG encoding: out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("PNG encoding: out of memory");
    }
    png_set_write_fn(png, &sink, write_data, flush_data);

    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(bytes_per_pixel);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(pixels + y * stride);  // libpng does not write through them
    const bool swap16 = bit_depth == 16 && std::endian::native == std::endian::little;
    const bool ok = encode_rows(png, info, width, height, color_type, bit_depth, rows.data(), swap16, settings);
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error(std::string("PNG encoding failed: ") + sink.message);
    return out;
}

} // namespace mirva::camserver
