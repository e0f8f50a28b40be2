// The emulator's controls: GET /api/emulator/cameras and
// POST /api/emulator/cameras/{serial}/unplug | plug | line/{n}/pulse | stall | fail-next-grab | beam.
#include <algorithm>
#include <iterator>
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

json beam_json(const emu::CameraState& s) {
    const emu::BeamSettings& b = s.config.beam;
    return json{{"pattern", emu::PatternName(s.config.pattern)}, {"x", b.x}, {"y", b.y}, {"sigma_x", b.sigmaX},
                {"sigma_y", b.sigmaY}, {"intensity", b.intensity}, {"background", b.background}, {"noise", b.noise}};
}

// Outcome of a handler: status and JSON body (an error's body is {"error": text}).
struct Reply {
    int status = 200;
    json body;
};

Reply error_reply(int status, const std::string& message) { return {status, json{{"error", message}}}; }

// POST /api/emulator/cameras/{serial}/beam with {"x","y","sigma_x","sigma_y","intensity",
// "background","noise","pattern"}, every member optional: the fields given change, the others
// stay. The beam is checked whole before anything changes.
Reply set_beam(const std::string& serial, const std::string& body_text) {
    auto camera = find_camera(serial);
    if (!camera)
        return error_reply(404, "unknown emulated camera " + serial);
    if (!camera->plugged)
        return error_reply(409, "emulated camera " + serial + " is not plugged in");
    json body = body_text.empty() ? json::object() : json::parse(body_text, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return error_reply(400, "the request body is not a JSON object");
    emu::BeamSettings beam = camera->config.beam;
    emu::EPattern pattern = camera->config.pattern;
    const std::pair<const char*, double*> numbers[] = {{"x", &beam.x},
                                                       {"y", &beam.y},
                                                       {"sigma_x", &beam.sigmaX},
                                                       {"sigma_y", &beam.sigmaY},
                                                       {"intensity", &beam.intensity},
                                                       {"background", &beam.background}};
    for (const auto& [key, value] : body.items()) {
        const auto number = std::find_if(std::begin(numbers), std::end(numbers),
                                         [&](const auto& n) { return key == n.first; });
        if (number != std::end(numbers)) {
            if (!value.is_number())
                return error_reply(400, key + " " + value.dump().substr(0, 80) + " refused: a number is needed");
            *number->second = value.get<double>();
        } else if (key == "noise") {
            if (!value.is_boolean())
                return error_reply(400, "noise " + value.dump().substr(0, 80) + " refused: true or false");
            beam.noise = value.get<bool>();
        } else if (key == "pattern") {
            const auto named = value.is_string() ? emu::PatternFromName(value.get<std::string>()) : std::nullopt;
            if (!named)
                return error_reply(400, "pattern " + value.dump().substr(0, 80) + " refused: \"beam\" or \"counter\"");
            pattern = *named;
        } else {
            return error_reply(400, "unknown member " + key.substr(0, 80) +
                                        " (x, y, sigma_x, sigma_y, intensity, background, noise, pattern)");
        }
    }
    // A negative position or width would ask for the defaults: refused here, where a client asked.
    for (const auto& [key, value] : numbers)
        if (body.contains(key) && *value < 0)
            return error_reply(400, std::string(key) + " " + body[key].dump() + " refused: it must not be negative");
    try {
        if (!emu::Instance().SetBeam(serial, beam) || !emu::Instance().SetPattern(serial, pattern))
            return error_reply(409, "emulated camera " + serial + " is not plugged in");
    } catch (const GenICam::GenericException& e) {
        return error_reply(400, e.GetDescription());
    }
    camera = find_camera(serial);
    if (!camera)
        return error_reply(409, "emulated camera " + serial + " is not plugged in");
    return {200, json{{"ok", true}, {"beam", beam_json(*camera)}}};
}

} // namespace

void install_emulator_routes(Router& http) {
    http.Get("/api/emulator/cameras", [](const Request&, Response& res) {
        json list = json::array();
        for (const auto& s : emu::Instance().List()) {
            list.push_back(json{{"serial", s.config.serialNumber}, {"model", s.config.model},
                                {"model_name", s.modelName}, {"user_name", s.config.userName},
                                {"ip_address", s.config.ipAddress}, {"mac_address", s.config.macAddress}, {"plugged", s.plugged}, {"open", s.open},
                                {"acquiring", s.acquiring}, {"stalled", s.stalled}, {"frames_sent", s.framesSent},
                                {"beam", beam_json(s)}});
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

    http.Post(R"(/api/emulator/cameras/([^/]+)/beam)", [](const Request& req, Response& res) {
        const Reply reply = set_beam(req.matches[1], req.body);
        if (reply.status != 200)
            return reply_error(res, reply.status, reply.body["error"].get<std::string>());
        reply_json(res, reply.body);
    });
}

} // namespace mirva::camserver
