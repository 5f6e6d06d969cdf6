#pragma once
#include <windows.h>

#include <functional>

// Runs work on a thread of its own and waits at most waitMs for it. True when
// it finished in time; false when it did not, or when no thread could be
// started (then it never runs).
//
// A call that overruns is left to finish on its own and the thread ends with
// it; nothing stops it. So work must own everything it touches (copies,
// shared_ptr), never the caller's locals, and must not take a lock the rest
// of the process waits for. Its results are the caller's to read only after a
// true answer.
bool RunWithin(std::function<void()> work, DWORD waitMs);
