#pragma once
#include <windows.h>

#include "splash/display_scale.h"

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// True when a button release at lParam's client point lies on the close glyph
// of a client area whose right edge is clientRight, drawn at dpi
// (CloseGlyphHitArea in splash/paint.h).
bool IsCloseGlyphHit(int clientRight, LPARAM lParam, int dpi = DefaultDpi);

// Top-left corner that centres a w x h window on a screen (may be negative).
POINT CenteredOrigin(int screenWidth, int screenHeight, int width, int height);

// Starts RunInstallWorker(hwnd) on a detached thread; false when no thread
// could be started. Replaceable so tests can exercise that failure.
using WorkerStarter = bool (*)(HWND hwnd);
extern WorkerStarter StartWorker;

// Runs the whole program: class, window, message loop, or, while another copy
// runs, brings that copy's splash to the front. Returns the exit code: the
// last the worker sent (WM_INSTALL_EXIT_CODE), 1603 after the worker could not
// start, 1602 when the splash was closed before any, 1618 for a second copy.
int RunInstallerApp(HINSTANCE instance, int showCommand);
