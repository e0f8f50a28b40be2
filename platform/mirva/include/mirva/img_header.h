// Image headers handed from a camera location to image output and data consumers.
// Every field is 32 bits wide; the layout is shared with data-acquisition consumers.
#pragma once

#include <cstdint>

struct zenta_image_ext_frame_head {
    int32_t width;
    int32_t height;
    int32_t aoi_width;
    int32_t aoi_height;
    int32_t x_start;
    int32_t y_start;
    int32_t bpp;
    int32_t ebitpp;
    int32_t hbin;
    int32_t vbin;
    int32_t source_format;
    int32_t image_format;
    uint32_t frame;
    uint32_t event;
    float scale_x;
    float scale_y;
    float image_rotation;
    float fspare2;
    float fspare3;
    float fspare4;
    int32_t image_flags;
    int32_t ispare2;
    int32_t ispare3;
    int32_t ispare4;
    int32_t length;
};

struct zenta_image_header {
    int32_t w;
    int32_t h;
    int32_t bpp;
    int32_t compr;
    uint32_t usec;
    uint32_t sec;
    uint32_t frame;
    uint32_t frame_req;
    uint32_t event_nm;
    uint32_t error;
};

struct img_header {
    uint32_t trigger;
    zenta_image_header img_prm;
    zenta_image_ext_frame_head img_ext_prm;
};

static_assert(sizeof(zenta_image_ext_frame_head) == 25 * 4, "consumers rely on 32-bit fields without padding");
static_assert(sizeof(zenta_image_header) == 10 * 4, "consumers rely on 32-bit fields without padding");
