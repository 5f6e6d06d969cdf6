#pragma once
#include <windows.h>

// A second start while the installer runs (an impatient double click, or the
// browser's "open" after one) would download the setup program beside the
// first, fail on the file the first holds and tell the user a working
// installation failed. A named mutex in the session's namespace tells it
// that a copy runs; users of other sessions keep their own.
extern const wchar_t InstanceMutexName[];

// Owns the instance mutex; the first copy keeps it for its whole life.
struct InstanceMutex {
    HANDLE handle = nullptr;

    InstanceMutex() = default;
    ~InstanceMutex();
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;
};

// False when another copy already made the mutex called `name`. A mutex that
// cannot be made for any other reason lets this copy run: one installer too
// many is better than none.
bool ClaimSingleInstance(const wchar_t* name, InstanceMutex& mutex);

// Brings the running copy's splash (a top-level window of windowClass) to the
// front, restored if minimised. Does nothing while it is hidden, as it is
// while the setup program runs.
void ShowRunningCopy(const wchar_t* windowClass);
