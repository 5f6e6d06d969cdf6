#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "splash/progress.h"
#include "tests/install/notice_box.h"

namespace {

bool NoWorker(HWND) { return false; }

// The installer's own window procedure with a worker that cannot start: the
// download-failure notice comes once the window is shown, and the window stays.
TEST(WorkerStartFailure, NoticeAfterTheWindowIsShownAndTheWindowStays)
{
    ClearBrowserLog();
    StartWorker = NoWorker;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"StartFailureSplash";
    ASSERT_TRUE(RegisterClassW(&windowClass));

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
    window = CreateWindowExW(0, L"StartFailureSplash", L"", WS_POPUP, 0, 0, 560, 310, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
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
