// Holds one of a location's pthread mutexes (cbk_mx, clup_mx) for a scope: every exit
// path, exceptions included, releases it exactly once; unlock() may release it earlier.
#pragma once

#include <pthread.h>

class PthreadLock {
public:
    explicit PthreadLock(pthread_mutex_t& mx) : mx_(mx) { pthread_mutex_lock(&mx_); }
    ~PthreadLock() { unlock(); }
    PthreadLock(const PthreadLock&) = delete;
    PthreadLock& operator=(const PthreadLock&) = delete;

    void unlock()
    {
        if (held_) {
            held_ = false;
            pthread_mutex_unlock(&mx_);
        }
    }

private:
    pthread_mutex_t& mx_;
    bool held_ = true;
};
