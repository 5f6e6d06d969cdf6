#include "app/progress.h"

DownloadProgressState DownloadProgress;

// Placeholder until the progress meter lands: records nothing, shows zero.
void RecordProgress(DownloadProgressState&, std::uint64_t, std::uint64_t, std::uint64_t) {}
ProgressCallback MakeProgressCallback(HWND) { return ProgressCallback(); }
double ProgressRatio(std::uint64_t, std::uint64_t) { return 0.0; }
std::wstring PercentText(double) { return L"0%"; }
std::wstring SpeedText(double) { return L"0 KB/s"; }
