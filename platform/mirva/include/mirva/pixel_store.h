// Pixel bytes of delivered images and of a location's image buffers.
//
// Growing a PixelStore leaves the new bytes as they are instead of zeroing them. An image's
// storage changes places with a location's output buffer at each hand-over, and the two
// sizes differ whenever the frame is smaller than the buffer (a region, a format of fewer
// bytes per pixel); zeroing megabytes at every such exchange would cost more than the copy
// the exchange saves. Every byte an image shows is written by the conversion or the copy
// that fills it; where zeros are wanted, resize(n, 0) or assign(n, 0) says so.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace mirva {

template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    // Default construction leaves a trivial element as the memory holds it.
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using PixelStore = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

} // namespace mirva
