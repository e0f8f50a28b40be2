// Route groups of the HTTP API and the reply helpers they share. Handlers are plain
// functions of (const Request&, Response&) and run on the handler workers.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "http_api.h"
#include "http_message.h"
#include "router.h"

class EqFct;
class bcam_base;

namespace mirva::camserver {

void reply_json(Response& res, const nlohmann::json& body, int status = 200);
// {"error": message}
void reply_error(Response& res, int status, const std::string& message);

// The location named in the path, or null after replying 404.
EqFct* find_location_or_404(server::CameraServer& server, const std::string& name, Response& res);

void install_location_routes(Router& http, HttpApi& api);   // locations and properties
void install_image_routes(Router& http, HttpApi& api);      // image, raw image, stream, live socket
void install_emulator_routes(Router& http);                 // emulated cameras
void install_openapi_route(Router& http);                   // the API's description
void install_static_routes(Router& http, const std::string& web_dir);  // the viewer's files at "/"

// The API's description (OpenAPI 3).
nlohmann::json openapi_json();

} // namespace mirva::camserver
