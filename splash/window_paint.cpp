#include "splash/window_paint.h"

#include "splash/display_scale.h"
#include "splash/progress.h"

namespace {

void StopClock(HWND hwnd, StepPaintPacing& pacing)
{
    KillTimer(hwnd, StepPaintClockId);
    pacing.clockRunning = false;
}

// Whether the paint about to begin redraws the whole progress area, and so
// shows the latest step.
bool PaintShowsStep(HWND hwnd, const DownloadProgressState& state)
{
    const std::uint64_t place = state.barPlace.load(std::memory_order_relaxed);
    if (place == 0)
        return true;  // the first paint, of the whole window
    RECT client;
    GetClientRect(hwnd, &client);
    const RECT whole = ProgressArea(UnpackBarPlace(place));
    RECT area;
    if (!IntersectRect(&area, &whole, &client))
        return true;  // no bar on screen to miss
    GdiObject update(CreateRectRgn(0, 0, 0, 0));
    GdiObject missed(CreateRectRgnIndirect(&area));
    if (!update.get() || !missed.get() || GetUpdateRgn(hwnd, static_cast<HRGN>(update.get()), FALSE) == ERROR)
        return true;
    return CombineRgn(static_cast<HRGN>(missed.get()), static_cast<HRGN>(missed.get()),
                      static_cast<HRGN>(update.get()), RGN_DIFF) == NULLREGION;
}

}  // namespace

void InvalidateProgressArea(HWND hwnd, const DownloadProgressState& state)
{
    // Until the window has painted once, where the bar goes is not known.
    const std::uint64_t place = state.barPlace.load(std::memory_order_relaxed);
    if (place == 0) {
        InvalidateRect(hwnd, nullptr, FALSE);
        return;
    }
    const RECT area = ProgressArea(UnpackBarPlace(place));
    InvalidateRect(hwnd, &area, FALSE);
}

ProgressCallback MakeProgressCallback(HWND hwnd)
{
    return MakeProgressCallback(DownloadProgress, GetTickCount64, [hwnd] {
        // Release: the paint that takes the request reads these counts.
        if (DownloadProgress.paintRequest.exchange(PaintAsked, std::memory_order_acq_rel) == PaintIdle)
            InvalidateProgressArea(hwnd, DownloadProgress);
    });
}

void PaintSplashWindow(HWND hwnd, DownloadProgressState& state, const SplashPictures& pictures,
                       SplashCache* cache, StepPaintPacing& pacing)
{
    ++pacing.paints;
    const bool showsStep = PaintShowsStep(hwnd, state);
    // Taken before the counts are read, so a step recorded after the read is
    // asked for again. Acquire: a step whose request this takes is in the
    // counts read below.
    if (showsStep)
        state.paintRequest.exchange(PaintClocked, std::memory_order_acq_rel);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    // The window's cache is remade for each scale and scheme the window takes.
    const int dpi = cache ? cache->dpi : WindowDpi(hwnd);
    const ContrastScheme scheme = cache ? cache->scheme : ContrastScheme();
    PaintSplashFrom(state, dc, client, ps.rcPaint, pictures, cache, dpi, scheme);
    EndPaint(hwnd, &ps);

    if (!showsStep) {
        // An expose that misses the bar (without a compositor, a window
        // dragged over the heading) must not use up a step asked for: the
        // clock's next tick paints it, and with the clock at rest nothing
        // would, so it is asked for here.
        if (!pacing.clockRunning && state.paintRequest.load(std::memory_order_acquire) == PaintAsked)
            InvalidateProgressArea(hwnd, state);
        return;
    }

    if (!pacing.clockRunning)
        pacing.clockRunning = SetTimer(hwnd, StepPaintClockId, StepPaintClockMs, nullptr) != 0;
    if (!pacing.clockRunning) {
        // No clock: the next request must wake the window itself. One that
        // came since the paint above is painted now.
        int expected = PaintClocked;
        if (!state.paintRequest.compare_exchange_strong(expected, PaintIdle, std::memory_order_acq_rel))
            InvalidateProgressArea(hwnd, state);
    }
}

void TickStepPaintClock(HWND hwnd, DownloadProgressState& state, StepPaintPacing& pacing)
{
    int expected = PaintClocked;
    if (state.paintRequest.compare_exchange_strong(expected, PaintIdle, std::memory_order_acq_rel)) {
        // Nothing asked since the last paint: rest until a step wakes the window.
        StopClock(hwnd, pacing);
        return;
    }
    const unsigned paintsBefore = pacing.paints;
    InvalidateProgressArea(hwnd, state);
    UpdateWindow(hwnd);
    // Hidden (as while the setup program runs) or covered without a
    // compositor, the window got no WM_PAINT. Ticking on would only wake it
    // for nothing; the step stays asked for, so the worker does not wake it
    // either, and the paint that comes once the window can show it again
    // reads the latest state.
    if (pacing.paints == paintsBefore)
        StopClock(hwnd, pacing);
}
