#include "connection_registry.h"

#include <vector>

namespace mirva::camserver {

void ConnectionRegistry::add(const std::shared_ptr<Connection>& connection) {
    bool stop_it = false;
    {
        std::lock_guard lk(mx_);
        open_[connection.get()] = connection;
        stop_it = stopping_;
    }
    if (stop_it)
        connection->stop();
}

void ConnectionRegistry::remove(const Connection* connection) {
    std::lock_guard lk(mx_);
    open_.erase(connection);
    if (open_.empty())
        empty_cv_.notify_all();
}

size_t ConnectionRegistry::size() const {
    std::lock_guard lk(mx_);
    return open_.size();
}

bool ConnectionRegistry::take_stream(size_t max) {
    std::lock_guard lk(mx_);
    if (streams_ >= max || stopping_)
        return false;
    ++streams_;
    return true;
}

void ConnectionRegistry::release_stream() {
    std::lock_guard lk(mx_);
    if (streams_ > 0)
        --streams_;
}

size_t ConnectionRegistry::streams() const {
    std::lock_guard lk(mx_);
    return streams_;
}

void ConnectionRegistry::stop_all() {
    std::vector<std::shared_ptr<Connection>> alive;
    {
        std::lock_guard lk(mx_);
        stopping_ = true;
        for (auto& [key, weak] : open_)
            if (auto c = weak.lock())
                alive.push_back(std::move(c));
    }
    for (auto& c : alive)
        c->stop();
}

bool ConnectionRegistry::wait_empty(std::chrono::milliseconds timeout) {
    std::unique_lock lk(mx_);
    return empty_cv_.wait_for(lk, timeout, [this] { return open_.empty(); });
}

bool ConnectionRegistry::stopping() const {
    std::lock_guard lk(mx_);
    return stopping_;
}

} // namespace mirva::camserver
