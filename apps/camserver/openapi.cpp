// GET /api/openapi.json: the API described for tools (OpenAPI 3.0); API.md is the full contract.
#include "routes.h"

namespace mirva::camserver {

using nlohmann::json;

namespace {

json error_answer(const char* why) {
    return json{{"description", why},
                {"content", {{"application/json", {{"schema", {{"$ref", "#/components/schemas/Error"}}}}}}}};
}

json json_answer(const char* what, json schema = json{{"type", "object"}}) {
    return json{{"description", what}, {"content", {{"application/json", {{"schema", std::move(schema)}}}}}};
}

json path_param(const char* name, const char* what) {
    return json{{"name", name}, {"in", "path"}, {"required", true}, {"description", what}, {"schema", {{"type", "string"}}}};
}

json query_param(const char* name, const char* what, json schema) {
    return json{{"name", name}, {"in", "query"}, {"required", false}, {"description", what}, {"schema", std::move(schema)}};
}

json image_params(bool with_png, bool with_raw, const char* fallback) {
    json formats = json::array();
    if (with_png) formats.push_back("png");
    formats.push_back("jpeg");
    if (with_raw) formats.push_back("raw");
    return json::array({path_param("loc", "Location"),
                        query_param("format", "Encoding of the image", {{"type", "string"}, {"enum", formats}, {"default", fallback}}),
                        query_param("quality", "JPEG quality", {{"type", "integer"}, {"minimum", 1}, {"maximum", 100}, {"default", 80}}),
                        query_param("scale", "Size of the sent image relative to the delivered one",
                                    {{"type", "number"}, {"minimum", 0.1}, {"maximum", 1}, {"default", 1}})});
}

json emulator_action(const char* summary, json body = nullptr) {
    json op{{"summary", summary},
            {"parameters", json::array({path_param("serial", "Serial number of the emulated camera")})},
            {"responses", {{"200", json_answer("Done: {\"ok\": true}")},
                           {"400", error_answer("Bad body or parameter")},
                           {"404", error_answer("Unknown emulated camera")},
                           {"409", error_answer("The camera is not plugged in")}}}};
    if (!body.is_null())
        op["requestBody"] = json{{"required", false}, {"content", {{"application/json", {{"schema", std::move(body)}}}}}};
    return json{{"post", std::move(op)}};
}

// A property, or a camera feature with its folded fields; the members of a feature's whole value.
json feature_schema() {
    auto described = [](const char* type, const char* what) { return json{{"type", type}, {"description", what}}; };
    return json{
        {"type", "object"},
        {"required", {"name", "value"}},
        {"properties",
         {{"name", {{"type", "string"}}},
          {"value", {{"description", "The value (an integer feature's saturated to 32 bits)"}}},
          {"pending", {{"description", "The value a client wrote until the camera takes it"}}},
          {"min", {{"type", "number"}}},
          {"max", {{"type", "number"}}},
          {"representation", {{"type", "string"},
                              {"enum", {"Linear", "Logarithmic", "Boolean", "PureNumber", "HexNumber", "IPV4Address",
                                        "MACAddress"}}}},
          {"value64", described("integer", "An integer feature whose limits reach past 32 bits: the node's whole value; "
                                           "min and max are then the node's whole limits")},
          {"pending64", described("integer", "The whole value a client wrote until the camera takes it, else value64")},
          {"value_text", described("string", "An IPV4Address or MACAddress feature's value in the usual notation")}}},
        {"additionalProperties", true}};
}

} // namespace

json openapi_json() {
    const json loc = path_param("loc", "Location");
    const json name = path_param("name", "Property or feature name");
    json paths;
    paths["/api/locations"]["get"] = {
        {"summary", "Locations with their state and measured frames per second"},
        {"responses", {{"200", json_answer("{\"locations\": [...]}")}}}};
    paths["/api/locations/{loc}/properties"]["get"] = {
        {"summary", "Properties and camera features of a location (spectra as their point count unless spectra=1)"},
        {"parameters", json::array({loc, query_param("names", "Comma-separated names to keep", {{"type", "string"}}),
                                    query_param("spectra", "1: spectra with their points", {{"type", "integer"}, {"enum", {0, 1}}})})},
        {"responses", {{"200", json_answer("{\"location\", \"properties\": [...], \"features\": [...]}")},
                       {"404", error_answer("Unknown location")}}}};
    paths["/api/locations/{loc}/properties/{name}"]["get"] = {
        {"summary", "One property (a feature's main property carries the feature's fields)"},
        {"parameters", json::array({loc, name})},
        {"responses", {{"200", json_answer("The property", {{"$ref", "#/components/schemas/Feature"}})},
                       {"404", error_answer("Unknown location or property")},
                       {"503", error_answer("A feature of the location's absent camera")}}}};
    const json written_value{
        {"description", "A number, text or boolean. A feature with value64 takes its whole value (a JSON integer, "
                        "or its digits as text); an IPV4Address or MACAddress feature also its address in the "
                        "usual notation (\"192.168.1.5\", \"00:30:53:12:34:56\")"}};
    paths["/api/locations/{loc}/properties/{name}"]["put"] = {
        {"summary", "Write a property"},
        {"parameters", json::array({loc, name})},
        {"requestBody", {{"required", true},
                         {"content", {{"application/json", {{"schema", {{"type", "object"}, {"required", {"value"}},
                                                                         {"properties", {{"value", written_value}}}}}}}}}}},
        {"responses", {{"200", json_answer("The property after the write (with \"note\" when a value was clamped)")},
                       {"400", error_answer("Bad value")},
                       {"401", error_answer("Token needed")},
                       {"403", error_answer("Read-only property")},
                       {"404", error_answer("Unknown location or property")},
                       {"413", error_answer("Body over 64 KiB")},
                       {"503", error_answer("A feature of the location's absent camera")}}}};
    paths["/api/locations/{loc}/image"]["get"] = {
        {"summary", "The latest image as PNG, JPEG or raw pixels, with X-Frame, X-Timestamp, X-Width, ... headers"},
        {"parameters", image_params(true, true, "png")},
        {"responses", {{"200", {{"description", "The image"},
                                {"content", {{"image/png", json::object()}, {"image/jpeg", json::object()},
                                             {"application/octet-stream", json::object()}}}}},
                       {"400", error_answer("Bad format, quality or scale")},
                       {"404", error_answer("Unknown location or no image yet")}}}};
    json stream_params = image_params(true, false, "png");
    stream_params.push_back(query_param("max_fps", "Parts per second at most", {{"type", "number"}, {"default", 5}, {"minimum", 0.001}, {"maximum", 50}}));
    paths["/api/locations/{loc}/stream"]["get"] = {
        {"summary", "multipart/x-mixed-replace stream: one PNG or JPEG part per new image (X-Frame, X-Timestamp)"},
        {"parameters", std::move(stream_params)},
        {"responses", {{"200", {{"description", "The stream"}, {"content", {{"multipart/x-mixed-replace", json::object()}}}}},
                       {"400", error_answer("Bad parameter")},
                       {"404", error_answer("Unknown location")},
                       {"503", error_answer("All stream slots taken")}}}};
    paths["/api/locations/{loc}/live"]["get"] = {
        {"summary", "WebSocket: one binary message per new image (128-byte header, then JPEG or raw pixels)"},
        {"parameters", image_params(false, true, "jpeg")},
        {"responses", {{"101", {{"description", "Switching to the WebSocket"}}},
                       {"400", error_answer("Bad parameter")},
                       {"426", error_answer("Not a WebSocket upgrade")},
                       {"503", error_answer("All stream slots taken")}}}};
    paths["/api/emulator/cameras"]["get"] = {{"summary", "The emulated cameras"},
                                             {"responses", {{"200", json_answer("{\"cameras\": [...]}")}}}};
    paths["/api/emulator/cameras/{serial}/unplug"] = emulator_action("Unplug the camera");
    paths["/api/emulator/cameras/{serial}/plug"] = emulator_action("Plug the camera back in");
    paths["/api/emulator/cameras/{serial}/stall"] =
        emulator_action("Stall (or resume) the camera's frames", {{"type", "object"}, {"properties", {{"stalled", {{"type", "boolean"}}}}}});
    paths["/api/emulator/cameras/{serial}/fail-next-grab"] = emulator_action(
        "Fail the next grab", {{"type", "object"},
                               {"properties", {{"code", {{"type", "integer"}, {"minimum", 0}, {"maximum", 4294967295LL}}},
                                               {"text", {{"type", "string"}}}}}});
    json pulse = emulator_action("Pulse an input line");
    pulse["post"]["parameters"].push_back(json{{"name", "n"}, {"in", "path"}, {"required", true},
                                               {"schema", {{"type", "integer"}, {"minimum", 1}, {"maximum", 4}}}});
    paths["/api/emulator/cameras/{serial}/line/{n}/pulse"] = std::move(pulse);
    paths["/api/openapi.json"]["get"] = {{"summary", "This description"},
                                         {"responses", {{"200", json_answer("OpenAPI 3.0 document")}}}};
    return json{
        {"openapi", "3.0.3"},
        {"info", {{"title", "MIRVA camera server"}, {"version", "1"},
                  {"description", "Camera locations, their properties and images. Errors are {\"error\": \"...\"}; "
                                  "405 carries an Allow header. With a token, PUT and POST need Authorization: Bearer."}}},
        {"paths", std::move(paths)},
        {"components", {{"schemas", {{"Error", {{"type", "object"}, {"required", {"error"}},
                                                {"properties", {{"error", {{"type", "string"}}}}}}},
                                     {"Feature", feature_schema()}}},
                        {"securitySchemes", {{"bearer", {{"type", "http"}, {"scheme", "bearer"}}}}}}}};
}

void install_openapi_route(Router& http) {
    http.Get("/api/openapi\\.json", [](const Request&, Response& res) { reply_json(res, openapi_json()); });
}

} // namespace mirva::camserver
