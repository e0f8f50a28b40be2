// Route groups of the HTTP API and the reply helpers they share.
#pragma once

#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "http_api.h"

class EqFct;
class bcam_base;

namespace mirva::camserver {

void reply_json(httplib::Response& res, const nlohmann::json& body, int status = 200);
// {"error": message}
void reply_error(httplib::Response& res, int status, const std::string& message);

// The location named in the path, or null after replying 404.
EqFct* find_location_or_404(server::CameraServer& server, const std::string& name, httplib::Response& res);

void install_location_routes(httplib::Server& http, HttpApi& api);   // locations and properties
void install_image_routes(httplib::Server& http, HttpApi& api);      // image, raw image, stream
void install_emulator_routes(httplib::Server& http);                 // emulated cameras

} // namespace mirva::camserver
