#pragma once
#include <windows.h>

// The computer must not go to sleep in the middle of a download the user is
// waiting for; the display may still turn off. The request belongs to the
// thread that makes it, so the download's own thread makes and ends it.
using ExecutionStateCall = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE flags);

// SetThreadExecutionState; tests put in their own to see which thread asks what.
extern ExecutionStateCall SetExecutionState;

// Keeps the system awake from construction to destruction, on the calling
// thread. Nothing else may be between the two: a failure notice can sit on
// screen for hours, and the setup program's run is its own business.
struct StayAwake {
    StayAwake();
    ~StayAwake();
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};
