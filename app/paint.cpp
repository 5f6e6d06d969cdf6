#include "app/paint.h"

#include <algorithm>

#include "app/gdi_holders.h"
#include "app/progress.h"
#include "registry/product_registration.h"
#include "registry/text_encoding.h"

using namespace Gdiplus::DllExports;

namespace {

const wchar_t FallbackHeading[] = L"Tolvin Installer";
const wchar_t CloseGlyph[] = L"\u00d7";  // ×
const COLORREF TextColour = RGB(255, 255, 255);
const COLORREF TrackFallbackColour = RGB(204, 220, 230);
const Gdiplus::ARGB GradientLeft = 0xFF5EA0CE;
const Gdiplus::ARGB GradientRight = 0xFFD1E1E9;

HFONT MakeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei");
}

void DrawBackground(HDC surface, HDC target, int width, int height, const RECT& update, HBITMAP background)
{
    if (!background) {
        FillRect(surface, &update, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
        return;
    }
    MemoryDc source(target);
    Selection selected(source.get(), background);
    BITMAP info = {};
    GetObjectW(background, sizeof(info), &info);
    StretchBlt(surface, 0, 0, width, height, source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
}

// font: the cache's, or null to make one for this label alone.
void DrawLabel(HDC dc, HGDIOBJ font, int height, int weight, const wchar_t* text, int length, RECT rect,
               UINT format)
{
    GdiObject made(font ? nullptr : MakeFont(height, weight));
    Selection selected(dc, font ? font : made.get());
    DrawTextW(dc, text, length, &rect, format);
}

void DrawGdiTrack(HDC dc, const BarGeometry& bar)
{
    // A null pen leaves the rounded rectangle without an outline.
    GdiObject pen(CreatePen(PS_NULL, 0, 0));
    GdiObject brush(CreateSolidBrush(TrackFallbackColour));
    Selection penSelected(dc, pen.get());
    Selection brushSelected(dc, brush.get());
    RoundRect(dc, bar.x, bar.y, bar.right, bar.y + bar.height, bar.height, bar.height);
}

// The fill's outline: a circle at the bar's left end while the fill is no wider
// than the bar is high (so a tiny fill still reads as a dot), else a capsule
// fillWidth wide with half-round ends.
GpPathPtr MakeFillOutline(const BarGeometry& bar)
{
    Gdiplus::GpPath* created = nullptr;
    GdipCreatePath(Gdiplus::FillModeAlternate, &created);
    GpPathPtr path(created);
    const float x = static_cast<float>(bar.x);
    const float y = static_cast<float>(bar.y);
    const float fill = static_cast<float>(bar.fillWidth);
    // The bar's height is the diameter of the ends, whatever the fill width.
    const float d = static_cast<float>(bar.height);
    if (bar.fillWidth <= bar.height) {
        GdipAddPathEllipse(path.get(), x, y, d, d);
    } else {
        GdipAddPathArc(path.get(), x, y, d, d, 180.0f, 90.0f);
        GdipAddPathArc(path.get(), x + fill - d, y, d, d, 270.0f, 90.0f);
        GdipAddPathArc(path.get(), x + fill - d, y, d, d, 0.0f, 90.0f);
        GdipAddPathArc(path.get(), x, y, d, d, 90.0f, 90.0f);
        GdipClosePathFigure(path.get());
    }
    return path;
}

void DrawFill(Gdiplus::GpGraphics* graphics, const BarGeometry& bar, GpBitmap* fillImage)
{
    GpPathPtr outline = MakeFillOutline(bar);

    Gdiplus::GpRegion* createdRegion = nullptr;
    GdipCreateRegion(&createdRegion);
    GpRegionPtr savedClip(createdRegion);
    GdipGetClip(graphics, savedClip.get());
    GdipSetClipPath(graphics, outline.get(), Gdiplus::CombineModeIntersect);

    if (fillImage) {
        // Squeezed, not cropped: the whole picture always fits the filled part.
        GdipDrawImageRect(graphics, fillImage, static_cast<float>(bar.x), static_cast<float>(bar.y),
                          static_cast<float>(bar.fillWidth), static_cast<float>(bar.height));
    } else {
        Gdiplus::GpRect span(bar.x, bar.y, std::max(bar.fillWidth, bar.height), bar.height);
        Gdiplus::GpLineGradient* gradient = nullptr;
        GdipCreateLineBrushFromRectI(&span, GradientLeft, GradientRight, Gdiplus::LinearGradientModeHorizontal,
                                     Gdiplus::WrapModeTile, &gradient);
        GpBrushPtr brush(gradient);
        GdipFillPath(graphics, brush.get(), outline.get());
    }

    GdipSetClipRegion(graphics, savedClip.get(), Gdiplus::CombineModeReplace);
}

GpGraphicsPtr MakeBarGraphics(HDC surface)
{
    Gdiplus::GpGraphics* created = nullptr;
    GdipCreateFromHDC(surface, &created);
    GpGraphicsPtr graphics(created);
    GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeHighQuality);
    GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHighQuality);
    GdipSetCompositingQuality(graphics.get(), Gdiplus::CompositingQualityHighQuality);
    return graphics;
}

void DrawTrack(Gdiplus::GpGraphics* graphics, HDC surface, const BarGeometry& bar, GpBitmap* track)
{
    if (track)
        GdipDrawImageRect(graphics, track, static_cast<float>(bar.x), static_cast<float>(bar.y),
                          static_cast<float>(bar.width), static_cast<float>(bar.height));
    else
        DrawGdiTrack(surface, bar);
}

// The texts stand on the bar's ends, each 160 wide, above it.
RECT PercentRect(const BarGeometry& bar)
{
    return RECT{bar.x, bar.y - 28, bar.x + 160, bar.y - 8};
}

RECT SpeedRect(const BarGeometry& bar)
{
    return RECT{bar.right - 160, bar.y - 28, bar.right, bar.y - 8};
}

bool Meets(const RECT& a, const RECT& b)
{
    RECT common;
    return IntersectRect(&common, &a, &b) != FALSE;
}

bool Within(const RECT& inner, const RECT& outer)
{
    return outer.left <= inner.left && inner.right <= outer.right && outer.top <= inner.top &&
           inner.bottom <= outer.bottom;
}

RECT HeadingRect(const RECT& client)
{
    return RECT{client.left + 20, client.top + 8, client.right - 100, client.top + 46};
}

RECT GlyphRect(const RECT& client)
{
    return RECT{client.right - 36, client.top + 8, client.right - 8, client.top + 46};
}

RECT BarRect(const BarGeometry& bar)
{
    return RECT{bar.x, bar.y, bar.right, bar.y + bar.height};
}

// What stays the same while a download runs, inside `area` of a surface drawn
// at client coordinates: background, heading, close glyph and track.
// The track is drawn only with drawTrack, through graphics (null when GDI+
// does not run).
void DrawStill(HDC dc, HDC target, const RECT& client, const RECT& area, const BarGeometry& bar,
               const SplashPictures& pictures, const SplashCache* cache, bool drawTrack,
               Gdiplus::GpGraphics* graphics)
{
    DrawBackground(dc, target, client.right - client.left, client.bottom - client.top, area, pictures.background);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TextColour);

    const RECT headingRect = HeadingRect(client);
    if (Meets(headingRect, area)) {
        const std::wstring heading = SplashHeading(ProductName);
        DrawLabel(dc, cache ? cache->headingFont.get() : nullptr, 20, 600, heading.c_str(), -1, headingRect,
                  DT_SINGLELINE | DT_VCENTER);
    }
    const RECT glyphRect = GlyphRect(client);
    if (Meets(glyphRect, area))
        DrawLabel(dc, cache ? cache->glyphFont.get() : nullptr, 30, 700, CloseGlyph, 1, glyphRect,
                  DT_SINGLELINE | DT_VCENTER | DT_CENTER);

    if (drawTrack)
        DrawTrack(graphics, dc, bar, pictures.track);
}

// The font is already selected into dc.
void DrawProgressTexts(HDC dc, const BarGeometry& bar, const SplashProgress& progress)
{
    RECT percentRect = PercentRect(bar);
    RECT speedRect = SpeedRect(bar);
    DrawTextW(dc, progress.percentText.c_str(), -1, &percentRect, DT_SINGLELINE | DT_BOTTOM);
    DrawTextW(dc, progress.speedText.c_str(), -1, &speedRect, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT);
}

}  // namespace

// The progress area drawn once without fill and texts (still), and the
// surface each step paints on: the still part copied in, the fill and the
// texts drawn over it, then the step's area copied out. Both are drawn at
// client coordinates through the viewport origin.
struct ProgressSurface {
    ProgressSurface(HDC target, const RECT& progressArea, HGDIOBJ font)
        : area(progressArea),
          still(target),
          stillBitmap(CreateCompatibleBitmap(target, area.right - area.left, area.bottom - area.top)),
          stillSelected(still.get(), stillBitmap.get()),
          surface(target),
          surfaceBitmap(CreateCompatibleBitmap(target, area.right - area.left, area.bottom - area.top)),
          surfaceSelected(surface.get(), surfaceBitmap.get()),
          fontSelected(surface.get(), font)
    {
        SetViewportOrgEx(still.get(), -area.left, -area.top, nullptr);
        SetViewportOrgEx(surface.get(), -area.left, -area.top, nullptr);
        SetBkMode(surface.get(), TRANSPARENT);
        SetTextColor(surface.get(), TextColour);
        graphics = MakeBarGraphics(surface.get());
    }

    // What the still part was drawn for.
    RECT client = {};
    BarGeometry bar = {};
    HBITMAP background = nullptr;
    GpBitmap* track = nullptr;

    RECT area;
    MemoryDc still;
    GdiObject stillBitmap;
    Selection stillSelected;
    MemoryDc surface;
    GdiObject surfaceBitmap;
    Selection surfaceSelected;
    Selection fontSelected;
    GpGraphicsPtr graphics;  // last, so deleted before its context
};

SplashCache::SplashCache()
    : headingFont(MakeFont(20, 600)), glyphFont(MakeFont(30, 700)), textFont(MakeFont(14, 400))
{
}

SplashCache::~SplashCache() = default;

namespace {

bool DrawnFor(const ProgressSurface& surface, const RECT& client, const RECT& area, const BarGeometry& bar,
              const SplashPictures& pictures)
{
    return EqualRect(&surface.client, &client) && EqualRect(&surface.area, &area) && surface.bar.x == bar.x &&
           surface.bar.y == bar.y && surface.bar.width == bar.width && surface.bar.height == bar.height &&
           surface.background == pictures.background && surface.track == pictures.track;
}

ProgressSurface& PreparedSurface(SplashCache& cache, HDC target, const RECT& client, const RECT& progressArea,
                                 const BarGeometry& bar, const SplashPictures& pictures)
{
    if (cache.surface && DrawnFor(*cache.surface, client, progressArea, bar, pictures))
        return *cache.surface;
    cache.surface.reset();  // the old one's objects go before the new ones are made
    cache.surface = std::make_unique<ProgressSurface>(target, progressArea, cache.textFont.get());
    ProgressSurface& surface = *cache.surface;
    surface.client = client;
    surface.bar = bar;
    surface.background = pictures.background;
    surface.track = pictures.track;
    GpGraphicsPtr graphics = MakeBarGraphics(surface.still.get());
    DrawStill(surface.still.get(), target, client, progressArea, bar, pictures, &cache, true, graphics.get());
    return surface;
}

void PaintStep(ProgressSurface& surface, HDC target, const RECT& area, const BarGeometry& bar, GpBitmap* fill,
               const SplashProgress& progress)
{
    HDC dc = surface.surface.get();
    const RECT& whole = surface.area;
    BitBlt(dc, whole.left, whole.top, whole.right - whole.left, whole.bottom - whole.top, surface.still.get(),
           whole.left, whole.top, SRCCOPY);
    if (bar.fillWidth > 0) {
        DrawFill(surface.graphics.get(), bar, fill);
        // GDI+ may hold its drawing back; the texts and the copy are GDI's.
        GdipFlush(surface.graphics.get(), Gdiplus::FlushIntentionSync);
    }
    DrawProgressTexts(dc, bar, progress);
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, dc, area.left, area.top,
           SRCCOPY);
}

}  // namespace

BarGeometry ComputeBarGeometry(const RECT& client, bool hasTrack, int trackWidth, int trackHeight, double ratio)
{
    const int clientWidth = client.right - client.left;
    BarGeometry bar = {};
    if (hasTrack) {
        bar.width = trackWidth;
        bar.height = trackHeight;
    } else {
        // Narrow windows keep a wider share of their width for the bar.
        bar.width = clientWidth - 120 >= 260 ? clientWidth - 120 : clientWidth - 80;
        bar.height = 12;
    }
    bar.width = std::min(bar.width, clientWidth - 40);
    bar.x = client.left + (clientWidth - bar.width) / 2;
    bar.y = client.bottom - 35;
    bar.right = bar.x + bar.width;
    bar.fillWidth = FillWidth(bar.width, ratio);
    return bar;
}

std::wstring SplashHeading(const std::string& productNameUtf8)
{
    std::wstring heading = Utf8ToWide(productNameUtf8);
    return heading.empty() ? std::wstring(FallbackHeading) : heading;
}

RECT ProgressArea(const BarGeometry& bar)
{
    RECT area = {bar.x, bar.y, bar.right, bar.y + bar.height};
    const RECT percent = PercentRect(bar);
    const RECT speed = SpeedRect(bar);
    UnionRect(&area, &area, &percent);
    UnionRect(&area, &area, &speed);
    return area;
}

RECT CloseGlyphRect(const RECT& client)
{
    return GlyphRect(client);
}

BarGeometry PaintSplash(HDC target, const RECT& client, const RECT& update, const SplashPictures& pictures,
                        const SplashProgress& progress, SplashCache* cache)
{
    UINT trackWidth = 0;
    UINT trackHeight = 0;
    if (pictures.track) {
        GdipGetImageWidth(pictures.track, &trackWidth);
        GdipGetImageHeight(pictures.track, &trackHeight);
    }
    const BarGeometry bar = ComputeBarGeometry(client, pictures.track != nullptr, static_cast<int>(trackWidth),
                                               static_cast<int>(trackHeight), progress.ratio);

    // Only what meets `update` is drawn and copied: a download step updates
    // just the progress area, and drawing and copying the whole splash for
    // each step made the steps' paints about a third dearer (ui_bench).
    RECT area;
    if (!IntersectRect(&area, &update, &client))
        return bar;

    if (cache) {
        RECT progressArea;
        const RECT wholeProgressArea = ProgressArea(bar);
        if (IntersectRect(&progressArea, &wholeProgressArea, &client) && Within(area, progressArea)) {
            ProgressSurface& surface = PreparedSurface(*cache, target, client, progressArea, bar, pictures);
            PaintStep(surface, target, area, bar, pictures.fill, progress);
            return bar;
        }
    }

    // Everything is drawn off screen and reaches the window in one copy, so the
    // repaints of a running download do not flicker. The off-screen surface
    // covers just the area, drawn into at client coordinates through the
    // viewport origin.
    const int areaWidth = area.right - area.left;
    const int areaHeight = area.bottom - area.top;
    MemoryDc surface(target);
    GdiObject surfaceBitmap(CreateCompatibleBitmap(target, areaWidth, areaHeight));
    Selection surfaceSelected(surface.get(), surfaceBitmap.get());
    HDC dc = surface.get();
    SetViewportOrgEx(dc, -area.left, -area.top, nullptr);

    const bool barMeets = Meets(BarRect(bar), area);
    GpGraphicsPtr graphics(barMeets ? MakeBarGraphics(dc) : nullptr);
    DrawStill(dc, target, client, area, bar, pictures, cache, barMeets, graphics.get());
    if (barMeets && bar.fillWidth > 0)
        DrawFill(graphics.get(), bar, pictures.fill);

    if (Meets(PercentRect(bar), area) || Meets(SpeedRect(bar), area)) {
        GdiObject made(cache ? nullptr : MakeFont(14, 400));
        Selection selected(dc, cache ? cache->textFont.get() : made.get());
        DrawProgressTexts(dc, bar, progress);
    }

    BitBlt(target, area.left, area.top, areaWidth, areaHeight, dc, area.left, area.top, SRCCOPY);
    return bar;
}

void PaintSplashFrom(DownloadProgressState& state, HDC target, const RECT& client, const RECT& update,
                     const SplashPictures& pictures, SplashCache* cache)
{
    const BarGeometry bar = PaintSplash(target, client, update, pictures, ReadSplashProgress(state), cache);
    state.barPlace.store(PackBarPlace(bar), std::memory_order_relaxed);
}

SplashProgress ReadSplashProgress(const DownloadProgressState& state)
{
    std::uint64_t received = state.receivedBytes.load(std::memory_order_relaxed);
    std::uint64_t total = state.totalBytes.load(std::memory_order_relaxed);
    double speed = state.bytesPerSecond.load(std::memory_order_relaxed);
    SplashProgress progress;
    progress.ratio = ProgressRatio(received, total);
    progress.percentText = PercentText(progress.ratio);
    progress.speedText = SpeedText(speed);
    return progress;
}
