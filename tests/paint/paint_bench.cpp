// Times PaintSplash with the shipped pictures: many paints into 560 x 310
// memory contexts (the figure the paint is held to), then the same into a real
// window's context, where the final copy goes to the display, whole and as
// the download's steps paint it (the progress area only), the latter also
// with the cache the installer's window keeps, in the ordinary and in a
// high-contrast scheme; and the window at 200 % (192 DPI, 1120 x 620), whole
// and its steps through the cache, in both schemes.
// Usage: paint_bench.exe [paints]   (default 2000)
//        paint_bench.exe --contrast-picture FILE.bmp
// The second saves the splash at 53 % in the high-contrast scheme instead.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "splash/gdi_holders.h"
#include "splash/paint.h"
#include "splash/png_resource.h"
#include "res/resource_ids.h"
#include "tests/paint/render_helpers.h"

namespace {

struct Summary {
    double median;
    double p90;
    double p99;
    double min;
    double max;
};

Summary Summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * (ms.size() - 1) + 0.5))]; };
    return Summary{at(0.5), at(0.9), at(0.99), ms.front(), ms.back()};
}

// Paints `count` times, the ratio and texts changing as in a download, and
// gives each paint's time in milliseconds. With stepsOnly, each paint covers
// just the progress area, as the repaints of a running download do.
std::vector<double> TimePaints(HDC target, const SplashPictures& pictures, int count, bool stepsOnly = false,
                               SplashCache* cache = nullptr, int dpi = DefaultDpi,
                               const ContrastScheme& scheme = ContrastScheme())
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const RECT client = {0, 0, ScaledPixels(560, dpi), ScaledPixels(310, dpi)};
    std::vector<double> times;
    times.reserve(count);
    for (int i = 0; i < count; ++i) {
        double ratio = double(i % 1000) / 999.0;
        wchar_t percent[16];
        wchar_t speed[32];
        swprintf(percent, 16, L"%d%%", int(ratio * 100.0 + 0.5));
        swprintf(speed, 32, L"%.2f MB/s", 40.0 + (i % 7));
        SplashProgress progress{ratio, percent, speed};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        RECT update = client;
        if (stepsOnly) {
            UINT trackWidth = 0;
            UINT trackHeight = 0;
            Gdiplus::DllExports::GdipGetImageWidth(pictures.track, &trackWidth);
            Gdiplus::DllExports::GdipGetImageHeight(pictures.track, &trackHeight);
            update = ProgressArea(ComputeBarGeometry(client, true, int(trackWidth), int(trackHeight), ratio, dpi));
        }
        PaintSplash(target, client, update, pictures, progress, cache, dpi, scheme);
        GdiFlush();
        QueryPerformanceCounter(&end);
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    return times;
}

void Print(const char* what, const std::vector<double>& times)
{
    Summary s = Summarise(times);
    std::printf("%-34s paints %zu  median %.3f ms  p90 %.3f  p99 %.3f  min %.3f  max %.3f\n", what, times.size(),
                s.median, s.p90, s.p99, s.min, s.max);
}

// A download's steps through the window's cache at dpi in scheme, after 50
// to warm it.
void PrintCachedSteps(const char* what, HDC dc, const SplashPictures& pictures, int count, int dpi,
                      const ContrastScheme& scheme)
{
    SplashCache cache(dpi, scheme);
    TimePaints(dc, pictures, 50, true, &cache, dpi, scheme);
    Print(what, TimePaints(dc, pictures, count, true, &cache, dpi, scheme));
}

// The splash as the README shows it, in the tests' high-contrast scheme.
bool SaveContrastPicture(const SplashPictures& pictures, const std::string& path)
{
    const int width = 560;
    const int height = 310;
    std::uint32_t* bits = nullptr;
    MemoryDc memory(nullptr);
    GdiObject dib(MakeDib(width, height, &bits));
    if (!dib.get())
        return false;
    Selection selected(memory.get(), dib.get());
    const RECT client = {0, 0, width, height};
    PaintSplash(memory.get(), client, client, pictures, SplashProgress{0.53, L"53%", L"83 KB/s"}, nullptr,
                DefaultDpi, YellowOnBlack());
    GdiFlush();
    return SaveBitmapFile(path, width, height, bits);
}

void RunBenchmarks(const SplashPictures& pictures, int count)
{
    // Memory target holding a bitmap compatible with the display: the
    // kind of surface the paint's own off-screen bitmap is in the window.
    HDC screen = GetDC(nullptr);
    {
        MemoryDc memory(screen);
        GdiObject bitmap(CreateCompatibleBitmap(screen, 560, 310));
        Selection selected(memory.get(), bitmap.get());
        TimePaints(memory.get(), pictures, 50);  // font and glyph caches warm
        Print("memory DC, display-compatible", TimePaints(memory.get(), pictures, count));
    }
    ReleaseDC(nullptr, screen);

    // Memory target holding a 32-bit DIB section, as the pixel tests use.
    // Here the paint's compatible bitmap is a DIB section too, a fresh
    // mapping each paint whose first writes cost extra under Wine.
    {
        std::uint32_t* bits = nullptr;
        MemoryDc memory(nullptr);
        GdiObject dib(MakeDib(560, 310, &bits));
        Selection selected(memory.get(), dib.get());
        TimePaints(memory.get(), pictures, 50);
        Print("memory DC, 32-bit DIB section", TimePaints(memory.get(), pictures, count));
    }

    // Window target: the same 560 x 310 popup the installer shows.
    HWND window = CreateWindowExW(0, L"STATIC", L"paint bench", WS_POPUP | WS_VISIBLE, 0, 0, 560, 310,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window) {
        HDC dc = GetDC(window);
        TimePaints(dc, pictures, 50);
        Print("window DC 560x310", TimePaints(dc, pictures, count));
        Print("window DC, progress area only", TimePaints(dc, pictures, count, true));
        PrintCachedSteps("window DC, progress area, cached", dc, pictures, count, DefaultDpi, ContrastScheme());
        PrintCachedSteps("window DC, high contrast, cached", dc, pictures, count, DefaultDpi, YellowOnBlack());
        ReleaseDC(window, dc);
        DestroyWindow(window);
    } else {
        std::printf("window DC: no window (no display?)\n");
    }

    // The same window at 200 %, through the cache as the installer's
    // window paints: a whole paint copies the background stretched
    // once; a step copies the still part and draws the fill and the
    // texts at the larger size.
    const int dpi = 2 * DefaultDpi;
    HWND large = CreateWindowExW(0, L"STATIC", L"paint bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                 ScaledPixels(560, dpi), ScaledPixels(310, dpi), nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (large) {
        HDC dc = GetDC(large);
        {
            SplashCache cache(dpi);
            TimePaints(dc, pictures, 10, false, &cache, dpi);
            Print("window DC 1120x620 (200 %), cached", TimePaints(dc, pictures, count, false, &cache, dpi));
        }
        PrintCachedSteps("200 %, progress area, cached", dc, pictures, count, dpi, ContrastScheme());
        PrintCachedSteps("200 %, high contrast, cached", dc, pictures, count, dpi, YellowOnBlack());
        ReleaseDC(large, dc);
        DestroyWindow(large);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const char* picture = argc > 2 && std::string(argv[1]) == "--contrast-picture" ? argv[2] : nullptr;
    const int count = argc > 1 && !picture ? std::max(10, std::atoi(argv[1])) : 2000;

    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "GDI+ did not start\n");
        return 1;
    }
    int status = 0;
    {
        GdiObject background(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0));
        GpBitmapPtr track = LoadPngResource(IDP_TRACK, L"PNG");
        GpBitmapPtr fill = LoadPngResource(IDP_FILL, L"PNG");
        if (!background.get() || !track || !fill) {
            std::fprintf(stderr, "the shipped pictures did not load\n");
            status = 1;
        } else {
            SplashPictures pictures{static_cast<HBITMAP>(background.get()), track.get(), fill.get()};
            if (!picture) {
                RunBenchmarks(pictures, count);
            } else if (!SaveContrastPicture(pictures, picture)) {
                std::fprintf(stderr, "could not save %s\n", picture);
                status = 1;
            }
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return status;
}
