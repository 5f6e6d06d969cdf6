#include "splash/paint.h"

#include <algorithm>

#include "splash/display_scale.h"
#include "splash/gdi_holders.h"
#include "splash/progress.h"
#include "product/product_name.h"
#include "splash/contrast_scheme.h"

using namespace Gdiplus::DllExports;

namespace {

const wchar_t CloseGlyph[] = L"\u00d7";  // ×
const COLORREF TextColour = RGB(255, 255, 255);
const COLORREF TrackFallbackColour = RGB(204, 220, 230);
const Gdiplus::ARGB GradientLeft = 0xFF5EA0CE;
const Gdiplus::ARGB GradientRight = 0xFFD1E1E9;

COLORREF TextColourOf(const ContrastScheme& scheme)
{
    return scheme.on ? scheme.windowText : TextColour;
}

HFONT MakeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei");
}

// Scaled, the picture is averaged rather than its pixels repeated, which
// would show as steps; HALFTONE wants the brush origin set after it.
void StretchSmoothly(HDC surface, int width, int height, HDC source, const BITMAP& info)
{
    const int previousMode = SetStretchBltMode(surface, HALFTONE);
    POINT previousOrigin = {};
    SetBrushOrgEx(surface, 0, 0, &previousOrigin);
    StretchBlt(surface, 0, 0, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SetBrushOrgEx(surface, previousOrigin.x, previousOrigin.y, nullptr);
    SetStretchBltMode(surface, previousMode);
}

}  // namespace

// The background stretched to the client's size once for the cache's scale:
// under Wine a smooth stretch of the whole picture costs a hundred times a
// copy (paint_bench), and every whole paint and every remade progress surface
// needs it.
struct ScaledBackground {
    HBITMAP from;
    int width;
    int height;
    GdiObject bitmap;
};

namespace {

// The cache's stretched background for this picture and size, made when it has none.
HBITMAP ScaledBackgroundFor(SplashCache& cache, HDC target, HBITMAP background, int width, int height,
                            HDC source, const BITMAP& info)
{
    ScaledBackground* kept = cache.background.get();
    if (kept && kept->from == background && kept->width == width && kept->height == height)
        return static_cast<HBITMAP>(kept->bitmap.get());
    cache.background.reset();
    HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
    if (!bitmap)
        return nullptr;
    cache.background.reset(new ScaledBackground{background, width, height, GdiObject(bitmap)});
    MemoryDc scaled(target);
    Selection selected(scaled.get(), bitmap);
    StretchSmoothly(scaled.get(), width, height, source, info);
    return bitmap;
}

void DrawBackground(HDC surface, HDC target, int width, int height, const RECT& update, HBITMAP background,
                    int dpi, SplashCache* cache, const ContrastScheme& scheme)
{
    if (scheme.on) {
        GdiObject brush(CreateSolidBrush(scheme.window));
        FillRect(surface, &update, static_cast<HBRUSH>(brush.get()));
        return;
    }
    if (!background) {
        FillRect(surface, &update, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
        return;
    }
    MemoryDc source(target);
    Selection selected(source.get(), background);
    BITMAP info = {};
    GetObjectW(background, sizeof(info), &info);
    if (dpi == DefaultDpi) {
        StretchBlt(surface, 0, 0, width, height, source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        return;
    }
    if (HBITMAP scaled = cache ? ScaledBackgroundFor(*cache, target, background, width, height, source.get(), info)
                               : nullptr) {
        MemoryDc copy(target);
        Selection scaledSelected(copy.get(), scaled);
        BitBlt(surface, 0, 0, width, height, copy.get(), 0, 0, SRCCOPY);
        return;
    }
    StretchSmoothly(surface, width, height, source.get(), info);
}

// The pictures are drawn into rectangles of the bar's scaled size. Scaled,
// they are sampled smoothly, and the samples beyond a picture's edge mirror
// its edge: GDI+ would otherwise blend the edge rows with transparency.
void DrawPicture(Gdiplus::GpGraphics* graphics, GpBitmap* picture, int x, int y, int width, int height, int dpi)
{
    if (dpi == DefaultDpi) {
        GdipDrawImageRect(graphics, picture, static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                          static_cast<float>(height));
        return;
    }
    UINT pictureWidth = 0;
    UINT pictureHeight = 0;
    GdipGetImageWidth(picture, &pictureWidth);
    GdipGetImageHeight(picture, &pictureHeight);
    Gdiplus::GpImageAttributes* created = nullptr;
    GdipCreateImageAttributes(&created);
    GpImageAttributesPtr attributes(created);
    GdipSetImageAttributesWrapMode(attributes.get(), Gdiplus::WrapModeTileFlipXY, 0, FALSE);
    GdipDrawImageRectRect(graphics, picture, static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                          static_cast<float>(height), 0.0f, 0.0f, static_cast<float>(pictureWidth),
                          static_cast<float>(pictureHeight), Gdiplus::UnitPixel, attributes.get(), nullptr, nullptr);
}

// font: the cache's, or null to make one for this label alone.
void DrawLabel(HDC dc, HGDIOBJ font, int height, int weight, const wchar_t* text, int length, RECT rect,
               UINT format)
{
    GdiObject made(font ? nullptr : MakeFont(height, weight));
    Selection selected(dc, font ? font : made.get());
    DrawTextW(dc, text, length, &rect, format);
}

// The bar in a high-contrast scheme, `width` wide from its left end: solid
// colours with whole-pixel edges, drawn with GDI, whose rounded rectangle
// keeps an inside-frame pen within the bar's rectangle to the pixel (Wine's
// GDI+ draws a pen and a solid path half a pixel lower and further right).
void DrawContrastPill(HDC dc, const BarGeometry& bar, int width, int penWidth, COLORREF outline, HGDIOBJ brush)
{
    GdiObject pen(CreatePen(PS_INSIDEFRAME, penWidth, outline));
    Selection penSelected(dc, pen.get());
    Selection brushSelected(dc, brush);
    RoundRect(dc, bar.x, bar.y, bar.x + width, bar.y + bar.height, bar.height, bar.height);
}

// The track: an outline in the text colour, one pixel at 96 DPI, on the
// window colour the background already gave it.
void DrawContrastTrack(HDC dc, const BarGeometry& bar, const ContrastScheme& scheme)
{
    DrawContrastPill(dc, bar, bar.width, ScaledPixels(1, bar.dpi), scheme.windowText, GetStockObject(NULL_BRUSH));
}

// The fill in the highlight colour, over the track's outline as the fill
// picture covers the track picture; no narrower than the end circle.
void DrawContrastFill(HDC dc, const BarGeometry& bar, const ContrastScheme& scheme)
{
    GdiObject brush(CreateSolidBrush(scheme.highlight));
    DrawContrastPill(dc, bar, std::max(bar.fillWidth, bar.height), 1, scheme.highlight, brush.get());
}

// The window has no border of its own: on a desktop of the scheme's window
// colour the splash would have no edge at all. A frame in the text colour,
// one pixel at 96 DPI, just inside the client's edge.
void DrawContrastFrame(HDC dc, const RECT& client, int dpi, const ContrastScheme& scheme)
{
    const int w = ScaledPixels(1, dpi);
    GdiObject brush(CreateSolidBrush(scheme.windowText));
    const RECT sides[] = {
        {client.left, client.top, client.right, client.top + w},
        {client.left, client.bottom - w, client.right, client.bottom},
        {client.left, client.top, client.left + w, client.bottom},
        {client.right - w, client.top, client.right, client.bottom},
    };
    for (const RECT& side : sides)
        FillRect(dc, &side, static_cast<HBRUSH>(brush.get()));
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
        DrawPicture(graphics, fillImage, bar.x, bar.y, bar.fillWidth, bar.height, bar.dpi);
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

GpGraphicsPtr MakeBarGraphics(HDC surface, int dpi)
{
    Gdiplus::GpGraphics* created = nullptr;
    GdipCreateFromHDC(surface, &created);
    GpGraphicsPtr graphics(created);
    GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeHighQuality);
    GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHighQuality);
    GdipSetCompositingQuality(graphics.get(), Gdiplus::CompositingQualityHighQuality);
    if (dpi != DefaultDpi)
        GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    return graphics;
}

void DrawTrack(Gdiplus::GpGraphics* graphics, HDC surface, const BarGeometry& bar, GpBitmap* track,
               const ContrastScheme& scheme)
{
    if (scheme.on)
        DrawContrastTrack(surface, bar, scheme);
    else if (track)
        DrawPicture(graphics, track, bar.x, bar.y, bar.width, bar.height, bar.dpi);
    else
        DrawGdiTrack(surface, bar);
}

// The texts stand on the bar's ends, each 160 wide (at 96 DPI), above it.
RECT PercentRect(const BarGeometry& bar)
{
    const int dpi = bar.dpi;
    return RECT{bar.x, bar.y - ScaledPixels(28, dpi), bar.x + ScaledPixels(160, dpi), bar.y - ScaledPixels(8, dpi)};
}

RECT SpeedRect(const BarGeometry& bar)
{
    const int dpi = bar.dpi;
    return RECT{bar.right - ScaledPixels(160, dpi), bar.y - ScaledPixels(28, dpi), bar.right,
                bar.y - ScaledPixels(8, dpi)};
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

RECT HeadingRect(const RECT& client, int dpi)
{
    return RECT{client.left + ScaledPixels(20, dpi), client.top + ScaledPixels(8, dpi),
                client.right - ScaledPixels(100, dpi), client.top + ScaledPixels(46, dpi)};
}

// Font heights at 96 DPI.
const int HeadingFontHeight = 20;
const int GlyphFontHeight = 30;
const int TextFontHeight = 14;

// What stays the same while a download runs, inside `area` of a surface drawn
// at client coordinates: background, heading, close glyph and track.
// The track is drawn only with drawTrack, through graphics (null when GDI+
// does not run).
void DrawStill(HDC dc, HDC target, const RECT& client, const RECT& area, const BarGeometry& bar,
               const SplashPictures& pictures, SplashCache* cache, bool drawTrack,
               Gdiplus::GpGraphics* graphics, const ContrastScheme& scheme)
{
    const int dpi = bar.dpi;
    DrawBackground(dc, target, client.right - client.left, client.bottom - client.top, area, pictures.background,
                   dpi, cache, scheme);
    if (scheme.on)
        DrawContrastFrame(dc, client, dpi, scheme);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TextColourOf(scheme));

    const RECT headingRect = HeadingRect(client, dpi);
    if (Meets(headingRect, area)) {
        const std::wstring heading = SplashHeading(ProductDisplayName);
        DrawLabel(dc, cache ? cache->headingFont.get() : nullptr, ScaledPixels(HeadingFontHeight, dpi), 600,
                  heading.c_str(), -1, headingRect, DT_SINGLELINE | DT_VCENTER);
    }
    const RECT glyphRect = CloseGlyphRect(client, dpi);
    if (Meets(glyphRect, area))
        DrawLabel(dc, cache ? cache->glyphFont.get() : nullptr, ScaledPixels(GlyphFontHeight, dpi), 700, CloseGlyph,
                  1, glyphRect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);

    if (drawTrack)
        DrawTrack(graphics, dc, bar, pictures.track, scheme);
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
    ProgressSurface(HDC target, const RECT& progressArea, const BarGeometry& bar, HGDIOBJ font,
                    const ContrastScheme& scheme)
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
        SetTextColor(surface.get(), TextColourOf(scheme));
        graphics = MakeBarGraphics(surface.get(), bar.dpi);
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

SplashCache::SplashCache(int scaleDpi, const ContrastScheme& contrast)
    : dpi(scaleDpi),
      scheme(contrast),
      headingFont(MakeFont(ScaledPixels(HeadingFontHeight, scaleDpi), 600)),
      glyphFont(MakeFont(ScaledPixels(GlyphFontHeight, scaleDpi), 700)),
      textFont(MakeFont(ScaledPixels(TextFontHeight, scaleDpi), 400))
{
}

SplashCache::~SplashCache() = default;

namespace {

bool DrawnFor(const ProgressSurface& surface, const RECT& client, const RECT& area, const BarGeometry& bar,
              const SplashPictures& pictures)
{
    return EqualRect(&surface.client, &client) && EqualRect(&surface.area, &area) && surface.bar.x == bar.x &&
           surface.bar.y == bar.y && surface.bar.width == bar.width && surface.bar.height == bar.height && surface.bar.dpi == bar.dpi &&
           surface.background == pictures.background && surface.track == pictures.track;
}

ProgressSurface& PreparedSurface(SplashCache& cache, HDC target, const RECT& client, const RECT& progressArea,
                                 const BarGeometry& bar, const SplashPictures& pictures)
{
    if (cache.surface && DrawnFor(*cache.surface, client, progressArea, bar, pictures))
        return *cache.surface;
    cache.surface.reset();  // the old one's objects go before the new ones are made
    cache.surface = std::make_unique<ProgressSurface>(target, progressArea, bar, cache.textFont.get(), cache.scheme);
    ProgressSurface& surface = *cache.surface;
    surface.client = client;
    surface.bar = bar;
    surface.background = pictures.background;
    surface.track = pictures.track;
    GpGraphicsPtr graphics = MakeBarGraphics(surface.still.get(), bar.dpi);
    DrawStill(surface.still.get(), target, client, progressArea, bar, pictures, &cache, true, graphics.get(),
              cache.scheme);
    return surface;
}

void PaintStep(ProgressSurface& surface, HDC target, const RECT& area, const BarGeometry& bar, GpBitmap* fill,
               const SplashProgress& progress, const ContrastScheme& scheme)
{
    HDC dc = surface.surface.get();
    const RECT& whole = surface.area;
    BitBlt(dc, whole.left, whole.top, whole.right - whole.left, whole.bottom - whole.top, surface.still.get(),
           whole.left, whole.top, SRCCOPY);
    if (bar.fillWidth > 0 && scheme.on) {
        DrawContrastFill(dc, bar, scheme);
    } else if (bar.fillWidth > 0) {
        DrawFill(surface.graphics.get(), bar, fill);
        // GDI+ may hold its drawing back; the texts and the copy are GDI's.
        GdipFlush(surface.graphics.get(), Gdiplus::FlushIntentionSync);
    }
    DrawProgressTexts(dc, bar, progress);
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, dc, area.left, area.top,
           SRCCOPY);
}

}  // namespace

BarGeometry ComputeBarGeometry(const RECT& client, bool hasTrack, int trackWidth, int trackHeight, double ratio,
                               int dpi)
{
    auto scaled = [dpi](int value) { return ScaledPixels(value, dpi); };
    const int clientWidth = client.right - client.left;
    BarGeometry bar = {};
    bar.dpi = dpi;
    if (hasTrack) {
        bar.width = scaled(trackWidth);
        bar.height = scaled(trackHeight);
    } else {
        // Narrow windows keep a wider share of their width for the bar.
        bar.width = clientWidth - scaled(120) >= scaled(260) ? clientWidth - scaled(120) : clientWidth - scaled(80);
        bar.height = scaled(12);
    }
    bar.width = std::min(bar.width, clientWidth - scaled(40));
    bar.x = client.left + (clientWidth - bar.width) / 2;
    bar.y = client.bottom - scaled(35);
    bar.right = bar.x + bar.width;
    bar.fillWidth = FillWidth(bar.width, ratio);
    return bar;
}

RECT CloseGlyphRect(const RECT& client, int dpi)
{
    return RECT{client.right - ScaledPixels(36, dpi), client.top + ScaledPixels(8, dpi),
                client.right - ScaledPixels(8, dpi), client.top + ScaledPixels(46, dpi)};
}

RECT CloseGlyphHitArea(int clientRight, int dpi)
{
    // Narrower in height than the glyph's drawing box: y from 12 to 40 at 96 DPI.
    return RECT{clientRight - ScaledPixels(36, dpi), ScaledPixels(12, dpi), clientRight - ScaledPixels(8, dpi) + 1,
                ScaledPixels(40, dpi) + 1};
}

RECT BarRect(const BarGeometry& bar)
{
    return RECT{bar.x, bar.y, bar.right, bar.y + bar.height};
}

std::wstring SplashHeading(const wchar_t* productName)
{
    return productName && *productName ? std::wstring(productName) : std::wstring(InstallerTitle);
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

BarGeometry PaintSplash(HDC target, const RECT& client, const RECT& update, const SplashPictures& pictures,
                        const SplashProgress& progress, SplashCache* cache, int dpi, const ContrastScheme& scheme)
{
    // A cache made for another scale holds fonts of the wrong size; one made
    // for another scheme, pixels in the wrong colours.
    if (cache && (cache->dpi != dpi || cache->scheme != scheme))
        cache = nullptr;
    UINT trackWidth = 0;
    UINT trackHeight = 0;
    if (pictures.track) {
        GdipGetImageWidth(pictures.track, &trackWidth);
        GdipGetImageHeight(pictures.track, &trackHeight);
    }
    const BarGeometry bar = ComputeBarGeometry(client, pictures.track != nullptr, static_cast<int>(trackWidth),
                                               static_cast<int>(trackHeight), progress.ratio, dpi);

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
            PaintStep(surface, target, area, bar, pictures.fill, progress, scheme);
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
    GpGraphicsPtr graphics(barMeets && !scheme.on ? MakeBarGraphics(dc, dpi) : nullptr);
    DrawStill(dc, target, client, area, bar, pictures, cache, barMeets, graphics.get(), scheme);
    if (barMeets && bar.fillWidth > 0 && scheme.on)
        DrawContrastFill(dc, bar, scheme);
    else if (barMeets && bar.fillWidth > 0)
        DrawFill(graphics.get(), bar, pictures.fill);

    if (Meets(PercentRect(bar), area) || Meets(SpeedRect(bar), area)) {
        GdiObject made(cache ? nullptr : MakeFont(ScaledPixels(TextFontHeight, dpi), 400));
        Selection selected(dc, cache ? cache->textFont.get() : made.get());
        DrawProgressTexts(dc, bar, progress);
    }

    BitBlt(target, area.left, area.top, areaWidth, areaHeight, dc, area.left, area.top, SRCCOPY);
    return bar;
}

void PaintSplashFrom(DownloadProgressState& state, HDC target, const RECT& client, const RECT& update,
                     const SplashPictures& pictures, SplashCache* cache, int dpi, const ContrastScheme& scheme)
{
    const BarGeometry bar =
        PaintSplash(target, client, update, pictures, ReadSplashProgress(state), cache, dpi, scheme);
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
