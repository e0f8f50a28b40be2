#include "jpeg_encode.h"

#include <turbojpeg.h>

#include <climits>
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
    // The encoder writes into a buffer of the largest size a JPEG of this image can take,
    // kept by the thread from frame to frame: no growing and copying of the output.
    const int subsampling = channels == 1 ? TJSAMP_GRAY : TJSAMP_420;
    const unsigned long capacity = tjBufSize(width, height, subsampling);
    if (capacity == static_cast<unsigned long>(-1) || capacity > static_cast<unsigned long>(INT_MAX))
        throw std::runtime_error("JPEG of " + std::to_string(width) + "x" + std::to_string(height) + " refused: too large");
    thread_local std::unique_ptr<unsigned char, void (*)(unsigned char*)> buffer(nullptr, [](unsigned char* p) { tjFree(p); });
    thread_local unsigned long buffer_size = 0;
    if (buffer_size < capacity) {
        buffer.reset(tjAlloc(static_cast<int>(capacity)));
        buffer_size = buffer ? capacity : 0;
        if (!buffer)
            throw std::runtime_error("JPEG of " + std::to_string(width) + "x" + std::to_string(height) +
                                     " refused: no memory for its " + std::to_string(capacity) + " bytes");
    }
    unsigned char* out = buffer.get();
    unsigned long size = buffer_size;
    int rc = 0;
    if (channels == 1) {
        // A grey image is already the JPEG's only plane: handing it over as that plane skips
        // the encoder's colour-conversion pass, a byte-by-byte copy of every pixel.
        const unsigned char* planes[3] = {pixels, nullptr, nullptr};
        const int strides[3] = {pitch, 0, 0};
        rc = tjCompressFromYUVPlanes(compressor.get(), planes, width, strides, height, subsampling, &out, &size, quality,
                                     TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
    } else {
        rc = tjCompress2(compressor.get(), pixels, width, pitch, height, TJPF_RGB, &out, &size, subsampling, quality,
                         TJFLAG_FASTDCT | TJFLAG_NOREALLOC);
    }
    if (rc != 0)
        throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(compressor.get()));
    return std::string(reinterpret_cast<const char*>(out), size);
}

} // namespace mirva::camserver
