#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "install/channel.h"
#include "install/install_worker.h"
#include "install/setup_publisher.h"
#include "net/downloaded_file.h"
#include "net/widen.h"
#include "tests/install/notice_box.h"

namespace {

TEST(ExeSuffix, OnlyAnExactLowerCaseSuffixCounts)
{
    EXPECT_FALSE(NeedsExeSuffix(L"tolvin-setup.exe"));
    EXPECT_FALSE(NeedsExeSuffix(L".exe"));
    EXPECT_TRUE(NeedsExeSuffix(L"SETUP.EXE"));
    EXPECT_TRUE(NeedsExeSuffix(L"setup.Exe"));
    EXPECT_TRUE(NeedsExeSuffix(L"setup.exe "));
    EXPECT_TRUE(NeedsExeSuffix(L"setup"));
    EXPECT_TRUE(NeedsExeSuffix(L"exe"));  // under 4 units
    EXPECT_TRUE(NeedsExeSuffix(L""));
}

TEST(SaveNameWidening, OneUnitPerByteLikeTheDownloadEngine)
{
    EXPECT_EQ(L"tolvin-setup.exe", WidenBytes("tolvin-setup.exe"));
    // Bytes above 0x7F map as the download engine maps them when it creates the file.
    EXPECT_EQ(std::wstring(L"a\x00E4z"), WidenBytes("a\xE4z"));
}

TEST(RuntimeVersion, EmptySentinelAndFullBuffer)
{
    wchar_t pv[256] = {};
    EXPECT_FALSE(IsRuntimeVersion(pv));
    wcscpy(pv, L"0.0.0.0");
    EXPECT_FALSE(IsRuntimeVersion(pv));
    wcscpy(pv, L"0.0.0.0 ");
    EXPECT_TRUE(IsRuntimeVersion(pv));
    wcscpy(pv, L"0.0.0");
    EXPECT_TRUE(IsRuntimeVersion(pv));
    wcscpy(pv, L"120.0.2210.91");
    EXPECT_TRUE(IsRuntimeVersion(pv));
    // Filled to the last unit without a NUL: measured within the buffer, a version.
    for (wchar_t& unit : pv)
        unit = L'9';
    EXPECT_TRUE(IsRuntimeVersion(pv));
}

TEST(ChannelUrl, SameHostThreePaths)
{
    std::string host = std::string("https://") + TOLVIN_DOWNLOAD_HOST_FOR_TESTS;
    EXPECT_EQ(host + "/tolvin/win7", ChannelUrl(Channel::Win7));
    EXPECT_EQ(host + "/tolvin/release", ChannelUrl(Channel::Release));
    EXPECT_EQ(host + "/tolvin/ebwebview", ChannelUrl(Channel::EbWebView));
}

// RunInstall on a worker thread against a splash stand-in on this thread, in
// a fresh current directory, with the download replaced.
std::atomic<int> CloseRequests{0};
// The last exit code the worker sent the window, -1 for none.
std::atomic<long> ExitCode{-1};

LRESULT CALLBACK SplashStandIn(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        ++CloseRequests;
        return 0;  // counted, not acted upon
    }
    if (message == WM_INSTALL_EXIT_CODE) {
        ExitCode = static_cast<long>(wParam);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// fake_setup.exe, or one of its signed variants (tools/sign-test-setups.sh),
// next to this test executable.
std::wstring FakeSetupPath(const wchar_t* variant = L"")
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"fake_setup" + variant + L".exe";
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the download engine leaves the worker: `bytes` in saveName, still open
// and marked to delete itself.
bool HoldDownload(const std::string& bytes, const std::string& saveName, DownloadedFile& file)
{
    DWORD written = 0;
    return CreateDownloadedFile(WidenBytes(saveName), file) &&
           WriteFile(file.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A stand-in download that hands out the given setup program.
Downloader Serve(const std::wstring& program)
{
    return [program](const std::string&, const std::string& saveName, ProgressCallback, DownloadedFile& file,
                     DownloadFailure&) { return HoldDownload(ReadBytes(program), saveName, file); };
}

bool Exists(const wchar_t* name) { return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFile(const wchar_t* name)
{
    std::ifstream in(name);
    std::string text;
    std::getline(in, text);
    return text;
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearBrowserLog();
        CloseRequests = 0;
        ExitCode = -1;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        wchar_t dir[MAX_PATH];
        GetTempFileNameW(temp, L"tw", 0, dir);
        DeleteFileW(dir);
        ASSERT_TRUE(CreateDirectoryW(dir, nullptr));
        workDir_ = dir;
        GetCurrentDirectoryW(MAX_PATH, temp);
        previousDir_ = temp;
        ASSERT_TRUE(SetCurrentDirectoryW(workDir_.c_str()));

        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = SplashStandIn;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SplashStandIn";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"SplashStandIn", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window_);
    }
    void TearDown() override
    {
        DestroyWindow(window_);
        SetCurrentDirectoryW(previousDir_.c_str());
        // Whatever the test left behind.
        WIN32_FIND_DATAW found;
        std::wstring pattern = workDir_ + L"\\*";
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((workDir_ + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(workDir_.c_str());
    }

    // Keeps the window's messages going, as the splash's message loop does.
    static void PumpUntil(const std::atomic<bool>& done)
    {
        for (int waited = 0; !done && waited < 60000; waited += 10) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            Sleep(10);
        }
    }

    // Runs the worker while this thread keeps the window's messages going,
    // as the splash's message loop does.
    void RunWorker(const std::string& saveName, const Downloader& download, const std::wstring& publisher = L"")
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            RunInstall(window_, Url, saveName, publisher, download, RecordProgress());
            done = true;
        });
        PumpUntil(done);
        worker.join();
        // The close request is posted last; deliver it.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }

    // The callback the window would hand the worker, recording what reaches it.
    ProgressCallback RecordProgress()
    {
        return [this](std::uint64_t received, std::uint64_t total) { progress_.emplace_back(received, total); };
    }

    static constexpr const char* Url = "https://localhost:48443/tolvin/ebwebview";
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress_;
    std::wstring workDir_;
    std::wstring previousDir_;
    HWND window_ = nullptr;
};

TEST_F(Worker, DownloadedProgramRunsHiddenIsWaitedForThenDeleted)
{
    std::string seenUrl, seenName, seenError = "untouched";
    RunWorker("tolvin-setup.exe", [&](const std::string& url, const std::string& saveName, ProgressCallback progress,
                                      DownloadedFile& file, DownloadFailure& failure) {
        seenUrl = url;
        seenName = saveName;
        seenError = failure.reason;
        progress(4096, 8192);
        return HoldDownload(ReadBytes(FakeSetupPath()), saveName, file);
    });
    EXPECT_EQ(Url, seenUrl);
    EXPECT_EQ("tolvin-setup.exe", seenName);
    EXPECT_EQ("", seenError);
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> handedOn = {{4096, 8192}};
    EXPECT_EQ(handedOn, progress_);

    // Ran to its end before the file went, with no command line of its own.
    std::string ran = ReadFile(L"fake-setup-ran.txt");
    EXPECT_NE(std::string::npos, ran.find("tolvin-setup.exe")) << ran;
    EXPECT_EQ(std::string::npos, ran.find(' ', ran.find("tolvin-setup.exe"))) << ran;
    EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(1, CloseRequests.load());
    EXPECT_EQ(7, ExitCode.load()) << "fake_setup's own exit code, passed on";
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", NoticeCaption));
    EXPECT_TRUE(BrowserOpens().empty());
}

TEST_F(Worker, DownloadDoneBeforeTheWindowIsShownStillHidesIt)
{
    // As at start-up: the window exists but the entry has not shown it yet
    // when a very quick download completes.
    ShowWindow(window_, SW_HIDE);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        RunInstall(window_, Url, "tolvin-setup.exe", L"", Serve(FakeSetupPath()), RecordProgress());
        done = true;
    });
    Sleep(500);  // the rest of window creation and the centring
    ShowWindow(window_, SW_SHOW);
    PumpUntil(done);
    worker.join();
    EXPECT_TRUE(Exists(L"fake-setup-ran.txt"));
    EXPECT_FALSE(IsWindowVisible(window_)) << "the splash was shown over the running setup program";
}

TEST_F(Worker, UpperCaseExeGetsTheSuffixAppendedAndIsMoved)
{
    RunWorker("SETUP.EXE", Serve(FakeSetupPath()));
    EXPECT_TRUE(Exists(L"fake-setup-ran.txt"));
    EXPECT_NE(std::string::npos, ReadFile(L"fake-setup-ran.txt").find("SETUP.EXE.exe"));
    EXPECT_FALSE(Exists(L"SETUP.EXE"));
    EXPECT_FALSE(Exists(L"SETUP.EXE.exe"));
    EXPECT_EQ(1, CloseRequests.load());
}

TEST_F(Worker, ShortNameGetsTheSuffix)
{
    RunWorker("ab", Serve(FakeSetupPath()));
    EXPECT_NE(std::string::npos, ReadFile(L"fake-setup-ran.txt").find("ab.exe"));
    EXPECT_FALSE(Exists(L"ab"));
    EXPECT_FALSE(Exists(L"ab.exe"));
}

TEST_F(Worker, BodyThatIsNoProgramGivesTheLaunchNoticeWhileHiddenAndStays)
{
    std::wstring text;
    bool hiddenDuringNotice = false;
    std::thread answer([&] {
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            hiddenDuringNotice = !IsWindowVisible(window_);
            ClickBoxButton(box, IDCANCEL);
        }
    });
    RunWorker("tolvin-setup.exe", [](const std::string&, const std::string& saveName, ProgressCallback,
                                     DownloadedFile& file, DownloadFailure&) {
        return HoldDownload("<html>not a program</html>", saveName, file);
    });
    answer.join();
    EXPECT_EQ(ComposeNoticeText(LaunchFailedMessage, true), text);
    EXPECT_TRUE(hiddenDuringNotice);
    EXPECT_TRUE(Exists(L"tolvin-setup.exe"));
    EXPECT_EQ(1, CloseRequests.load());
    EXPECT_EQ(ERROR_INSTALL_FAILURE, ExitCode.load());
    ASSERT_TRUE(WaitForBrowserOpens(1));
    EXPECT_EQ(std::vector<std::string>{Url}, BrowserOpens());
}

TEST_F(Worker, FailedDownloadLeavesTheWindowUpWithoutCloseRequest)
{
    std::wstring text;
    bool visibleDuringNotice = false;
    std::thread answer([&] {
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            visibleDuringNotice = IsWindowVisible(window_) != FALSE;
            ClickBoxButton(box, IDCANCEL);
        }
    });
    RunWorker("tolvin-setup.exe", [](const std::string&, const std::string& saveName, ProgressCallback,
                                     DownloadedFile& file, DownloadFailure& failure) {
        // A cut-off body, its part still open.
        HoldDownload("MZ", saveName, file);
        failure.reason = "short body";
        return false;
    });
    answer.join();
    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), text);
    EXPECT_TRUE(visibleDuringNotice);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(0, CloseRequests.load());
    EXPECT_FALSE(Exists(L"fake-setup-ran.txt"));
    EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
    ASSERT_TRUE(WaitForBrowserOpens(1));
    EXPECT_EQ(std::vector<std::string>{Url}, BrowserOpens());
}

TEST_F(Worker, PublisherCheckStartsOnlyTheNamedSignersProgram)
{
    const std::wstring publisher = L"Tolvin Test Publisher";
    // Each refused one is a failed download: notice with the splash up, nothing
    // started, nothing left.
    for (const wchar_t* refused : {L"", L"-tampered", L"-untrusted", L"-other"}) {
        SCOPED_TRACE(testing::Message() << "fake_setup" << refused);
        ClearBrowserLog();
        std::wstring text;
        std::thread answer([&] {
            if (HWND box = WaitForNoticeBox()) {
                text = BoxText(box);
                ClickBoxButton(box, IDCANCEL);
            }
        });
        ASSERT_TRUE(Exists(FakeSetupPath(refused).c_str()));
        RunWorker("tolvin-setup.exe", Serve(FakeSetupPath(refused)), publisher);
        answer.join();
        EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), text);
        EXPECT_FALSE(Exists(L"fake-setup-ran.txt"));
        EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
        EXPECT_TRUE(IsWindowVisible(window_));
        EXPECT_EQ(0, CloseRequests.load());
    }
    RunWorker("tolvin-setup.exe", Serve(FakeSetupPath(L"-signed")), publisher);
    EXPECT_TRUE(Exists(L"fake-setup-ran.txt"));
    EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
    EXPECT_EQ(1, CloseRequests.load());
}

// A check held up (a certificate fetch on a filtered network) is a failed check
// once its wait is over; it runs on with its own handle and copies, which the
// caller's closing and overwriting leave alone.
HANDLE CheckReleased = nullptr;
HANDLE CheckDone = nullptr;
bool CheckReadItsHandle = false;
std::wstring CheckSawPath;

bool HeldCheck(HANDLE file, const std::wstring& path, const std::wstring&, std::string& reason, DWORD&)
{
    WaitForSingleObject(CheckReleased, 30000);
    LARGE_INTEGER size = {};
    CheckReadItsHandle = GetFileSizeEx(file, &size) && size.QuadPart > 0;
    CheckSawPath = path;
    reason = "late";
    SetEvent(CheckDone);
    return true;
}

TEST(PublisherCheck, OneThatOverrunsIsRefusedAndRunsOnWithItsOwnHandle)
{
    CheckReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CheckDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CheckReleased && CheckDone);
    std::wstring path = FakeSetupPath();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string reason;
    DWORD status = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool trusted = CheckSetupPublisher(file, path, L"Tolvin Test Publisher", reason, status, HeldCheck, 500);
    const auto waited = std::chrono::steady_clock::now() - start;
    CloseHandle(file);
    path.assign(path.size(), L'x');
    SetEvent(CheckReleased);
    EXPECT_FALSE(trusted);
    EXPECT_FALSE(reason.empty());
    EXPECT_NE("late", reason);
    EXPECT_GE(waited, std::chrono::milliseconds(450));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(CheckDone, 10000));
    EXPECT_TRUE(CheckReadItsHandle);
    EXPECT_EQ(FakeSetupPath(), CheckSawPath);
    CloseHandle(CheckReleased);
    CloseHandle(CheckDone);
}

// A signature not yet valid is refused with the code the clock notice looks for.
TEST(PublisherCheck, ACertificateOutsideItsDatesIsPassedOnAsSuch)
{
    const std::wstring path = FakeSetupPath(L"-notyet");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string reason;
    DWORD status = 0;
    EXPECT_FALSE(CheckSetupPublisher(file, path, L"Tolvin Test Publisher", reason, status));
    CloseHandle(file);
    EXPECT_EQ(static_cast<DWORD>(CERT_E_EXPIRED), status) << reason;
}

}  // namespace
