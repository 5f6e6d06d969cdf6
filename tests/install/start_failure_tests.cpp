#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "common/kernel_handle.h"
#include "install/channel.h"
#include "net/widen.h"
#include "splash/progress.h"
#include "tests/install/notice_box.h"

namespace {

bool NoWorker(HWND) { return false; }

// The installer's window procedure in a window of its own.
HWND MakeSplash()
{
    static const bool registered = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"StartFailureSplash";
        return RegisterClassW(&windowClass) != 0;
    }();
    if (!registered)
        return nullptr;
    return CreateWindowExW(0, L"StartFailureSplash", L"", WS_POPUP, 0, 0, 560, 310, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Keeps the window's messages going, as the splash's message loop does.
void PumpUntil(const std::atomic<bool>& done, int milliseconds)
{
    MSG msg;
    for (int waited = 0; !done && waited < milliseconds; waited += 10) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

// The installer's own window procedure with a worker that cannot start: the
// download-failure notice comes once the window is shown, and the window stays.
TEST(WorkerStartFailure, NoticeAfterTheWindowIsShownAndTheWindowStays)
{
    ClearBrowserLog();
    StartWorker = NoWorker;
    HWND window = nullptr;
    std::wstring text;
    bool visibleDuringNotice = false;
    // The window procedure alone loads no pictures (the entry does), so the
    // notice is the only box.
    std::thread answer([&] {
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            visibleDuringNotice = IsWindowVisible(window) != FALSE;
            ClickBoxButton(box, IDCANCEL);
        }
    });
    window = MakeSplash();
    ASSERT_NE(nullptr, window);
    // Nothing has been said before the window is up.
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", NoticeCaption));
    ShowWindow(window, SW_SHOW);

    MSG msg;
    for (int waited = 0; text.empty() && waited < 30000; waited += 10) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    answer.join();
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);

    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), text);
    EXPECT_TRUE(visibleDuringNotice);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    ASSERT_TRUE(WaitForBrowserOpens(1));
    std::string page = BrowserOpens()[0];
    EXPECT_EQ(0u, page.rfind(std::string("https://") + TOLVIN_DOWNLOAD_HOST_FOR_TESTS + "/tolvin/", 0)) << page;

    // The display's scale set to 200 % while the splash shows: the window takes
    // the rectangle the system suggests and its next paint lays the splash out
    // at the new scale (no track picture here: a bar of W - 240 by 24).
    RECT suggested = {100, 50, 1220, 670};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    UpdateWindow(window);
    RECT frame = {};
    GetWindowRect(window, &frame);
    EXPECT_EQ((std::vector<LONG>{100, 50, 1220, 670}),
              (std::vector<LONG>{frame.left, frame.top, frame.right, frame.bottom}));
    const BarGeometry bar = UnpackBarPlace(DownloadProgress.barPlace.load());
    EXPECT_EQ((std::vector<int>{120, 550, 880, 24, 192}),
              (std::vector<int>{bar.x, bar.y, bar.width, bar.height, bar.dpi}));
    DestroyWindow(window);
}

}  // namespace

namespace {

KernelHandle RouteEntered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
KernelHandle RouteReleased(CreateEventW(nullptr, TRUE, FALSE, nullptr));

// A shell that takes its time and then fails, as a busy or stopped Explorer does.
bool HeldRoute(const wchar_t*)
{
    SetEvent(RouteEntered.handle);
    WaitForSingleObject(RouteReleased.handle, 15000);
    return false;
}

// While the notice waits for the shell (up to 10 s), the splash still answers
// its messages, and so keeps painting; the failed route then gives the box
// with the addresses to type.
TEST(WorkerStartFailure, SplashAnswersWhileTheShellRouteWaits)
{
    StartWorker = NoWorker;
    const ShellRoute ownRoute = UserShellRoute;
    UserShellRoute = HeldRoute;
    HWND window = MakeSplash();
    ASSERT_NE(nullptr, window);
    ShowWindow(window, SW_SHOW);

    bool entered = false;
    bool answered = false;
    std::wstring text;
    std::atomic<bool> done{false};
    std::thread user([&] {
        entered = WaitForSingleObject(RouteEntered.handle, 20000) == WAIT_OBJECT_0;
        DWORD_PTR result = 0;
        answered = entered && SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0;
        SetEvent(RouteReleased.handle);
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            ClickBoxButton(box, IDOK);
        }
        done = true;
    });
    PumpUntil(done, 60000);
    user.join();
    UserShellRoute = ownRoute;

    EXPECT_TRUE(entered) << "the notice did not take the shell's route";
    EXPECT_TRUE(answered) << "the splash answered nothing while the shell's route was waited for";
    const std::wstring page = WidenBytes(ChannelUrl(ChooseChannel()));
    EXPECT_EQ(ComposeAddressNoticeText(DownloadFailedMessage, page.c_str()), text);
    DestroyWindow(window);
}

}  // namespace
