// The web viewer's files, GET at "/" (index.html) and below, outside /api/.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "routes.h"

namespace mirva::camserver {

namespace {

std::string content_type_of(const std::filesystem::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
    if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".json" || ext == ".map") return "application/json";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".png") return "image/png";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".ico") return "image/x-icon";
    if (ext == ".wasm") return "application/wasm";
    if (ext == ".txt") return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

} // namespace

void install_static_routes(Router& http, const std::string& web_dir) {
    const std::filesystem::path root = std::filesystem::weakly_canonical(web_dir);
    http.Get(R"(/(?!api/)(.*))", [root](const Request& req, Response& res) {
        std::string relative = req.matches[1];
        if (relative.empty() || relative.back() == '/')
            relative += "index.html";
        const std::filesystem::path wanted(relative);
        if (wanted.has_root_path())
            return reply_error(res, 404, "no such resource: " + req.matches[0]);
        for (const auto& part : wanted) {
            if (part == ".." || part.string().find('\0') != std::string::npos)
                return reply_error(res, 404, "no such resource: " + req.matches[0]);
        }
        std::error_code ec;
        std::filesystem::path file = root / wanted;
        if (std::filesystem::is_directory(file, ec))
            file /= "index.html";
        if (!std::filesystem::is_regular_file(file, ec))
            return reply_error(res, 404, "no such resource: " + req.matches[0]);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (!in && !in.eof())
            return reply_error(res, 500, "cannot read " + req.matches[0]);
        res.set_header("Cache-Control", "no-cache");
        res.set_content(content.str(), content_type_of(file));
    });
}

} // namespace mirva::camserver
