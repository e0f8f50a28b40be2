#include <mutex>

#include <pylon/PylonBase.h>
#include <pylon/TlFactory.h>

#include "CallbackThread.h"

namespace Pylon {

namespace {
std::mutex init_mutex;  // guards init_count; any thread
int init_count = 0;
} // namespace

void PylonInitialize()
{
    std::lock_guard lock(init_mutex);
    if (init_count++ == 0)
        CTlFactory::GetInstance(); // registers the transport layers, starts nothing yet
}

void PylonTerminate()
{
    std::lock_guard lock(init_mutex);
    if (init_count > 0 && --init_count == 0)
        detail::CallbackThread::Instance().Stop();
}

} // namespace Pylon
