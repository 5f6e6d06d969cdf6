#pragma once
#include <atomic>

// Who wins when a close request and the setup program's launch meet. The UI
// thread settles both, one message at a time: a close that comes first stops
// the launch, and a launch that comes first outlives every close request until
// the worker is done, so the installer never ends with "cancelled" while the
// setup program installs, nor leaves its file and its one-copy name behind.
struct CloseGate {
    std::atomic<bool> closeBegun{false};  // also read by the worker between download chunks
    bool launched = false;               // UI thread only
};

// A close request from anyone but the worker (the glyph, Esc, another
// program, a task manager): true when the window is to close now.
bool BeginClose(CloseGate& gate);

// The worker asks to start the setup program: true when it may.
bool GrantLaunch(CloseGate& gate);
