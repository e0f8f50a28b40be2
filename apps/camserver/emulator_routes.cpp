// The emulator's controls: GET /api/emulator/cameras and
// POST /api/emulator/cameras/{serial}/unplug | plug | line/{n}/pulse | stall | fail-next-grab.
#include <optional>

#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "routes.h"

namespace mirva::camserver {

using nlohmann::json;
namespace emu = Pylon::Emulator;

namespace {

std::optional<emu::CameraState> find_camera(const std::string& serial) {
    for (auto& s : emu::Instance().List())
        if (s.config.serialNumber == serial)
            return s;
    return std::nullopt;
}

// The camera of the path, or nothing after replying 404.
std::optional<emu::CameraState> camera_or_404(const std::string& serial, Response& res) {
    auto cam = find_camera(serial);
    if (!cam)
        reply_error(res, 404, "unknown emulated camera " + serial);
    return cam;
}

void reply_ok(Response& res) { reply_json(res, json{{"ok", true}}); }

// The JSON object of a POST body; empty body: {}. Nothing after replying 400.
std::optional<json> body_object(const Request& req, Response& res) {
    if (req.body.empty())
        return json::object();
    json doc = json::parse(req.body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        reply_error(res, 400, "the request body is not a JSON object");
        return std::nullopt;
    }
    return doc;
}

void reply_not_plugged(Response& res, const std::string& serial) {
    reply_error(res, 409, "emulated camera " + serial + " is not plugged in");
}

} // namespace

void install_emulator_routes(Router& http) {
    http.Get("/api/emulator/cameras", [](const Request&, Response& res) {
        json list = json::array();
        for (const auto& s : emu::Instance().List()) {
            list.push_back(json{{"serial", s.config.serialNumber}, {"model", s.config.model},
                                {"model_name", s.modelName}, {"user_name", s.config.userName},
                                {"ip_address", s.config.ipAddress}, {"plugged", s.plugged}, {"open", s.open},
                                {"acquiring", s.acquiring}, {"stalled", s.stalled}, {"frames_sent", s.framesSent}});
        }
        reply_json(res, json{{"cameras", std::move(list)}});
    });

    http.Post(R"(/api/emulator/cameras/([^/]+)/unplug)", [](const Request& req, Response& res) {
        const std::string serial = req.matches[1];
        if (!camera_or_404(serial, res))
            return;
        emu::Instance().Unplug(serial);  // unplugging an unplugged camera changes nothing
        reply_ok(res);
    });

    http.Post(R"(/api/emulator/cameras/([^/]+)/plug)", [](const Request& req, Response& res) {
        const std::string serial = req.matches[1];
        auto cam = camera_or_404(serial, res);
        if (!cam)
            return;
        if (!cam->plugged) {
            try {
                emu::Instance().Plug(cam->config);
            } catch (const GenICam::GenericException& e) {
                if (!emu::Instance().IsPlugged(serial))  // a concurrent plug is no failure
                    return reply_error(res, 500, "plugging emulated camera " + serial + " failed: " + e.GetDescription());
            }
        }
        reply_ok(res);
    });

    http.Post(R"(/api/emulator/cameras/([^/]+)/line/([^/]+)/pulse)", [](const Request& req, Response& res) {
        const std::string serial = req.matches[1];
        const std::string line = req.matches[2];
        if (!camera_or_404(serial, res))
            return;
        if (line.size() != 1 || line[0] < '1' || line[0] > '4')
            return reply_error(res, 400, "line " + line + " refused: lines 1 to 4");
        if (!emu::Instance().PulseLine(serial, line[0] - '0'))
            return reply_not_plugged(res, serial);
        reply_ok(res);
    });

    http.Post(R"(/api/emulator/cameras/([^/]+)/stall)", [](const Request& req, Response& res) {
        const std::string serial = req.matches[1];
        if (!camera_or_404(serial, res))
            return;
        auto body = body_object(req, res);
        if (!body)
            return;
        bool stalled = true;
        if (body->contains("stalled")) {
            if (!(*body)["stalled"].is_boolean())
                return reply_error(res, 400, "stalled " + (*body)["stalled"].dump() + " refused: true or false");
            stalled = (*body)["stalled"].get<bool>();
        }
        if (!emu::Instance().Stall(serial, stalled))
            return reply_not_plugged(res, serial);
        reply_ok(res);
    });

    http.Post(R"(/api/emulator/cameras/([^/]+)/fail-next-grab)", [](const Request& req, Response& res) {
        const std::string serial = req.matches[1];
        if (!camera_or_404(serial, res))
            return;
        auto body = body_object(req, res);
        if (!body)
            return;
        uint32_t code = 0xDEADBEEF;
        std::string text = "emulated grab failure";
        if (body->contains("code")) {
            const json& c = (*body)["code"];
            if (!c.is_number_unsigned() || c.get<uint64_t>() > 0xFFFFFFFFu)
                return reply_error(res, 400, "code " + c.dump() + " refused: an unsigned 32-bit number is needed");
            code = static_cast<uint32_t>(c.get<uint64_t>());
        }
        if (body->contains("text")) {
            const json& t = (*body)["text"];
            if (!t.is_string())
                return reply_error(res, 400, "text " + t.dump().substr(0, 80) + " refused: a text is needed");
            text = t.get<std::string>();
        }
        if (!emu::Instance().FailNextGrab(serial, code, text))
            return reply_not_plugged(res, serial);
        reply_ok(res);
    });
}

} // namespace mirva::camserver
