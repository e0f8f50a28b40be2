// GET /api/locations/{loc}/image, /stream (multipart PNG or JPEG) and /live (WebSocket).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <mirva/bcam_base.h>

#include "connection_handover.h"
#include "live_session.h"
#include "mjpeg_stream.h"
#include "routes.h"
#include "stream_slot.h"

namespace mirva::camserver {

using nlohmann::json;

namespace {

// One part per 1000 s at the slowest.
constexpr double min_stream_fps = 0.001;

bcam_base* camera_or_404(HttpApi& api, const std::string& name, Response& res) {
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

void set_image_headers(Response& res, const DeliveredImage& image) {
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

// Format, quality and scale of the query; nothing after replying 400.
std::optional<FrameFormat> format_or_400(const Request& req, const char* fallback, bool allow_png, Response& res) {
    std::string error;
    auto f = frame_format_from(req.has_param("format") ? req.get_param_value("format") : fallback,
                               req.get_param_value("quality"), req.get_param_value("scale"), allow_png, &error);
    if (!f)
        reply_error(res, 400, error);
    return f;
}

bool wants_websocket(const Request& req) {
    std::string upgrade = req.get_header_value("Upgrade");
    for (char& c : upgrade)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return upgrade.find("websocket") != std::string::npos;
}

std::shared_ptr<StreamSlot> stream_slot_or_503(HttpApi& api, Response& res) {
    auto slot = StreamSlot::take(api.connections(), api.max_streams());
    if (!slot)
        reply_error(res, 503, "too many streams and live sockets (at most " + std::to_string(api.max_streams()) +
                                  " at a time, [http] max_streams): close one first");
    return slot;
}

} // namespace

void install_image_routes(Router& http, HttpApi& api) {
    http.Get(R"(/api/locations/([^/]+)/image)", [&api](const Request& req, Response& res) {
        bcam_base* cam = camera_or_404(api, req.matches[1], res);
        if (!cam)
            return;
        auto format = format_or_400(req, "png", true, res);
        if (!format)
            return;
        auto image = cam->latest_image();
        if (!image || image->width <= 0 || image->height <= 0)
            return reply_error(res, 404, std::string("location ") + cam->name() + " has delivered no image yet");
        auto frame = api.encode_cache().get(cam->name(), image, *format);
        set_image_headers(res, *image);
        res.set_header("X-Sequence", std::to_string(image->sequence));
        switch (format->encoding) {
        case Encoding::raw:
            res.set_header("X-Image-Header", header_json(*image).dump());
            if (frame->width != image->width || frame->height != image->height)
                res.set_header("X-Scaled-Size", std::to_string(frame->width) + "x" + std::to_string(frame->height));
            return res.set_content(reinterpret_cast<const char*>(frame->data()), frame->size(), "application/octet-stream");
        case Encoding::jpeg: return res.set_content(frame->bytes, "image/jpeg");
        case Encoding::png: return res.set_content(frame->bytes, "image/png");
        }
    });

    http.Get(R"(/api/locations/([^/]+)/stream)", [&api](const Request& req, Response& res) {
        bcam_base* cam = camera_or_404(api, req.matches[1], res);
        if (!cam)
            return;
        double fps = 5;
        if (req.has_param("max_fps")) {
            const std::string text = req.get_param_value("max_fps");
            char* end = nullptr;
            fps = std::strtod(text.c_str(), &end);
            // Far below the minimum the period between parts overflows the clock (1e-300: 1e300 s).
            if (text.empty() || *end != '\0' || !(fps >= min_stream_fps))
                return reply_error(res, 400, "max_fps " + text + " refused: a number from 0.001 to 50 is needed "
                                                                 "(more counts as 50)");
            fps = std::min(fps, 50.0);
        }
        auto format = format_or_400(req, "png", true, res);
        if (!format)
            return;
        if (format->encoding == Encoding::raw)
            return reply_error(res, 400, "format raw refused for a stream: png or jpeg");
        if (req.method == "HEAD") {  // the head the stream would start with, and no parts
            res.set_header("Cache-Control", "no-store");
            return res.set_content("", "multipart/x-mixed-replace; boundary=frame");
        }
        auto slot = stream_slot_or_503(api, res);
        if (!slot)
            return;
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / fps));
        res.takeover = [&api, cam, format = *format, period, slot](ConnectionHandover& handover) {
            std::make_shared<MjpegStream>(std::move(handover.stream), api, *cam, format, period, slot)->start();
        };
    });

    http.Get(R"(/api/locations/([^/]+)/live)", [&api](const Request& req, Response& res) {
        if (req.method == "HEAD" || !wants_websocket(req))
            return reply_error(res, 426, "GET " + req.matches[0] + " upgrades to a WebSocket (Upgrade: websocket)");
        auto format = format_or_400(req, "jpeg", false, res);
        if (!format)
            return;
        auto slot = stream_slot_or_503(api, res);
        if (!slot)
            return;
        const std::string name = req.matches[1];
        std::string refusal;
        EqFct* loc = api.camera_server().find_location(name);
        auto* cam = dynamic_cast<bcam_base*>(loc);
        if (!loc)
            refusal = "unknown location " + name;
        else if (!cam)
            refusal = "location " + name + " is not a camera location: no images";
        res.takeover = [&api, cam, name, refusal, format = *format, slot](ConnectionHandover& handover) {
            std::make_shared<LiveSession>(std::move(handover.stream), api, cam, name, refusal, format, slot)
                ->start(std::move(handover.request));
        };
    });
}

} // namespace mirva::camserver
