#pragma once
#include <windows.h>

#include "splash/paint.h"
#include "splash/progress.h"

// A fast download changes what the splash shows far more often than a screen
// shows frames: at loopback speed the bar's 480 pixels pass in under a
// second, and under Wine each paint costs the UI thread about half a
// millisecond. So once a step has been painted, the window paints further
// steps on the ticks of a paint clock, at most one per tick, each from the
// state as it is then, and stops the clock at the first tick that finds no
// step asked for. A step that comes while the clock is stopped is painted at
// once, and so is anything else (the window shown or uncovered).
// 15 ms: about one frame of a 60 Hz screen; Windows rounds timer periods up
// to its 15.6 ms tick, so 16 would give 31 ms.
const UINT StepPaintClockMs = 15;
const UINT_PTR StepPaintClockId = 1;

// The UI thread's own record of the clock.
struct StepPaintPacing {
    bool clockRunning = false;
    unsigned paints = 0;  // WM_PAINTs handled, to tell whether a tick got one
};

// WM_PAINT of a splash window, at the scale and in the scheme its cache was
// made for.
void PaintSplashWindow(HWND hwnd, DownloadProgressState& state, const SplashPictures& pictures,
                       SplashCache* cache, StepPaintPacing& pacing);

// WM_TIMER with StepPaintClockId: paints the step asked for since the last
// paint, or stops the clock.
void TickStepPaintClock(HWND hwnd, DownloadProgressState& state, StepPaintPacing& pacing);

// Asks for a paint of the bar and its texts, or of the whole window before
// its first paint has placed the bar.
void InvalidateProgressArea(HWND hwnd, const DownloadProgressState& state);

// The callback the worker hands to the download: records into DownloadProgress
// and asks hwnd for a paint of the progress area when the splash would look
// different (MakeProgressCallback in splash/progress.h, bound to the window).
ProgressCallback MakeProgressCallback(HWND hwnd);
