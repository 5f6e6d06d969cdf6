#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "splash/display_scale.h"
#include "splash/gdi_holders.h"
#include "splash/gdiplus_flat.h"
#include "splash/progress.h"
#include "splash/contrast_scheme.h"

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
// Every length is scaled from 96 DPI to dpi, the picture's size included.
BarGeometry ComputeBarGeometry(const RECT& client, bool hasTrack, int trackWidth, int trackHeight, double ratio,
                               int dpi = DefaultDpi);

// The bar's rectangle in client pixels.
RECT BarRect(const BarGeometry& bar);

// Where the close glyph is drawn in the client rectangle at dpi.
RECT CloseGlyphRect(const RECT& client, int dpi);

// Where a release of the mouse button closes the window, in a client area
// whose right edge is clientRight: narrower in height than where the glyph is
// drawn (y from 12 to 40 inclusive at 96 DPI, x from R - 36 to R - 8).
RECT CloseGlyphHitArea(int clientRight, int dpi);

// The heading drawn at the top left: the product's name, or the installer's
// title when the name is empty.
std::wstring SplashHeading(const wchar_t* productName);

// What the splash shows of the shared progress state, read once per paint.
SplashProgress ReadSplashProgress(const DownloadProgressState& state);

struct ProgressSurface;
struct ScaledBackground;

// What a window keeps from WM_CREATE to WM_DESTROY so that a download step's
// paint makes no font, context or bitmap: under Wine, making the fonts and
// the off-screen surface, drawing the background and the track and setting
// up GDI+ again for every step cost about two fifths of each step's paint
// (paint_bench). The fonts are made at once; the progress surface on the first paint that
// covers the progress area alone, and again whenever the bar moves or the
// pictures change. It must be destroyed before GdiplusShutdown, and serves
// one target (one window, or one memory context in the tests), at one scale
// and in one colour scheme: a window whose DPI or scheme changes makes a new
// one.
struct SplashCache {
    explicit SplashCache(int dpi = DefaultDpi, const ContrastScheme& scheme = ContrastScheme());
    ~SplashCache();
    SplashCache(const SplashCache&) = delete;
    SplashCache& operator=(const SplashCache&) = delete;

    const int dpi;  // what the fonts were made for
    const ContrastScheme scheme;  // what the surface was drawn in
    GdiObject headingFont;
    GdiObject glyphFont;
    GdiObject textFont;
    // At any other scale than 100 %, the background as the client shows it,
    // made on the first paint that needs it.
    std::unique_ptr<ScaledBackground> background;
    // Declared after the fonts, so released before them: it keeps textFont
    // selected.
    std::unique_ptr<ProgressSurface> surface;
};

// Draws the part of the splash inside `update` (the client rectangle for all
// of it) into target in one copy; target outside `update` is left alone.
// Returns where the bar is. With a cache made for dpi, the same pixels come
// from what the cache holds where it can. At any dpi other than 96 every
// length and font is scaled and the pictures are drawn scaled with a smooth
// filter; at 96 they are drawn as they are. With the scheme's high contrast
// on, no picture is drawn: the background is the scheme's window colour, the
// texts and the glyph its text colour, the track an outline in the text colour
// and the fill its highlight colour, in the same places (the track picture
// still sets the bar's size), and a frame in the text colour, one pixel wide
// at 96 DPI, runs round the client's edge.
BarGeometry PaintSplash(HDC target, const RECT& client, const RECT& update, const SplashPictures& pictures,
                        const SplashProgress& progress, SplashCache* cache = nullptr, int dpi = DefaultDpi,
                        const ContrastScheme& scheme = ContrastScheme());

// The window's paint: draws what the state holds and hands the bar's place
// back to the state for the worker's callback.
void PaintSplashFrom(DownloadProgressState& state, HDC target, const RECT& client, const RECT& update,
                     const SplashPictures& pictures, SplashCache* cache, int dpi, const ContrastScheme& scheme);

// The bar and its two texts: all that a step of the download changes, at the
// bar's scale.
RECT ProgressArea(const BarGeometry& bar);

