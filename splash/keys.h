#pragma once
#include <windows.h>

// The splash's keys: Esc and Alt+F4 close it as a release of the mouse over
// the close glyph does, each on its first press (not its auto-repeat, so a key
// held since before the splash appeared does nothing). True for a
// WM_KEYDOWN or WM_SYSKEYDOWN that is one of them.
bool IsCloseKeystroke(UINT message, WPARAM key, LPARAM flags);
