// The open connections of the HTTP server: their number (bounded at accept), the number
// of them that are streams or live sockets (bounded by memory), and the way to stop
// them all at shutdown.
//
// Threads: any; a short lock (mx_) guards the table. Connections add themselves when they
// start and remove themselves when they end (their destructor, on their strand).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace mirva::camserver {

// A connection the server can ask to end.
class Connection {
public:
    virtual ~Connection() = default;
    // Any thread: the connection ends soon (after the reply it is writing, if any) on its own strand.
    virtual void stop() = 0;
};

class ConnectionRegistry {
public:
    void add(const std::shared_ptr<Connection>& connection);
    void remove(const Connection* connection);
    size_t size() const;

    // A stream slot: false when max are taken. release_stream() gives it back.
    bool take_stream(size_t max);
    void release_stream();
    size_t streams() const;

    // Asks every connection to stop, and refuses those that add themselves from now on.
    void stop_all();
    // Waits until no connection is left or the timeout passes; true when none is left.
    bool wait_empty(std::chrono::milliseconds timeout);
    bool stopping() const;

private:
    mutable std::mutex mx_;
    std::condition_variable empty_cv_;                              // signalled when the table empties
    std::map<const Connection*, std::weak_ptr<Connection>> open_;   // guarded by mx_
    size_t streams_ = 0;                                            // guarded by mx_
    bool stopping_ = false;                                         // guarded by mx_
};

} // namespace mirva::camserver
