#pragma once
// The download's progress as the worker records it and the splash shows it:
// counts, speed, percent, fill width and when a step is worth a paint. Knows
// no window; splash/window_paint.h binds it to the splash.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/progress_callback.h"

// Written by the worker thread's progress callback, read by the paint on the
// UI thread. Each field is stored and loaded whole (relaxed atomics, no lock);
// the reader may pair counts from different calls, which ProgressRatio's clamp
// absorbs.
struct DownloadProgressState {
    std::atomic<std::uint64_t> receivedBytes{0};
    std::atomic<std::uint64_t> totalBytes{0};
    std::atomic<double> bytesPerSecond{0.0};
    std::atomic<std::uint64_t> lastSampleTick{0};   // worker thread only; 0 = no sample yet
    std::atomic<std::uint64_t> lastSampleBytes{0};  // worker thread only
    // The other way round: written by each paint, read by the callback, which
    // needs the bar's width to tell when the fill's edge moves by a pixel and
    // the bar's place to invalidate no more than the progress area.
    // PackBarPlace's word; 0 until the first paint.
    std::atomic<std::uint64_t> barPlace{0};
    // Between the callback's requests and the window's paints: PaintIdle,
    // PaintAsked or PaintClocked. Only a request that finds the window idle
    // wakes it with InvalidateRect; while the window's paint clock runs, its
    // next tick paints whatever was asked since the last paint.
    std::atomic<int> paintRequest{0};
};

// paintRequest's values.
const int PaintIdle = 0;     // nothing asked; no paint clock running
const int PaintAsked = 1;    // a step has been asked for that no paint has read yet
const int PaintClocked = 2;  // the paint clock runs; nothing asked since its last paint

extern DownloadProgressState DownloadProgress;

// Stores the counts and samples the speed at most once per 1000 ms of `now`
// (milliseconds, as GetTickCount64 gives them). A count lower than the last
// sample's (the download started over) makes a new baseline.
void RecordProgress(DownloadProgressState& state, std::uint64_t received, std::uint64_t total,
                    std::uint64_t now);

// The worker's callback: `now` gives milliseconds as GetTickCount64 does,
// `repaint` asks for a paint (splash/window_paint.h binds it to the splash). The
// returned callback asks on its first call and then whenever the percent, the
// fill's width in pixels or the sampled speed differs from what it last asked
// for: every state that looks different is asked for, the last one included,
// and no paint merely repeats the one before.
ProgressCallback MakeProgressCallback(DownloadProgressState& state, std::function<std::uint64_t()> now,
                                      std::function<void()> repaint);

// What the paint shows, derived from the shared counts.
double ProgressRatio(std::uint64_t received, std::uint64_t total);
int PercentShown(double ratio);  // whole percent, half up
std::wstring PercentText(double ratio);
std::wstring SpeedText(double bytesPerSecond);
// The fill's width in pixels in a bar barWidth pixels wide.
int FillWidth(int barWidth, double ratio);

// Where the progress bar goes in the client rectangle, in client pixels, and
// the display scale it was laid out for, which the texts beside it follow.
struct BarGeometry {
    int x;
    int y;
    int width;
    int height;
    int right;      // x + width
    int fillWidth;  // 0 means no fill is drawn
    int dpi = 96;   // 96 is 100 %
};

// The bar's x, y, width and height (13 bits each, signed: up to 4095 pixels,
// over seven times the splash's 560) and its DPI (12 bits) in one word, so the
// paint can hand them to the worker thread in one store; 0 stands for no
// paint yet. Each field is clamped to its range (the DPI to 1 to 4095).
const int BarPlaceMin = -4096;
const int BarPlaceMax = 4095;
const int BarPlaceMaxDpi = 4095;
std::uint64_t PackBarPlace(const BarGeometry& bar);
BarGeometry UnpackBarPlace(std::uint64_t place);  // fillWidth 0
