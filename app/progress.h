#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "net/download.h"

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
};

extern DownloadProgressState DownloadProgress;

// Stores the counts and samples the speed at most once per 1000 ms of `now`
// (milliseconds, as GetTickCount64 gives them).
void RecordProgress(DownloadProgressState& state, std::uint64_t received, std::uint64_t total,
                    std::uint64_t now);

// The callback the worker hands to DownloadFile: records into DownloadProgress
// and asks hwnd to repaint.
ProgressCallback MakeProgressCallback(HWND hwnd);

// What the paint shows, derived from the shared counts.
double ProgressRatio(std::uint64_t received, std::uint64_t total);
std::wstring PercentText(double ratio);
std::wstring SpeedText(double bytesPerSecond);
