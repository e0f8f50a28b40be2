// TCP frame sender: the raw frame stream of a location for subscribers on the loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <mirva/bcam_base.h>
#include <mirva/server.h>

#include "camera/host_threads.h"

namespace mirva {

namespace {
constexpr auto kWait = std::chrono::milliseconds(50);  // longest wait between two stop checks

// Sends all bytes or fails; the socket's send timeout bounds each call.
bool send_all(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
} // namespace

TcpFrameSender::TcpFrameSender(bcam_base& cam) : cam_(cam) { thread_ = std::thread([this] { run(); }); }

TcpFrameSender::~TcpFrameSender() { stop(); }

void TcpFrameSender::stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

void TcpFrameSender::close_all() {
    for (int fd : clients_) ::close(fd);
    clients_.clear();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    listen_port_.store(0);
}

void TcpFrameSender::open_listener(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        printftostderr(cam_.name(), "TCP sender: socket() failed: %s", std::strerror(errno));
        return;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(fd, 8) < 0) {
        printftostderr(cam_.name(), "TCP sender: cannot listen on 127.0.0.1:%d: %s", port, std::strerror(errno));
        ::close(fd);
        return;
    }
    listen_fd_ = fd;
    listen_port_.store(port);
}

void TcpFrameSender::accept_new() {
    for (;;) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        timeval tv{0, 500000};  // a subscriber that stops reading is dropped, not waited for
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        clients_.push_back(fd);
    }
}

void TcpFrameSender::drop_hung_up() {
    for (size_t i = 0; i < clients_.size();) {
        pollfd p{clients_[i], POLLIN, 0};
        bool gone = false;
        if (::poll(&p, 1, 0) > 0) {
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                gone = true;
            } else if (p.revents & POLLIN) {
                char junk[256];
                ssize_t n = ::recv(clients_[i], junk, sizeof junk, MSG_DONTWAIT);
                gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            }
        }
        if (gone) {
            ::close(clients_[i]);
            clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void TcpFrameSender::send_image(const DeliveredImage& image) {
    for (size_t i = 0; i < clients_.size();) {
        int fd = clients_[i];
        if (send_all(fd, &image.header, sizeof image.header) &&
            send_all(fd, image.pixels.data(), image.pixels.size())) {
            ++i;
            continue;
        }
        ::close(fd);
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void TcpFrameSender::run() {
    uint64_t seen = cam_.delivered_images();  // only images delivered from now on
    while (!stop_.load() && !cam_.tcp_thread_stop.load()) {
        int port = cam_.tcp_port_.value();
        if (port < 0 || port > 65535) port = 0;
        if (port != wanted_port_) {
            close_all();
            wanted_port_ = port;
            if (port > 0) open_listener(port);
        }
        if (listen_fd_ >= 0) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) accept_new();
        }
        drop_hung_up();
        // Doubles as the pause of this loop.
        auto image = cam_.wait_for_image(seen, kWait);
        if (!image) continue;
        seen = image->sequence;
        if (!clients_.empty()) send_image(*image);
    }
    close_all();
    running_.store(false);
}

} // namespace mirva
