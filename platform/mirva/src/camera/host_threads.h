// The host's threads around a camera location: image output, TCP frame sender, recovery.
// Each object owns one std::thread, started by its constructor and stopped and joined by
// stop() or the destructor; every wait inside has a timeout or wakes on the stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class bcam_base;

namespace mirva {

class ImagePool;

// Takes each image the camera thread hands over (out_mx, out_cond, new_image, out_free)
// and publishes it as the location's latest image.
class ImageOutput {
public:
    explicit ImageOutput(bcam_base& cam);
    ~ImageOutput();
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;
    void stop();

private:
    void run();
    bcam_base& cam_;
    std::shared_ptr<ImagePool> pool_;  // output thread takes; images return from any thread
    std::atomic<bool> stop_{false};  // stopper thread sets, output thread reads
    std::thread thread_;
};

// Serves the raw frame stream (img_header, then the pixels) to every subscriber connected
// to 127.0.0.1 on the port of the location's "TCP.PORT" property (0: not listening).
class TcpFrameSender {
public:
    explicit TcpFrameSender(bcam_base& cam);
    ~TcpFrameSender();
    TcpFrameSender(const TcpFrameSender&) = delete;
    TcpFrameSender& operator=(const TcpFrameSender&) = delete;
    void stop();
    pthread_t native_handle() { return thread_.native_handle(); }
    int listen_port() const { return listen_port_.load(); }
    bool running() const { return running_.load(); }

private:
    void run();
    void open_listener(int port);
    void close_all();
    void accept_new();
    void drop_hung_up();
    void send_image(const struct DeliveredImage& image);

    bcam_base& cam_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{true};
    std::atomic<int> listen_port_{0};
    int wanted_port_ = 0;       // sender thread only
    int listen_fd_ = -1;        // sender thread only
    std::vector<int> clients_;  // sender thread only
    std::thread thread_;
};

// Calls the location's online() under its lifecycle mutex until it is set up again,
// one attempt per period.
class RecoveryThread {
public:
    RecoveryThread(bcam_base& cam, std::chrono::milliseconds period);
    ~RecoveryThread();
    RecoveryThread(const RecoveryThread&) = delete;
    RecoveryThread& operator=(const RecoveryThread&) = delete;
    void stop();
    bool running() const { return running_.load(); }

private:
    void run();
    bool attempt();  // true when done (set up or stopped)
    bcam_base& cam_;
    std::chrono::milliseconds period_;
    std::mutex mx_;                  // guards stop_ for the waits
    std::condition_variable cond_;   // wakes the waits on a stop request
    bool stop_ = false;              // guarded by mx_
    std::atomic<bool> running_{true};
    std::thread thread_;
};

// Bytes per pixel of delivered images for an effective bit depth.
int bytes_for_bits(int bits);

} // namespace mirva
