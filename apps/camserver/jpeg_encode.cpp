#include "jpeg_encode.h"

#include <turbojpeg.h>

#include <memory>

namespace mirva::camserver {

namespace {

// One compressor per thread, made on its first use and freed when the thread ends.
class Compressor {
public:
    Compressor() : handle_(tjInitCompress()) {}
    ~Compressor() {
        if (handle_)
            tjDestroy(handle_);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    tjhandle get() const { return handle_; }

private:
    tjhandle handle_;
};

} // namespace

std::string encode_jpeg(int width, int height, int channels, const uint8_t* pixels, int pitch, int quality) {
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3) || pitch < width * channels)
        throw std::runtime_error("JPEG of " + std::to_string(width) + "x" + std::to_string(height) + " with " +
                                 std::to_string(channels) + " channels refused: 1 or 3 channels and a positive size");
    if (quality < 1 || quality > 100)
        throw std::runtime_error("JPEG quality " + std::to_string(quality) + " refused: 1..100");
    thread_local Compressor compressor;
    if (!compressor.get())
        throw std::runtime_error("JPEG encoder cannot start");
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(compressor.get(), pixels, width, pitch, height, channels == 1 ? TJPF_GRAY : TJPF_RGB, &out,
                               &size, channels == 1 ? TJSAMP_GRAY : TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, [](unsigned char* p) { tjFree(p); });
    if (rc != 0)
        throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(compressor.get()));
    return std::string(reinterpret_cast<const char*>(out), size);
}

} // namespace mirva::camserver
