#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/gdi_holders.h"
#include "app/gdiplus_flat.h"
#include "app/progress.h"

// What one paint draws from: the pictures (each may be null) and the progress
// values derived from the shared state.
struct SplashPictures {
    HBITMAP background;
    GpBitmap* track;
    GpBitmap* fill;
};

struct SplashProgress {
    double ratio;
    std::wstring percentText;
    std::wstring speedText;
};

// hasTrack: whether a track picture of trackWidth x trackHeight pixels sets the
// bar's size; without one the bar follows the client width. ratio is 0..1.
BarGeometry ComputeBarGeometry(const RECT& client, bool hasTrack, int trackWidth, int trackHeight, double ratio);

// The heading drawn at the top left: the product name, or the window title
// when the name does not convert.
std::wstring SplashHeading(const std::string& productNameUtf8);

// What the splash shows of the shared progress state, read once per paint.
SplashProgress ReadSplashProgress(const DownloadProgressState& state);

struct ProgressSurface;

// What a window keeps from WM_CREATE to WM_DESTROY so that a download step's
// paint makes no font, context or bitmap: under Wine, making the fonts and
// the off-screen surface, drawing the background and the track and setting
// up GDI+ again for every step cost about two fifths of each step's paint
// (paint_bench). The fonts are made at once; the progress surface on the first paint that
// covers the progress area alone, and again whenever the bar moves or the
// pictures change. It must be destroyed before GdiplusShutdown, and serves
// one target (one window, or one memory context in the tests).
struct SplashCache {
    SplashCache();
    ~SplashCache();
    SplashCache(const SplashCache&) = delete;
    SplashCache& operator=(const SplashCache&) = delete;

    GdiObject headingFont;
    GdiObject glyphFont;
    GdiObject textFont;
    // Declared after the fonts, so released before them: it keeps textFont
    // selected.
    std::unique_ptr<ProgressSurface> surface;
};

// Draws the part of the splash inside `update` (the client rectangle for all
// of it) into target in one copy; target outside `update` is left alone.
// Returns where the bar is. With a cache, the same pixels come from what the
// cache holds where it can.
BarGeometry PaintSplash(HDC target, const RECT& client, const RECT& update, const SplashPictures& pictures,
                        const SplashProgress& progress, SplashCache* cache = nullptr);

// The window's paint: draws what the state holds and hands the bar's place
// back to the state for the worker's callback.
void PaintSplashFrom(DownloadProgressState& state, HDC target, const RECT& client, const RECT& update,
                     const SplashPictures& pictures, SplashCache* cache);

// The bar and its two texts: all that a step of the download changes.
RECT ProgressArea(const BarGeometry& bar);

// The close glyph's drawing box in the client rectangle.
RECT CloseGlyphRect(const RECT& client);
