// GET /api/locations/{loc}/image[?format=raw] and /api/locations/{loc}/stream?max_fps=N.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <mirva/bcam_base.h>

#include "png_encode.h"
#include "routes.h"

namespace mirva::camserver {

using nlohmann::json;

namespace {

bcam_base* camera_or_404(HttpApi& api, const std::string& name, httplib::Response& res) {
    EqFct* loc = find_location_or_404(api.camera_server(), name, res);
    if (!loc)
        return nullptr;
    auto* cam = dynamic_cast<bcam_base*>(loc);
    if (!cam)
        reply_error(res, 404, "location " + name + " is not a camera location: no images");
    return cam;
}

std::string timestamp_text(const img_header& h) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%u.%06u", h.img_prm.sec, h.img_prm.usec);
    return buf;
}

json header_json(const DeliveredImage& image) {
    const auto& h = image.header;
    const auto& p = h.img_prm;
    const auto& e = h.img_ext_prm;
    return json{
        {"trigger", h.trigger},
        {"img_prm", {{"w", p.w}, {"h", p.h}, {"bpp", p.bpp}, {"compr", p.compr}, {"usec", p.usec}, {"sec", p.sec},
                     {"frame", p.frame}, {"frame_req", p.frame_req}, {"event_nm", p.event_nm}, {"error", p.error}}},
        {"img_ext_prm", {{"width", e.width}, {"height", e.height}, {"aoi_width", e.aoi_width},
                         {"aoi_height", e.aoi_height}, {"x_start", e.x_start}, {"y_start", e.y_start},
                         {"bpp", e.bpp}, {"ebitpp", e.ebitpp}, {"hbin", e.hbin}, {"vbin", e.vbin},
                         {"source_format", e.source_format}, {"image_format", e.image_format},
                         {"frame", e.frame}, {"event", e.event}, {"scale_x", e.scale_x}, {"scale_y", e.scale_y},
                         {"image_rotation", e.image_rotation}, {"image_flags", e.image_flags},
                         {"length", e.length}}},
        {"sequence", image.sequence},
        {"width", image.width},
        {"height", image.height},
        {"bytes_per_pixel", image.bytes_per_pixel},
    };
}

void set_image_headers(httplib::Response& res, const DeliveredImage& image) {
    const auto& h = image.header;
    const auto& e = h.img_ext_prm;
    res.set_header("X-Frame", std::to_string(h.img_prm.frame));
    res.set_header("X-Timestamp", timestamp_text(h));
    res.set_header("X-Width", std::to_string(image.width));
    res.set_header("X-Height", std::to_string(image.height));
    res.set_header("X-Bytes-Per-Pixel", std::to_string(image.bytes_per_pixel));
    res.set_header("X-Effective-Bits", std::to_string(e.ebitpp));
    res.set_header("X-Source-Format", std::to_string(e.source_format));
    res.set_header("X-Region", std::to_string(e.x_start) + "," + std::to_string(e.y_start) + "," +
                                   std::to_string(e.aoi_width) + "," + std::to_string(e.aoi_height));
    res.set_header("X-Binning", std::to_string(e.hbin) + "," + std::to_string(e.vbin));
    res.set_header("Cache-Control", "no-store");
}

std::string png_of(const DeliveredImage& image) {
    return encode_png(image.width, image.height, image.bytes_per_pixel, image.pixels.data());
}

} // namespace

void install_image_routes(httplib::Server& http, HttpApi& api) {
    http.Get(R"(/api/locations/([^/]+)/image)", [&api](const httplib::Request& req, httplib::Response& res) {
        bcam_base* cam = camera_or_404(api, req.matches[1], res);
        if (!cam)
            return;
        const std::string format = req.has_param("format") ? req.get_param_value("format") : "png";
        if (format != "png" && format != "raw")
            return reply_error(res, 400, "format " + format + " refused: png or raw");
        auto image = cam->latest_image();
        if (!image || image->width <= 0 || image->height <= 0)
            return reply_error(res, 404, std::string("location ") + cam->name() + " has delivered no image yet");
        set_image_headers(res, *image);
        if (format == "raw") {
            res.set_header("X-Image-Header", header_json(*image).dump());
            res.set_content(reinterpret_cast<const char*>(image->pixels.data()), image->pixels.size(),
                            "application/octet-stream");
            return;
        }
        res.set_content(png_of(*image), "image/png");
    });

    http.Get(R"(/api/locations/([^/]+)/stream)", [&api](const httplib::Request& req, httplib::Response& res) {
        bcam_base* cam = camera_or_404(api, req.matches[1], res);
        if (!cam)
            return;
        double fps = 5;
        if (req.has_param("max_fps")) {
            const std::string text = req.get_param_value("max_fps");
            char* end = nullptr;
            fps = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(fps > 0))
                return reply_error(res, 400, "max_fps " + text + " refused: a positive number is needed");
            fps = std::min(fps, 50.0);
        }
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / fps));
        // State of one stream, owned by its content provider (one request thread).
        struct StreamState {
            uint64_t seen = 0;
            std::chrono::steady_clock::time_point next{};
        };
        auto slot = api.take_stream_slot();
        if (!slot)
            return reply_error(res, 503, "too many streams (at most " + std::to_string(HttpApi::max_streams) +
                                             " at a time): close one first");
        auto state = std::make_shared<StreamState>();
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "multipart/x-mixed-replace; boundary=frame",
            [&api, cam, period, state, slot](size_t, httplib::DataSink& sink) {
                // Rate limit first, then wait for an image newer than the last one sent.
                if (!api.wait_until(state->next))
                    return false;
                std::shared_ptr<const DeliveredImage> image;
                while (!image) {
                    if (api.stopping() || !sink.is_writable())
                        return false;
                    image = cam->wait_for_image(state->seen, std::chrono::milliseconds(200));
                }
                state->seen = image->sequence;
                state->next = std::chrono::steady_clock::now() + period;
                if (image->width <= 0 || image->height <= 0)
                    return true;
                const std::string png = png_of(*image);
                const std::string head = "--frame\r\nContent-Type: image/png\r\nContent-Length: " +
                                         std::to_string(png.size()) + "\r\nX-Frame: " +
                                         std::to_string(image->header.img_prm.frame) + "\r\n\r\n";
                return sink.write(head.data(), head.size()) && sink.write(png.data(), png.size()) &&
                       sink.write("\r\n", 2);
            });
    });
}

} // namespace mirva::camserver
