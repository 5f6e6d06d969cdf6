#include "splash/progress.h"

#include <cwchar>

DownloadProgressState DownloadProgress;

namespace {

// What one paint shows of the progress, in the units that tell two paints
// apart. The speed is kept as the number its text is made from rather than
// the text: the text can only change with the number, the number changes at
// most once a second, and comparing it needs no formatting.
struct ShownProgress {
    int percent;
    int fillWidth;
    double bytesPerSecond;
};

ShownProgress ShownProgressOf(std::uint64_t received, std::uint64_t total, double bytesPerSecond, int barWidth)
{
    const double ratio = ProgressRatio(received, total);
    return ShownProgress{PercentShown(ratio), FillWidth(barWidth, ratio), bytesPerSecond};
}

bool SameShownProgress(const ShownProgress& a, const ShownProgress& b)
{
    return a.percent == b.percent && a.fillWidth == b.fillWidth && a.bytesPerSecond == b.bytesPerSecond;
}

}  // namespace

void RecordProgress(DownloadProgressState& state, std::uint64_t received, std::uint64_t total,
                    std::uint64_t now)
{
    state.receivedBytes.store(received, std::memory_order_relaxed);
    state.totalBytes.store(total, std::memory_order_relaxed);

    std::uint64_t lastTick = state.lastSampleTick.load(std::memory_order_relaxed);
    if (lastTick == 0) {
        // The first call only sets the baseline: there is no interval to measure yet.
        state.bytesPerSecond.store(0.0, std::memory_order_relaxed);
        state.lastSampleBytes.store(received, std::memory_order_relaxed);
        state.lastSampleTick.store(now, std::memory_order_relaxed);
        return;
    }
    const std::uint64_t lastBytes = state.lastSampleBytes.load(std::memory_order_relaxed);
    if (received < lastBytes) {
        // The server started the file over: the count went back, so the next
        // interval is measured from here. The speed shown stays the last one
        // measured, which the connection still has.
        state.lastSampleBytes.store(received, std::memory_order_relaxed);
        state.lastSampleTick.store(now, std::memory_order_relaxed);
        return;
    }
    std::uint64_t elapsed = now - lastTick;
    if (elapsed < 1000)
        return;
    std::uint64_t delta = received - lastBytes;
    state.bytesPerSecond.store(static_cast<double>(delta) / (static_cast<double>(elapsed) / 1000.0),
                               std::memory_order_relaxed);
    state.lastSampleBytes.store(received, std::memory_order_relaxed);
    state.lastSampleTick.store(now, std::memory_order_relaxed);
}

ProgressCallback MakeProgressCallback(DownloadProgressState& state, std::function<std::uint64_t()> now,
                                      std::function<void()> repaint)
{
    // What was last asked for lives in the callback, so only the worker thread
    // that calls it ever touches it.
    struct LastRequest {
        bool made;
        ShownProgress shown;
    };
    // Runs between two reads of the download: no formatting, no allocation, no
    // drawing, no lock. A paint costs far more than a chunk, so it is asked for
    // only when its pixels would differ: a body of any size then asks at most
    // once per pixel of the bar and per percent, plus once per speed sample,
    // where once per 8 KiB chunk kept the UI thread painting without pause.
    // How many of those asks become paints is the window's paint clock's
    // business.
    return [&state, now = std::move(now), repaint = std::move(repaint), last = LastRequest{false, {}}](
               std::uint64_t received, std::uint64_t total) mutable {
        RecordProgress(state, received, total, now());
        const ShownProgress shown =
            ShownProgressOf(received, total, state.bytesPerSecond.load(std::memory_order_relaxed),
                            UnpackBarPlace(state.barPlace.load(std::memory_order_relaxed)).width);
        if (last.made && SameShownProgress(shown, last.shown))
            return;
        // Asked for after the counts are stored, so the paint it brings reads
        // these counts or later ones, never earlier ones.
        last = LastRequest{true, shown};
        repaint();
    };
}

double ProgressRatio(std::uint64_t received, std::uint64_t total)
{
    if (total == 0)
        return 0.0;
    double ratio = static_cast<double>(received) / static_cast<double>(total);
    // The paint may pair counts from different callback calls.
    if (ratio > 1.0)
        return 1.0;
    if (ratio < 0.0)
        return 0.0;
    return ratio;
}

int PercentShown(double ratio)
{
    return static_cast<int>(ratio * 100.0 + 0.5);
}

std::wstring PercentText(double ratio)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%d%%", PercentShown(ratio));
    return text;
}

std::wstring SpeedText(double bytesPerSecond)
{
    if (bytesPerSecond <= 0.0)
        return L"0 KB/s";
    wchar_t text[32];
    double kb = bytesPerSecond * 0.0009765625;
    if (kb < 1024.0)
        std::swprintf(text, 32, L"%.0f KB/s", kb);
    else
        std::swprintf(text, 32, L"%.2f MB/s", kb * 0.0009765625);
    return text;
}

int FillWidth(int barWidth, double ratio)
{
    int fill = static_cast<int>(barWidth * ratio + 0.5);
    return fill > 0 && fill > barWidth ? barWidth : fill;
}

std::uint64_t PackBarPlace(const BarGeometry& bar)
{
    // Clamped, not cut: a value past a field's range would otherwise come back
    // as another number, of the other sign, or spill into its neighbour.
    auto clamp = [](int value, int low, int high) { return value < low ? low : value > high ? high : value; };
    auto field = [clamp](int value, int shift) {
        return (std::uint64_t(clamp(value, BarPlaceMin, BarPlaceMax)) & 0x1FFF) << shift;
    };
    // Never 0, so that a painted word differs from "no paint yet".
    const std::uint64_t dpi = std::uint64_t(clamp(bar.dpi, 1, BarPlaceMaxDpi));
    return field(bar.x, 51) | field(bar.y, 38) | field(bar.width, 25) | field(bar.height, 12) | dpi;
}

BarGeometry UnpackBarPlace(std::uint64_t place)
{
    // Shifted up to the top and back, so the sign comes along.
    auto field = [place](int shift) { return int(std::int64_t(place << (51 - shift)) >> 51); };
    BarGeometry bar = {};
    bar.x = field(51);
    bar.y = field(38);
    bar.width = field(25);
    bar.height = field(12);
    bar.right = bar.x + bar.width;
    bar.dpi = int(place & 0xFFF);
    return bar;
}
