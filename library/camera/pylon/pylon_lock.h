// Holds one of a location's pthread mutexes (cbk_mx, clup_mx) for a scope: every exit
// path, exceptions included, releases it exactly once; unlock() may release it earlier.
#pragma once

#include <pthread.h>

#include <string>

#include <mirva/eq_fct.h>

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

// Runs fn while the location's property registry is locked: client reads and writes wait
// until it returns (EqFct::with_property holds that lock while its function runs).
// `property` names a property the location always has. For a read-back of the camera's
// values that must keep the writes clients make meanwhile.
template <class Fn>
void with_clients_waiting(EqFct& loc, const std::string& property, Fn&& fn)
{
    bool ran = false;
    loc.with_property(property, [&](D_fct&) {
        ran = true;
        fn();
    });
    if (!ran)
        fn();
}
