#include <gtest/gtest.h>
#include <objbase.h>
#include <winhttp.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "install/clock_check.h"
#include "install/failure_notice.h"
#include "net/free_space.h"
#include "tests/install/notice_box.h"

namespace {

const wchar_t PageSentence[] =
    L"\u5df2\u4e3a\u60a8\u6253\u5f00\u4e0b\u8f7d\u9875\u9762\uff0c\u8bf7\u624b\u52a8\u5b89\u88c5\u3002\n\n";
const wchar_t ButtonHint[] =
    L"\u70b9\u51fb\"\u786e\u5b9a\"\u8054\u7cfb\u5ba2\u670d\n\u70b9\u51fb\"\u53d6\u6d88\"\u7a0d\u540e\u5904\u7406";

TEST(NoticeText, DownloadFailureIs59Units)
{
    std::wstring text = ComposeNoticeText(DownloadFailedMessage, true);
    EXPECT_EQ(59u, text.size());
    EXPECT_EQ(std::wstring(DownloadFailedMessage) + L"\n\n" + PageSentence + ButtonHint, text);
}

TEST(NoticeText, LaunchFailureIs62Units)
{
    std::wstring text = ComposeNoticeText(LaunchFailedMessage, true);
    EXPECT_EQ(62u, text.size());
    EXPECT_EQ(std::wstring(LaunchFailedMessage) + L"\n\n" + PageSentence + ButtonHint, text);
}

TEST(NoticeText, WithoutPageTheSentenceIsLeftOut)
{
    EXPECT_EQ(std::wstring(DownloadFailedMessage) + L"\n\n" + ButtonHint,
              ComposeNoticeText(DownloadFailedMessage, false));
}

TEST(NoticeText, HintUsesAsciiQuotationMarks)
{
    std::wstring text = ComposeNoticeText(L"x", false);
    // x, two line feeds, then 点击"确定"联系客服 \n 点击"取消"稍后处理
    ASSERT_EQ(24u, text.size());
    for (size_t at : {5u, 8u, 16u, 19u})
        EXPECT_EQ(L'"', text[at]) << at;
    EXPECT_EQ(L'\n', text[13]);
}

// The texts themselves are read from the box end to end (e2e_install); here
// only what they compute: the room check's length and margin in megabytes
// rounded up, and the date as YYYY-MM-DD with its zeros.
TEST(NoticeText, DiskSpaceInWholeMegabytesRoundedUpAndTheComputersDate)
{
    const std::uint64_t mib = 1024 * 1024;
    EXPECT_NE(std::wstring::npos, DiskFullMessage(2 * mib).find(L" 3 MB"));
    EXPECT_NE(std::wstring::npos, DiskFullMessage(2 * mib + 1).find(L" 4 MB"));
    EXPECT_NE(std::wstring::npos, DiskFullMessage(0).find(L" 1 MB"));
    EXPECT_TRUE(IsDiskFull(1295));  // ERROR_DISK_QUOTA_EXCEEDED: freeing space puts it right too
    SYSTEMTIME date = {};
    date.wYear = 2022;
    date.wMonth = 1;
    date.wDay = 5;
    EXPECT_NE(std::wstring::npos, ClockBehindMessage(date).find(L" 2022-01-05\uff09"));
}

// A certificate's dates are the clock's fault only when the computer's date
// is earlier than the build's; by date, not by the second.
TEST(ClockBehind, OnlyACertificateDateFailureOnAnEarlierDay)
{
    const std::int64_t built = 1796793020;  // 2026-12-09 05:10:20 UTC
    const std::int64_t day = 24 * 60 * 60;
    const std::int64_t builtDayStart = built - built % day;
    const DWORD dates = ERROR_WINHTTP_SECURE_CERT_DATE_INVALID;
    EXPECT_TRUE(IsClockBehind(dates, built - 4 * 365 * day, built));
    EXPECT_TRUE(IsClockBehind(dates, builtDayStart - 1, built));
    EXPECT_TRUE(IsClockBehind(static_cast<DWORD>(CERT_E_EXPIRED), built - 30 * day, built));
    // Wine 8's whole answer to a certificate outside its dates.
    EXPECT_TRUE(IsClockBehind(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, built - 30 * day, built));
    EXPECT_TRUE(IsClockBehind(dates, -day, built));  // a clock before 1970
    // The same day, or later: the server's certificate is at fault.
    EXPECT_FALSE(IsClockBehind(dates, builtDayStart, built));
    EXPECT_FALSE(IsClockBehind(dates, built + 400 * day, built));
    // Other failures (a secure failure whose reason, when Windows gives one,
    // is not the dates), and a build whose date is unknown.
    EXPECT_FALSE(IsClockBehind(ERROR_WINHTTP_SECURE_FAILURE, built - 4 * 365 * day, built));
    EXPECT_FALSE(IsClockBehind(ERROR_WINHTTP_SECURE_INVALID_CA, built - 4 * 365 * day, built));
    EXPECT_FALSE(IsClockBehind(0, built - 4 * 365 * day, built));
    EXPECT_FALSE(IsClockBehind(dates, built - 4 * 365 * day, 0));
}

TEST(NoticeText, SupportAddressIsSchemeAndHostOnly)
{
    std::wstring address = SupportAddress;
    ASSERT_EQ(0u, address.rfind(L"https://", 0));
    std::wstring host = address.substr(8);
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(std::wstring::npos, host.find(L'/'));
}

// The notice is shown on this thread; a helper finds the box by its caption,
// records what it showed and answers it.
class NoticeBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(BrowserLogPath().empty()) << "the test runs with TOLVIN_BROWSER_LOG set";
        ClearBrowserLog();

        owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, owner_);
    }
    void TearDown() override
    {
        if (owner_)
            DestroyWindow(owner_);
    }

    struct Seen {
        bool found = false;
        std::wstring text;
        HWND owner = nullptr;
        bool okVisible = false;
        bool cancelVisible = false;
        size_t opensBeforeAnswer = 0;
    };

    // Shows the notice and answers it with `answer` once `opensBeforeAnswer`
    // browser opens are recorded (or the wait ran out).
    Seen Run(const wchar_t* message, const wchar_t* page, size_t opensBeforeAnswer,
             std::function<void(HWND box)> answer, ShellRoute route = OpenThroughDesktopShell)
    {
        Seen seen;
        std::thread helper([&] {
            HWND box = WaitForNoticeBox();
            if (!box)
                return;
            seen.found = true;
            seen.text = BoxText(box);
            seen.owner = GetWindow(box, GW_OWNER);
            seen.okVisible = IsWindowVisible(GetDlgItem(box, IDOK)) != FALSE;
            seen.cancelVisible = IsWindowVisible(GetDlgItem(box, IDCANCEL)) != FALSE;
            WaitForBrowserOpens(opensBeforeAnswer);
            seen.opensBeforeAnswer = BrowserOpens().size();
            answer(box);
        });
        ShowFailureNotice(owner_, message, page, route);
        helper.join();
        return seen;
    }

    HWND owner_ = nullptr;
};

const wchar_t Page[] = L"https://localhost:48443/tolvin/release";
const char PageNarrow[] = "https://localhost:48443/tolvin/release";

std::string Narrow(const wchar_t* ascii)
{
    std::string s;
    for (; *ascii; ++ascii)
        s += static_cast<char>(*ascii);
    return s;
}

// Wine's winebrowser passes URLs on in canonical form, which gives a bare
// host the root path: ShellExecuteW got "https://host", the recorder sees "https://host/".
std::string RecordedSupportAddress() { return Narrow(SupportAddress) + "/"; }

void Click(HWND box, int id) { ClickBoxButton(box, id); }

TEST_F(NoticeBox, OkOpensThePageThenTheSupportSite)
{
    Seen seen = Run(DownloadFailedMessage, Page, 1, [](HWND box) { Click(box, IDOK); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), seen.text);
    EXPECT_EQ(owner_, seen.owner);
    EXPECT_TRUE(seen.okVisible);
    EXPECT_TRUE(seen.cancelVisible);
    // The page was open before the user answered.
    EXPECT_EQ(1u, seen.opensBeforeAnswer);
    ASSERT_TRUE(WaitForBrowserOpens(2));
    EXPECT_EQ((std::vector<std::string>{PageNarrow, RecordedSupportAddress()}), BrowserOpens());
}

TEST_F(NoticeBox, CancelOpensOnlyThePage)
{
    Seen seen = Run(LaunchFailedMessage, Page, 1, [](HWND box) { Click(box, IDCANCEL); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(ComposeNoticeText(LaunchFailedMessage, true), seen.text);
    EXPECT_EQ(1u, seen.opensBeforeAnswer);
    // Give a wrongly started support open the time a real one takes.
    EXPECT_FALSE(WaitForBrowserOpens(2, 3));
    EXPECT_EQ((std::vector<std::string>{PageNarrow}), BrowserOpens());
}

TEST_F(NoticeBox, EscapeAndCloseBehaveLikeCancel)
{
    Seen escaped = Run(DownloadFailedMessage, Page, 1, [](HWND box) {
        PostMessageW(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    ASSERT_TRUE(escaped.found);
    Seen closed = Run(DownloadFailedMessage, Page, 2, [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); });
    ASSERT_TRUE(closed.found);
    EXPECT_FALSE(WaitForBrowserOpens(3, 3));
    EXPECT_EQ((std::vector<std::string>{PageNarrow, PageNarrow}), BrowserOpens());
}

TEST_F(NoticeBox, WithoutPageNothingOpensBeforeTheBox)
{
    Seen seen = Run(DownloadFailedMessage, nullptr, 0, [](HWND box) { Click(box, IDOK); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, false), seen.text);
    EXPECT_EQ(0u, seen.opensBeforeAnswer);
    ASSERT_TRUE(WaitForBrowserOpens(1));
    EXPECT_EQ((std::vector<std::string>{RecordedSupportAddress()}), BrowserOpens());
}

// Elevated with no desktop shell to open them as the user, or with COM's
// process-wide security not set (Wine's CoInitializeSecurity always succeeds,
// so its failure is handed in): neither address is opened elevated instead,
// and the box gives both for the user to type, with OK alone, as it opens nothing.
TEST_F(NoticeBox, WithoutTheUsersShellTheBoxGivesTheAddresses)
{
    ASSERT_TRUE(ProcessIsElevated()) << "under Wine every process is elevated";
    const ShellRoute failing = [](const wchar_t*) { return false; };
    for (ShellRoute route : {failing, ShellRouteUnder(E_ACCESSDENIED)}) {
        ClearBrowserLog();
        Seen seen = Run(DownloadFailedMessage, Page, 0, [](HWND box) { Click(box, IDOK); }, route);
        ASSERT_TRUE(seen.found);
        // 请在浏览器中打开下载页面，手动安装： / 联系客服请访问：
        EXPECT_EQ(std::wstring(DownloadFailedMessage) +
                      L"\n\n\u8bf7\u5728\u6d4f\u89c8\u5668\u4e2d\u6253\u5f00\u4e0b\u8f7d\u9875\u9762\uff0c\u624b\u52a8"
                      L"\u5b89\u88c5\uff1a\n" +
                      Page + L"\n\n\u8054\u7cfb\u5ba2\u670d\u8bf7\u8bbf\u95ee\uff1a\n" + SupportAddress,
                  seen.text);
        EXPECT_TRUE(seen.okVisible);
        EXPECT_FALSE(seen.cancelVisible);
        EXPECT_FALSE(WaitForBrowserOpens(1, 3));
        EXPECT_EQ(std::vector<std::string>{}, BrowserOpens());
    }
}

// The page opened, the support site did not: after OK the user is given its
// address in a second box.
TEST_F(NoticeBox, ASupportSiteThatDoesNotOpenIsGivenAsItsAddress)
{
    std::wstring second;
    Seen seen = Run(DownloadFailedMessage, Page, 0,
                    [&second](HWND box) {
                        const std::wstring first = BoxText(box);
                        Click(box, IDOK);
                        for (int waited = 0; waited < 20000 && second.empty(); waited += 50) {
                            HWND next = FindWindowW(L"#32770", NoticeCaption);
                            if (next && BoxText(next) != first) {
                                second = BoxText(next);
                                Click(next, IDOK);
                            } else {
                                Sleep(50);
                            }
                        }
                    },
                    [](const wchar_t* url) { return std::wstring(url) != SupportAddress; });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), seen.text);
    // 联系客服请访问：
    EXPECT_EQ(std::wstring(L"\u8054\u7cfb\u5ba2\u670d\u8bf7\u8bbf\u95ee\uff1a\n") + SupportAddress, second);
}

// A shell that does not answer holds the route; it is let go once the caller
// gave up, and then reads the address it was given.
HANDLE RouteReleased = nullptr;
HANDLE RouteDone = nullptr;
std::wstring RouteSaw;
HRESULT RouteApartment = E_FAIL;

bool HangingRoute(const wchar_t* url)
{
    RouteApartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(RouteApartment))
        CoUninitialize();
    WaitForSingleObject(RouteReleased, 30000);
    RouteSaw = url;
    SetEvent(RouteDone);
    return true;
}

TEST(ShellRoute, AShellThatDoesNotAnswerIsAFailedRouteAfterTenSeconds)
{
    ASSERT_TRUE(ProcessIsElevated()) << "under Wine every process is elevated";
    RouteReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RouteDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RouteReleased && RouteDone);
    std::wstring url = Page;
    auto start = std::chrono::steady_clock::now();
    bool opened = OpenAsUser(url.c_str(), HangingRoute);
    auto waited = std::chrono::steady_clock::now() - start;
    // The caller's text is gone before the abandoned call reads it.
    url.assign(url.size(), L'x');
    SetEvent(RouteReleased);
    EXPECT_FALSE(opened);
    EXPECT_GE(waited, std::chrono::milliseconds(9900));
    EXPECT_LT(waited, std::chrono::milliseconds(15000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(RouteDone, 10000));
    EXPECT_EQ(Page, RouteSaw);
    // The route ran in a single-threaded apartment of its own thread.
    EXPECT_EQ(S_FALSE, RouteApartment);
    CloseHandle(RouteReleased);
    CloseHandle(RouteDone);
}

}  // namespace
