#include "common/bounded_call.h"

#include <memory>
#include <new>

#include "common/kernel_handle.h"

namespace {

using Work = std::function<void()>;

DWORD WINAPI RunWork(void* param)
{
    // The thread owns its work from here; whatever the work holds goes with it.
    std::unique_ptr<Work> work(static_cast<Work*>(param));
    try {
        (*work)();
    } catch (...) {
        // Nobody is there to hear it: the caller reads a result only from a
        // call that returned.
    }
    return 0;
}

}  // namespace

bool RunWithin(std::function<void()> work, DWORD waitMs)
{
    std::unique_ptr<Work> owned(new (std::nothrow) Work(std::move(work)));
    if (!owned)
        return false;
    // Closing it leaves the thread running on.
    KernelHandle thread(CreateThread(nullptr, 0, RunWork, owned.get(), 0, nullptr));
    if (!thread.Valid())
        return false;
    owned.release();
    // The thread's end, not an event it sets: once it has ended, everything
    // the work wrote is there to read.
    return WaitForSingleObject(thread.handle, waitMs) == WAIT_OBJECT_0;
}
