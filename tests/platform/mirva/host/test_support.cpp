#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <mirva/d_cam_param.h>

// The camera back-end supplies these setters; the host tests use the same rule:
// store the value, then clear the changed flag once the value equals the pending value.
void D_cam_param_int::set_value(int v) {
    mirva::D_value<int>::set_value(v);
    if (value() == new_value()) set_changed(false);
}

void D_cam_param_float::set_value(float v) {
    mirva::D_value<float>::set_value(v);
    if (value() == new_value()) set_changed(false);
}

namespace mirva::test {

bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "mirva_host_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace mirva::test
