// Does showing the splash slow the download down, or cost CPU while it waits
// on a paced server? Shows a 560 x 310 window painted as the installer paints
// it and, on a worker thread, times DownloadIntoKeptFile with two progress callbacks,
// alternating:
//   a) MakeProgressCallback(hwnd): records, and asks for a paint when the
//      splash would look different; the UI thread paints as the installer's
//      window does, on its paint clock
//   b) RecordProgress only: the same counts, no invalidation, no paints
// See tools/bench-ui.sh, which starts the server and sums the results up.
//   ui_bench.exe URL WARMUP_URL SAVE_NAME ROUNDS
// URL may carry the server's rate= query to pace the body.
// WARMUP_URL (a small body) is fetched once before any timing, because the
// first TLS connection of a Wine process costs far more than the later ones.
// Odd rounds run a then b, even rounds b then a. Per run it prints
//   ROUND MODE SECONDS BYTES PAINTS PAINT_SECONDS UI_CPU WORKER_CPU PROCESS_CPU
// where PAINTS and PAINT_SECONDS are the WM_PAINTs handled while the download
// ran and their wall time, UI_CPU and WORKER_CPU are GetThreadTimes
// kernel+user and PROCESS_CPU is GetProcessTimes kernel+user (every thread of
// the process, GDI+'s and Wine's own included), all in seconds.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/kernel_handle.h"
#include "splash/gdi_holders.h"
#include "splash/paint.h"
#include "splash/png_resource.h"
#include "splash/progress.h"
#include "splash/taskbar_progress.h"
#include "splash/window_paint.h"
#include "net/download.h"
#include "res/resource_ids.h"

namespace {

const wchar_t BenchClassName[] = L"TolvinUiBench";
const UINT WM_BENCH_DONE = WM_APP + 1;

// What the window paints from, as the installer's globals are.
HBITMAP Background = nullptr;
GpBitmap* Track = nullptr;
GpBitmap* Fill = nullptr;
// As the installer's window keeps it, from its creation to WM_DESTROY.
std::unique_ptr<SplashCache> Cache;
StepPaintPacing Pacing;
// The installer's window follows each paint on its taskbar button.
TaskbarButton Taskbar;

// Written by the UI thread, read by the worker around each run.
std::atomic<std::uint64_t> PaintCount{0};
std::atomic<std::uint64_t> PaintTicks{0};  // QueryPerformanceCounter ticks spent in WM_PAINT

struct BenchConfig {
    HWND window;
    HANDLE uiThread;
    std::string url;
    std::string warmupUrl;
    std::string saveName;
    int rounds;
    int status;
};

std::uint64_t Ticks()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<std::uint64_t>(count.QuadPart);
}

double TicksToSeconds(std::uint64_t ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

double CpuSeconds(const FILETIME& kernel, const FILETIME& user)
{
    auto hundredNs = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(hundredNs(kernel) + hundredNs(user)) / 1e7;
}

// Kernel plus user time of a thread, in seconds; -1 when Windows will not say.
double ThreadCpuSeconds(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return -1.0;
    return CpuSeconds(kernel, user);
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1.0;
    return CpuSeconds(kernel, user);
}

// OnPaint of the installer's window, plus the count and the time taken.
void OnPaint(HWND hwnd)
{
    std::uint64_t start = Ticks();
    SplashPictures pictures{Background, Track, Fill};
    PaintSplashWindow(hwnd, DownloadProgress, pictures, Cache.get(), Pacing);
    FollowOnTaskbarButton(Taskbar, hwnd, DownloadProgress);
    PaintTicks.fetch_add(Ticks() - start, std::memory_order_relaxed);
    PaintCount.fetch_add(1, std::memory_order_relaxed);
}

LRESULT CALLBACK BenchWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        OnPaint(hwnd);
        return 0;
    case WM_TIMER:
        if (wParam == StepPaintClockId)
            TickStepPaintClock(hwnd, DownloadProgress, Pacing);
        return 0;
    case WM_BENCH_DONE:
        DestroyWindow(hwnd);
        return 0;
    case WM_CREATE:
        Cache = std::make_unique<SplashCache>();
        return 0;
    case WM_DESTROY:
        Cache.reset();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void ResetProgress()
{
    DownloadProgress.receivedBytes.store(0);
    DownloadProgress.totalBytes.store(0);
    DownloadProgress.bytesPerSecond.store(0.0);
    DownloadProgress.lastSampleTick.store(0);
    DownloadProgress.lastSampleBytes.store(0);
}

// One timed download; false when it failed.
bool TimedRun(BenchConfig& config, int round, char mode)
{
    ResetProgress();
    ProgressCallback callback;
    if (mode == 'a') {
        callback = MakeProgressCallback(config.window);
    } else {
        callback = [](std::uint64_t received, std::uint64_t total) {
            RecordProgress(DownloadProgress, received, total, GetTickCount64());
        };
    }

    std::uint64_t paintsBefore = PaintCount.load();
    std::uint64_t paintTicksBefore = PaintTicks.load();
    double uiBefore = ThreadCpuSeconds(config.uiThread);
    double workerBefore = ThreadCpuSeconds(GetCurrentThread());
    double processBefore = ProcessCpuSeconds();
    std::uint64_t start = Ticks();

    DownloadFailure failure;
    bool ok = DownloadIntoKeptFile(config.url, config.saveName, std::move(callback), failure);

    double seconds = TicksToSeconds(Ticks() - start);
    double uiCpu = ThreadCpuSeconds(config.uiThread) - uiBefore;
    double workerCpu = ThreadCpuSeconds(GetCurrentThread()) - workerBefore;
    double processCpu = ProcessCpuSeconds() - processBefore;
    std::uint64_t paints = PaintCount.load() - paintsBefore;
    double paintSeconds = TicksToSeconds(PaintTicks.load() - paintTicksBefore);

    if (!ok)
        std::fprintf(stderr, "round %d mode %c: DownloadIntoKeptFile failed: %s\n", round, mode,
                     failure.reason.c_str());
    std::printf("%d %c %.6f %llu %llu %.6f %.6f %.6f %.6f\n", round, mode, seconds,
                static_cast<unsigned long long>(DownloadProgress.receivedBytes.load()),
                static_cast<unsigned long long>(paints), paintSeconds, uiCpu, workerCpu, processCpu);
    std::fflush(stdout);
    DeleteFileA(config.saveName.c_str());
    // Lets the repaint still pending from mode a land before the next run starts.
    Sleep(200);
    return ok;
}

void RunWorker(BenchConfig* config)
{
    DownloadFailure warmupFailure;
    if (!DownloadIntoKeptFile(config->warmupUrl, config->saveName, nullptr, warmupFailure)) {
        std::fprintf(stderr, "warm-up failed: %s\n", warmupFailure.reason.c_str());
        config->status = 1;
    }
    DeleteFileA(config->saveName.c_str());
    for (int round = 1; round <= config->rounds && config->status == 0; ++round) {
        const char* order = round % 2 == 1 ? "ab" : "ba";
        for (const char* mode = order; *mode; ++mode) {
            if (!TimedRun(*config, round, *mode))
                config->status = 1;
        }
    }
    PostMessageW(config->window, WM_BENCH_DONE, 0, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: ui_bench URL WARMUP_URL SAVE_NAME ROUNDS\n");
        return 2;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);

    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "GDI+ did not start\n");
        return 1;
    }
    int status = 0;
    {
        GdiObject background(LoadImageW(instance, MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0));
        GpBitmapPtr track = LoadPngResource(IDP_TRACK, L"PNG");
        GpBitmapPtr fill = LoadPngResource(IDP_FILL, L"PNG");
        // Without the pictures the paint takes its cheaper fallbacks and the
        // figures would not be the installer's.
        if (!background.get() || !track || !fill) {
            std::fprintf(stderr, "the shipped pictures did not load\n");
            status = 1;
        } else {
            Background = static_cast<HBITMAP>(background.get());
            Track = track.get();
            Fill = fill.get();

            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = BenchWindowProc;
            windowClass.hInstance = instance;
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.lpszClassName = BenchClassName;
            HWND window = nullptr;
            if (RegisterClassW(&windowClass)) {
                const int width = 560;
                const int height = 310;
                window = CreateWindowExW(0, BenchClassName, L"ui bench", WS_POPUP,
                                         (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                         (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                                         nullptr, instance, nullptr);
            }
            KernelHandle uiThread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId()));
            if (!window || !uiThread.Valid()) {
                std::fprintf(stderr, "no window (no display?)\n");
                status = 1;
            } else {
                // The installer's UI thread holds an apartment, which the taskbar's object needs.
                const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
                ShowWindow(window, SW_SHOWNORMAL);
                Taskbar.windowShown = true;
                OpenTaskbarButton(Taskbar, window);
                UpdateWindow(window);
                BenchConfig config{window, uiThread.handle, argv[1], argv[2], argv[3], std::max(1, std::atoi(argv[4])),
                                   0};
                std::thread worker(RunWorker, &config);
                MSG msg;
                while (GetMessageW(&msg, nullptr, 0, 0)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
                worker.join();
                status = config.status;
                CloseTaskbarButton(Taskbar);
                if (SUCCEEDED(apartment))
                    CoUninitialize();
            }
            Background = nullptr;
            Track = nullptr;
            Fill = nullptr;
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return status;
}
