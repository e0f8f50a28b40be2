// PNG files for images and calibration images (libpng), and the image directory.
#include <mirva/image_files.h>

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace mirva {

namespace {
std::mutex dir_mx;                 // guards image_dir
std::string image_dir = ".";       // guarded by dir_mx

struct File {
    FILE* f = nullptr;
    ~File() { if (f) std::fclose(f); }
};

// libpng reports errors by longjmp; the message is kept for the caller.
struct ErrorSink {
    char message[256] = {0};
};

void on_error(png_structp png, png_const_charp text) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    if (sink) std::snprintf(sink->message, sizeof sink->message, "%s", text ? text : "libpng error");
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Fills rows (already allocated) with big-endian 16-bit samples when needed.
bool write_rows(png_structp png, png_infop info, FILE* f, int width, int height, int bpp,
                const uint8_t* pixels, std::vector<uint8_t>& row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    int color = bpp == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    int depth = bpp == 2 ? 16 : 8;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, color,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);  // speed over size: this runs on the camera thread
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(bpp);
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = pixels + stride * static_cast<size_t>(y);
        if (bpp == 2) {
            for (size_t i = 0; i + 1 < stride; i += 2) {  // PNG stores 16-bit samples big-endian
                uint16_t v;
                std::memcpy(&v, src + i, 2);
                row[i] = static_cast<uint8_t>(v >> 8);
                row[i + 1] = static_cast<uint8_t>(v & 0xff);
            }
            png_write_row(png, row.data());
        } else {
            png_write_row(png, const_cast<png_bytep>(src));
        }
    }
    png_write_end(png, nullptr);
    return true;
}

bool read_rows(png_structp png, png_infop info, FILE* f, PngImage* out, std::string* why) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info), color = png_get_color_type(png, info);
    int bpp;
    if (color == PNG_COLOR_TYPE_GRAY && depth == 8) bpp = 1;
    else if (color == PNG_COLOR_TYPE_GRAY && depth == 16) bpp = 2;
    else if (color == PNG_COLOR_TYPE_RGB && depth == 8) bpp = 3;
    else {
        *why = "unsupported PNG kind (colour type " + std::to_string(color) + ", depth " + std::to_string(depth) + ")";
        return false;
    }
    if (w == 0 || h == 0 || w > 65536 || h > 65536) {
        *why = "unsupported PNG size";
        return false;
    }
    if (bpp == 2) png_set_swap(png);  // into host (little-endian) order
    png_read_update_info(png, info);
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    out->bytes_per_pixel = bpp;
    const size_t stride = static_cast<size_t>(w) * static_cast<size_t>(bpp);
    out->pixels.assign(stride * h, 0);
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, out->pixels.data() + stride * y, nullptr);
    png_read_end(png, nullptr);
    return true;
}
} // namespace

void set_image_directory(const std::string& path) {
    std::lock_guard lk(dir_mx);
    image_dir = path.empty() ? "." : path;
}

std::string image_directory() {
    std::lock_guard lk(dir_mx);
    return image_dir;
}

std::string write_png(const std::string& path, int width, int height, int bytes_per_pixel, const uint8_t* pixels) {
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536) {
        return "image size " + std::to_string(width) + "x" + std::to_string(height) + " cannot be written";
    }
    if (bytes_per_pixel < 1 || bytes_per_pixel > 3) {
        return std::to_string(bytes_per_pixel) + " bytes per pixel cannot be written (1, 2 or 3)";
    }
    if (!pixels) return "no image data";
    File file;
    file.f = std::fopen(path.c_str(), "wb");
    if (!file.f) return "cannot create " + path + ": " + std::strerror(errno);
    ErrorSink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
    if (!png) return "out of memory for the PNG writer";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "out of memory for the PNG writer";
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) * static_cast<size_t>(bytes_per_pixel));
    bool ok = write_rows(png, info, file.f, width, height, bytes_per_pixel, pixels, row);
    png_destroy_write_struct(&png, &info);
    if (!ok) return "cannot write " + path + ": " + sink.message;
    if (std::fflush(file.f) != 0 || std::ferror(file.f)) return "cannot write " + path + ": " + std::strerror(errno);
    return {};
}

std::string read_png(const std::string& path, PngImage* out) {
    File file;
    file.f = std::fopen(path.c_str(), "rb");
    if (!file.f) return "cannot open " + path + ": " + std::strerror(errno);
    uint8_t sig[8];
    if (std::fread(sig, 1, 8, file.f) != 8 || png_sig_cmp(sig, 0, 8) != 0) return path + " is not a PNG file";
    ErrorSink sink;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
    if (!png) return "out of memory for the PNG reader";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return "out of memory for the PNG reader";
    }
    png_set_sig_bytes(png, 8);
    std::string why;
    bool ok = read_rows(png, info, file.f, out, &why);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) return "cannot read " + path + ": " + (why.empty() ? std::string(sink.message) : why);
    return {};
}

} // namespace mirva
