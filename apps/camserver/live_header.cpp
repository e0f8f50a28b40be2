#include "live_header.h"

#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

namespace mirva::camserver {

namespace {

// Little-endian writer at fixed offsets.
class HeaderWriter {
public:
    explicit HeaderWriter(std::array<uint8_t, live_header_bytes>& out) : out_(out) { out_.fill(0); }
    template <class T>
    void put(size_t at, T value) {
        static_assert(std::is_arithmetic_v<T>);
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big)
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
        std::memcpy(out_.data() + at, bytes, sizeof(T));
    }

private:
    std::array<uint8_t, live_header_bytes>& out_;
};

uint32_t non_negative(int32_t v) { return v < 0 ? 0u : static_cast<uint32_t>(v); }

} // namespace

std::array<uint8_t, live_header_bytes> live_header(const EncodedFrame& frame, uint32_t dropped) {
    std::array<uint8_t, live_header_bytes> out;
    HeaderWriter w(out);
    const DeliveredImage& img = *frame.image;
    const auto& p = img.header.img_prm;
    const auto& e = img.header.img_ext_prm;
    const auto& s = img.stats;
    std::memcpy(out.data(), "MLV1", 4);
    w.put<uint16_t>(4, static_cast<uint16_t>(live_header_bytes));
    w.put<uint16_t>(6, 1);
    w.put<uint64_t>(8, p.frame);
    w.put<uint64_t>(16, uint64_t(p.sec) * 1000000u + p.usec);
    w.put<uint32_t>(24, non_negative(frame.width));
    w.put<uint32_t>(28, non_negative(frame.height));
    w.put<uint32_t>(32, non_negative(img.width));
    w.put<uint32_t>(36, non_negative(img.height));
    w.put<uint8_t>(40, static_cast<uint8_t>(img.bytes_per_pixel));
    w.put<uint8_t>(41, static_cast<uint8_t>(e.ebitpp));
    w.put<uint8_t>(42, static_cast<uint8_t>(frame.layout));
    w.put<uint8_t>(43, frame.format.encoding == Encoding::jpeg ? 1 : 0);
    w.put<uint32_t>(44, non_negative(e.x_start));
    w.put<uint32_t>(48, non_negative(e.y_start));
    w.put<uint32_t>(52, non_negative(e.aoi_width));
    w.put<uint32_t>(56, non_negative(e.aoi_height));
    w.put<uint16_t>(60, static_cast<uint16_t>(e.hbin));
    w.put<uint16_t>(62, static_cast<uint16_t>(e.vbin));
    w.put<float>(64, static_cast<float>(s.cx));
    w.put<float>(68, static_cast<float>(s.cy));
    w.put<float>(72, static_cast<float>(s.sx));
    w.put<float>(76, static_cast<float>(s.sy));
    w.put<float>(80, static_cast<float>(s.peak));
    w.put<uint32_t>(84, s.peak_x);
    w.put<uint32_t>(88, s.peak_y);
    w.put<uint32_t>(92, s.saturated);
    w.put<double>(96, s.sum);
    w.put<uint32_t>(104, s.valid ? 1u : 0u);
    w.put<uint32_t>(108, dropped);
    w.put<uint32_t>(112, static_cast<uint32_t>(img.sequence));
    return out;
}

} // namespace mirva::camserver
