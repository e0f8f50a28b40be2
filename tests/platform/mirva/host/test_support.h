// Helpers shared by the host tests: small locations and condition waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <mirva/bcam_base.h>
#include <mirva/eq_fct.h>

namespace mirva::test {

// The pixel bytes of an image, comparable with the bytes a test handed over.
inline std::vector<uint8_t> bytes_of(const mirva::PixelStore& pixels) { return {pixels.begin(), pixels.end()}; }

// Waits until pred holds, re-checking every millisecond; false on timeout.
bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5));

class PlainLocation : public EqFct {
public:
    int fct_code() override { return 1; }
};

// A camera location whose back-end part only counts what the host calls.
class FakeCamera : public bcam_base {
public:
    int fct_code() override { return 812; }
    int camera_set_image_header(zenta_image_ext_frame_head* head) override {
        if (!head) return 1;
        head->source_format = 17;
        head->image_format = 0;
        return 0;
    }
    // Recovery: succeeds on the attempt numbered succeed_on (0: never).
    void online() override {
        std::lock_guard lk(mx);
        ++online_calls;
        if (succeed_on > 0 && online_calls >= succeed_on) setup_done.store(true);
        cond.notify_all();
    }
    std::mutex mx;
    std::condition_variable cond;
    int online_calls = 0;  // guarded by mx
    int succeed_on = 0;    // guarded by mx
};

// A temporary directory removed with its files at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
private:
    std::string path_;
};

} // namespace mirva::test
