#include "app/progress.h"

#include <cwchar>

DownloadProgressState DownloadProgress;

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
    std::uint64_t elapsed = now - lastTick;
    if (elapsed < 1000)
        return;
    std::uint64_t delta = received - state.lastSampleBytes.load(std::memory_order_relaxed);
    state.bytesPerSecond.store(static_cast<double>(delta) / (static_cast<double>(elapsed) / 1000.0),
                               std::memory_order_relaxed);
    state.lastSampleBytes.store(received, std::memory_order_relaxed);
    state.lastSampleTick.store(now, std::memory_order_relaxed);
}

ProgressCallback MakeProgressCallback(HWND hwnd)
{
    // Runs between two reads of the download: no formatting, no allocation, no drawing.
    return [hwnd](std::uint64_t received, std::uint64_t total) {
        RecordProgress(DownloadProgress, received, total, GetTickCount64());
        InvalidateRect(hwnd, nullptr, FALSE);
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

std::wstring PercentText(double ratio)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%d%%", static_cast<int>(ratio * 100.0 + 0.5));
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
