// GET /api/locations, GET /api/locations/{loc}/properties[?names=A,B][&spectra=1],
// GET and PUT /api/locations/{loc}/properties/{name}.
#include <sstream>

#include <mirva/bcam_base.h>
#include <mirva/eq_fct.h>

#include "address_notation.h"
#include "json_properties.h"
#include "routes.h"
#include "write_check.h"

namespace mirva::camserver {

using nlohmann::json;

namespace {

json location_summary(EqFct& loc) {
    json o{{"name", loc.name()}, {"type", loc.fct_code()}};
    auto put = [&](const char* key, const char* property) {
        json v = nullptr;
        loc.with_property(property, [&](D_fct& p) { v = value_json(p.snapshot().value); });
        o[key] = std::move(v);
    };
    put("online", "ONLINE");
    put("camera_status", "CAMERA.STATUS");
    put("error_code", "ERROR.CODE");
    put("error_text", "ERROR.TEXT");
    put("frame_rate", "FRAME.RATE");
    put("frame_counter", "FRAME.COUNTER");
    auto* cam = dynamic_cast<bcam_base*>(&loc);
    o["fps"] = cam ? json(cam->measured_fps()) : json(nullptr);
    // The camera stream's counts, where the location keeps them.
    json stream = json::object();
    for (const auto& [key, property] : {std::pair{"frames_completed", "STREAM.FRAMES.COMPLETED"},
                                        std::pair{"frames_failed", "STREAM.FRAMES.FAILED"},
                                        std::pair{"underruns", "STREAM.UNDERRUNS"},
                                        std::pair{"missing_packets", "STREAM.PACKETS.MISSING"},
                                        std::pair{"resent_packets", "STREAM.PACKETS.RESENT"}})
        loc.with_property(property, [&](D_fct& p) { stream[key] = value_json(p.snapshot().value); });
    if (!stream.empty())
        o["stream"] = std::move(stream);
    return o;
}

// 404 for a name the location never had, 503 for a feature of its absent camera.
void reply_unknown(Response& res, EqFct& loc, const std::string& name) {
    if (auto absent = absent_feature(loc, name))
        return reply_error(res, absent->status, absent->message);
    reply_error(res, 404, std::string("unknown property ") + name + " of location " + loc.name());
}

std::set<std::string> split_names(const std::string& text) {
    std::set<std::string> names;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            names.insert(item);
    return names;
}

} // namespace

void install_location_routes(Router& http, HttpApi& api) {
    http.Get("/api/locations", [&api](const Request&, Response& res) {
        json list = json::array();
        for (EqFct* loc : api.camera_server().locations())
            list.push_back(location_summary(*loc));
        reply_json(res, json{{"locations", std::move(list)}});
    });

    http.Get(R"(/api/locations/([^/]+)/properties)", [&api](const Request& req, Response& res) {
        EqFct* loc = find_location_or_404(api.camera_server(), req.matches[1], res);
        if (!loc)
            return;
        const std::string spectra = req.get_param_value("spectra");
        if (!spectra.empty() && spectra != "0" && spectra != "1")
            return reply_error(res, 400, "spectra " + spectra + " refused: 0 or 1");
        const bool with_spectra = spectra == "1";
        if (req.has_param("names")) {
            const auto names = split_names(req.get_param_value("names"));
            reply_json(res, location_properties_json(*loc, &names, with_spectra));
        } else {
            reply_json(res, location_properties_json(*loc, nullptr, with_spectra));
        }
    });

    http.Get(R"(/api/locations/([^/]+)/properties/([^/]+))", [&api](const Request& req, Response& res) {
        EqFct* loc = find_location_or_404(api.camera_server(), req.matches[1], res);
        if (!loc)
            return;
        const std::string name = req.matches[2];
        if (auto bad = check_property_name(name))
            return reply_error(res, bad->status, bad->message);
        auto o = property_json(*loc, name);
        if (!o)
            return reply_unknown(res, *loc, name);
        reply_json(res, *o);
    });

    http.Put(R"(/api/locations/([^/]+)/properties/([^/]+))", [&api](const Request& req, Response& res) {
        EqFct* loc = find_location_or_404(api.camera_server(), req.matches[1], res);
        if (!loc)
            return;
        const std::string name = req.matches[2];
        std::string error;
        auto value = client_value_from_body(req.body, &error);
        if (!value)
            return reply_error(res, 400, name + ": " + error);
        // An address feature also takes its address in the usual notation.
        std::string representation;
        loc->with_property(name, [&](D_fct& p) {
            if (const auto& shown = p.snapshot().presentation)
                representation = shown->representation;
        });
        value = address_write(representation, *value, &error);
        if (!value)
            return reply_error(res, 400, name + ": " + error);
        const WriteVerdict verdict = check_write(*loc, name, *value);
        if (!verdict.ok())
            return reply_error(res, verdict.status, verdict.message);
        std::optional<WriteResult> result;
        loc->with_property(name, [&](D_fct& p) { result = p.client_write(*value); });
        if (!result)
            return reply_unknown(res, *loc, name);
        switch (result->code) {
        case WriteResult::ok: break;
        case WriteResult::bad_value: return reply_error(res, 400, result->message);
        case WriteResult::read_only: return reply_error(res, 403, result->message);
        }
        auto o = property_json(*loc, name);
        if (!o) {
            // The camera went away right after the write: the location keeps the value
            // and writes it to the camera when it returns.
            return reply_json(res,
                              json{{"name", name},
                                   {"note", "the camera of location " + std::string(loc->name()) +
                                                " went away as the value was written; it is kept and reaches the "
                                                "camera when the camera returns"}},
                              202);
        }
        if (!verdict.message.empty())
            (*o)["note"] = verdict.message;
        reply_json(res, *o);
    });
}

} // namespace mirva::camserver
