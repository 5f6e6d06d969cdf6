#include "app/main_window.h"

#include <chrono>
#include <memory>

#include "app/close_gate.h"
#include "app/com_security.h"
#include "app/single_instance.h"
#include "common/joined_thread.h"
#include "install/failure_notice.h"
#include "install/install_worker.h"
#include "log/support_log.h"
#include "product/product_name.h"
#include "registry/product_registration.h"
#include "res/resource_ids.h"
#include "splash/accessible.h"
#include "splash/contrast.h"
#include "splash/display_scale.h"
#include "splash/keys.h"
#include "splash/paint.h"
#include "splash/picture_load.h"
#include "splash/png_resource.h"
#include "splash/progress.h"
#include "splash/taskbar_progress.h"
#include "splash/window_paint.h"

namespace {

// The pictures and GDI+, from the first paint to WM_DESTROY; UI thread only.
ULONG_PTR GdiplusToken = 0;
HBITMAP BackgroundBitmap = nullptr;
GpBitmapPtr TrackImage;
GpBitmapPtr FillImage;

// The fonts and the progress area's surface, kept while the window lives and
// made anew for each display scale it takes; its dpi is the window's.
std::unique_ptr<SplashCache> PaintCache;
StepPaintPacing PaintPacing;
// What screen readers are given of the window, from their first question on.
SplashAccessibility Accessibility;
// The download on the window's taskbar button, from its first show on.
TaskbarButton Taskbar;

const wchar_t WindowClassName[] = L"TolvinInstaller";
const int WindowWidth = 560;
const int WindowHeight = 310;

// Posted from WM_CREATE so the notice comes after the window is shown.
const UINT WM_WORKER_START_FAILED = WM_APP + 1;

// What the entry returns; read and written on the UI thread only (the worker's
// outcome arrives as a sent WM_INSTALL_EXIT_CODE). Until one arrives, a closed
// splash is the user's cancellation.
DWORD ExitCode = ERROR_INSTALL_USEREXIT;

const wchar_t BackgroundMissingText[] = L"\u80cc\u666f\u56fe\u52a0\u8f7d\u5931\u8d25\uff01";  // 背景图加载失败！
const wchar_t BackgroundMissingCaption[] = L"\u9519\u8bef";                                    // 错误

// Settles close requests against the launch; its flag tells the worker.
CloseGate Gate;
// Waited for at the end, briefly: after a close during the download it lets
// go at its next chunk, after its last message it is as good as done.
WaitedThread Worker;

bool StartWaitedWorker(HWND hwnd)
{
    try {
        ProgressCallback progress = MakeProgressCallback(hwnd);
        return StartWaitedThread(Worker, [hwnd, progress] { RunInstallWorker(hwnd, progress, Gate.closeBegun); });
    } catch (...) {
        return false;
    }
}

void OnCreate(HWND hwnd)
{
    PaintCache = std::make_unique<SplashCache>(WindowDpi(hwnd), ReadContrastScheme());
    if (!StartWorker(hwnd)) {
        // Without a worker nothing will be downloaded: tell the user as after a
        // failed download, once the window is up. The window then stays until
        // the user closes it.
        PostMessageW(hwnd, WM_WORKER_START_FAILED, 0, 0);
    }
}

// The window's 560 x 310 at dpi, centred on the primary screen.
RECT CenteredWindowRect(int dpi)
{
    const int width = ScaledPixels(WindowWidth, dpi);
    const int height = ScaledPixels(WindowHeight, dpi);
    const POINT origin =
        CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    return RECT{origin.x, origin.y, origin.x + width, origin.y + height};
}

// The pictures become the window's, released at WM_DESTROY. Called before
// the window is shown, as its first paint draws them.
void TakePictures(HWND hwnd, LoadedPictures& loaded)
{
    GdiplusToken = loaded.gdiplusToken;
    loaded.gdiplusToken = 0;
    BackgroundBitmap = loaded.background;
    loaded.background = nullptr;
    TrackImage = std::move(loaded.track);
    FillImage = std::move(loaded.fill);
    if (!BackgroundBitmap)
        MessageBoxW(hwnd, BackgroundMissingText, BackgroundMissingCaption, MB_ICONERROR);
}

void OnPaint(HWND hwnd)
{
    SplashPictures pictures{BackgroundBitmap, TrackImage.get(), FillImage.get()};
    PaintSplashWindow(hwnd, DownloadProgress, pictures, PaintCache.get(), PaintPacing);
}

void OnDestroy()
{
    // Before the pictures: its still part was drawn from them; and its GDI+
    // graphics must go before GdiplusShutdown.
    PaintCache.reset();
    if (BackgroundBitmap) {
        DeleteObject(BackgroundBitmap);
        BackgroundBitmap = nullptr;
    }
    TrackImage.reset();
    FillImage.reset();
    // Only after every GDI+ object is gone.
    if (GdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(GdiplusToken);
        GdiplusToken = 0;
    }
    PostQuitMessage(0);
}

// The display's scale changed while the splash shows (a change in Settings):
// the system suggests the rectangle at the new scale; the fonts and the
// progress area's surface are made again for it and everything is redrawn.
void OnDpiChanged(HWND hwnd, WPARAM wParam, const RECT& suggested)
{
    PaintCache = std::make_unique<SplashCache>(HIWORD(wParam), ReadContrastScheme());
    SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd, nullptr, FALSE);
}

void OnShownOrHidden(HWND hwnd, UINT flags)
{
    if (flags & SWP_SHOWWINDOW) {
        // The user just started it: keys go to it, not to the window
        // that was in front before.
        SetForegroundWindow(hwnd);
        SetFocus(hwnd);
        // Not waiting for TaskbarButtonCreated, which Wine never sends.
        OpenTaskbarButton(Taskbar, hwnd);
    }
    if (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) {
        AnnounceVisibility(hwnd);
        Taskbar.windowShown = (flags & SWP_SHOWWINDOW) != 0;
        FollowOnTaskbarButton(Taskbar, hwnd, DownloadProgress);
    }
}

// A click released on the close glyph asks to close, as Esc does.
void OnButtonUp(HWND hwnd, LPARAM lParam)
{
    RECT client;
    GetClientRect(hwnd, &client);
    if (IsCloseGlyphHit(client.right, lParam, PaintCache ? PaintCache->dpi : WindowDpi(hwnd)))
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

}  // namespace

WorkerStarter StartWorker = StartWaitedWorker;

bool IsCloseGlyphHit(int clientRight, LPARAM lParam, int dpi)
{
    // Both words unsigned, as the system packs them: a point left of or above
    // the client area reads as a large number and misses.
    const POINT point = {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(static_cast<DWORD>(lParam)))};
    const RECT area = CloseGlyphHitArea(clientRight, dpi);
    return PtInRect(&area, point) != FALSE;
}

POINT CenteredOrigin(int screenWidth, int screenHeight, int width, int height)
{
    POINT origin;
    origin.x = (screenWidth - width) / 2;
    origin.y = (screenHeight - height) / 2;
    return origin;
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd);
        return 0;
    case WM_PAINT:
        OnPaint(hwnd);
        AnnounceShownProgress(Accessibility, hwnd, DownloadProgress);
        FollowOnTaskbarButton(Taskbar, hwnd, DownloadProgress);
        return 0;
    case WM_GETOBJECT:
        return AnswerGetObject(Accessibility, hwnd, wParam, lParam, DownloadProgress);
    case WM_WINDOWPOSCHANGED:
        OnShownOrHidden(hwnd, reinterpret_cast<const WINDOWPOS*>(lParam)->flags);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (IsCloseKeystroke(message, wParam, lParam))
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        // Left to DefWindowProcW, Alt would enter menu mode and Alt+letter beep.
        return 0;
    case WM_TIMER:
        if (wParam != StepPaintClockId)
            return DefWindowProcW(hwnd, message, wParam, lParam);
        TickStepPaintClock(hwnd, DownloadProgress, PaintPacing);
        return 0;
    case WM_WORKER_START_FAILED:
        ExitCode = ERROR_INSTALL_FAILURE;
        ShowWorkerStartFailure(hwnd);
        return 0;
    case WM_INSTALL_EXIT_CODE:
        ExitCode = static_cast<DWORD>(wParam);
        return 0;
    case WM_FAILURE_NOTICE_SHOWN:
        Taskbar.failureShown = true;
        FollowOnTaskbarButton(Taskbar, hwnd, DownloadProgress);
        return 0;
    case WM_CLOSE:
        // Not DefWindowProcW's: once the setup program is starting, the window
        // stays until the worker is done with it. A logoff does not come this
        // way and is never held up.
        if (BeginClose(Gate))
            DestroyWindow(hwnd);
        return 0;
    case WM_INSTALL_MAY_LAUNCH:
        return GrantLaunch(Gate) ? TRUE : FALSE;
    case WM_INSTALL_DONE:
        DestroyWindow(hwnd);
        return 0;
    case WM_LBUTTONUP:
        OnButtonUp(hwnd, lParam);
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        FollowContrastScheme(hwnd, message, wParam, PaintCache);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_DPICHANGED:
        OnDpiChanged(hwnd, wParam, *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        DisconnectAccessibility(Accessibility);
        CloseTaskbarButton(Taskbar);
        OnDestroy();
        return 0;
    default:
        if (Taskbar.createdMessage != 0 && message == Taskbar.createdMessage) {
            RenewTaskbarButton(Taskbar, hwnd, DownloadProgress);
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

int RunInstallerApp(HINSTANCE instance, int showCommand)
{
    // Before anything else: a second copy downloads, registers and shows nothing.
    // A script that runs the installer must not read "installed" from a copy
    // that deferred, so it answers as Windows Installer does.
    InstanceMutex instanceMutex;
    if (!ClaimSingleInstance(instanceMutex)) {
        ShowRunningCopy(WindowClassName);
        return ERROR_INSTALL_ALREADY_RUNNING;
    }

    // Only the first paint needs GDI+ and the pictures: they are decoded
    // while this thread makes the window. On a way out before the window
    // takes them, the load is waited for and what it made released.
    // Before any thread makes a COM call (the picture thread's decoders may
    // be COM objects, as Wine's are). Held while the process runs.
    ProcessComSecurity com;
    PictureLoad pictures;
    StartPictureLoad(pictures, instance);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = WindowClassName;

    // Without a class or a window the message loop would wait forever for a
    // quit message nobody can send; nothing was installed.
    if (!RegisterClassW(&windowClass))
        return ERROR_INSTALL_FAILURE;
    // Made centred at the scale of the screen as a whole, which is the
    // primary monitor's, where it opens: moving it before it is shown costs
    // time on the way to the first paint. Moved only when its monitor's scale
    // turns out to be another.
    const int screenDpi = WindowDpi(nullptr);
    RECT place = CenteredWindowRect(screenDpi);
    const HWND window = CreateWindowExW(0, WindowClassName, InstallerTitle, WS_POPUP, place.left, place.top,
                                        place.right - place.left, place.bottom - place.top, nullptr, nullptr, instance,
                                        nullptr);
    if (!window)
        return ERROR_INSTALL_FAILURE;
    const int dpi = WindowDpi(window);
    if (dpi != screenDpi) {
        place = CenteredWindowRect(dpi);
        SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     SWP_NOZORDER);
    }

    TakePictures(window, FinishPictureLoad(pictures));
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    // Beside the first paint's way to the screen rather than before it; still
    // every start that shows the splash registers, however soon it is closed.
    // Only the copy that installs writes the log, and not before the splash is
    // up: the worker's steps meanwhile wait in memory.
    // Left running at the end when a disk holds it up; it owns what it uses.
    const auto registerProduct = [dpi] {
        OpenSupportLog(dpi);
        RegisterProduct();
    };
    WaitedThread registration;
    if (!StartWaitedThread(registration, registerProduct))
        registerProduct();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // Both at once and not past one deadline: a script waits for the exit code.
    // The one-copy name outlives both.
    const auto deadline = std::chrono::steady_clock::now() + WaitedThread::DefaultWait;
    Worker.LetGo(deadline);
    registration.LetGo(deadline);
    return static_cast<int>(ExitCode);
}
