#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "install/channel.h"
#include "install/install_worker.h"
#include "install/setup_publisher.h"
#include "install/stay_awake.h"
#include "common/joined_thread.h"
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
// The window was told a notice is shown (its taskbar button turns red).
std::atomic<int> NoticeSignals{0};
// The window's answer when the worker asks to launch, and how often it asked.
std::atomic<bool> LaunchAllowed{true};
std::atomic<int> LaunchQuestions{0};

// What the worker asked of the computer's power management, from which thread,
// and whether the splash was still up.
struct AwakeCall {
    EXECUTION_STATE flags;
    DWORD thread;
    bool splashVisible;
};
std::mutex AwakeLock;
std::vector<AwakeCall> AwakeCalls;
HWND AwakeSplash = nullptr;

EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE flags)
{
    std::lock_guard<std::mutex> guard(AwakeLock);
    AwakeCalls.push_back({flags, GetCurrentThreadId(), IsWindowVisible(AwakeSplash) != FALSE});
    return ES_CONTINUOUS;
}

size_t AwakeCallCount()
{
    std::lock_guard<std::mutex> guard(AwakeLock);
    return AwakeCalls.size();
}

const std::vector<EXECUTION_STATE> AwakeThenAsleep = {ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS};

LRESULT CALLBACK SplashStandIn(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INSTALL_DONE) {
        ++CloseRequests;
        return 0;  // counted, not acted upon
    }
    if (message == WM_INSTALL_MAY_LAUNCH) {
        ++LaunchQuestions;
        return LaunchAllowed ? TRUE : FALSE;
    }
    if (message == WM_INSTALL_EXIT_CODE) {
        ExitCode = static_cast<long>(wParam);
        return 0;
    }
    if (message == WM_FAILURE_NOTICE_SHOWN) {
        ++NoticeSignals;
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
        NoticeSignals = 0;
        LaunchAllowed = true;
        LaunchQuestions = 0;
        closeBegun_ = false;
        AwakeCalls.clear();
        SetExecutionState = RecordExecutionState;
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
        AwakeSplash = window_;
    }
    void TearDown() override
    {
        SetExecutionState = SetThreadExecutionState;
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
            workerThread_ = GetCurrentThreadId();
            RunInstall(window_, Url, saveName, publisher, download, RecordProgress(), closeBegun_);
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

    // The execution states the worker asked for, in order, each from its own thread.
    std::vector<EXECUTION_STATE> AwakeRequests()
    {
        std::lock_guard<std::mutex> guard(AwakeLock);
        std::vector<EXECUTION_STATE> flags;
        for (const AwakeCall& call : AwakeCalls) {
            EXPECT_EQ(workerThread_, call.thread) << "asked from another thread than the download's";
            flags.push_back(call.flags);
        }
        return flags;
    }

    static constexpr const char* Url = "https://localhost:48443/tolvin/ebwebview";
    std::atomic<bool> closeBegun_{false};
    DWORD workerThread_ = 0;
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
    EXPECT_EQ(AwakeThenAsleep, AwakeRequests());
    EXPECT_TRUE(AwakeCalls.size() == 2 && AwakeCalls[1].splashVisible) << "kept awake into the setup program's run";
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
        RunInstall(window_, Url, "tolvin-setup.exe", L"", Serve(FakeSetupPath()), RecordProgress(), closeBegun_);
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
    int signalsWithTheBox = 0;
    size_t awakeCallsAtNotice = 0;
    std::thread answer([&] {
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            visibleDuringNotice = IsWindowVisible(window_) != FALSE;
            signalsWithTheBox = NoticeSignals;
            awakeCallsAtNotice = AwakeCallCount();
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
    EXPECT_EQ(1, signalsWithTheBox) << "the window must learn of the notice by the time the box is up";
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(0, CloseRequests.load());
    EXPECT_FALSE(Exists(L"fake-setup-ran.txt"));
    EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
    EXPECT_EQ(AwakeThenAsleep, AwakeRequests());
    EXPECT_EQ(2u, awakeCallsAtNotice) << "the notice held the computer awake";
    ASSERT_TRUE(WaitForBrowserOpens(1));
    EXPECT_EQ(std::vector<std::string>{Url}, BrowserOpens());
}

// The two ways a close beats the launch: during the download, which the engine
// then gives up at its next chunk (it turns whatever the callback throws into
// a failed download), or between the download and the launch, when the
// window refuses it. Either way nothing starts, nothing is said, no file stays
// and the computer may sleep again.
TEST_F(Worker, SplashClosedBeforeTheLaunchStartsNothingAndLeavesNothing)
{
    int chunksAfterClose = -1;
    RunWorker("tolvin-setup.exe", [&](const std::string&, const std::string& saveName, ProgressCallback progress,
                                      DownloadedFile& file, DownloadFailure& failure) {
        try {
            if (!HoldDownload("MZ", saveName, file))
                return false;
            progress(2, 100);
            closeBegun_ = true;
            for (chunksAfterClose = 0; chunksAfterClose < 10; ++chunksAfterClose)
                progress(3 + chunksAfterClose, 100);
            return true;
        } catch (...) {
            failure.reason = "unexpected error";
            CloseDownloadedFile(file);
            return false;
        }
    });
    EXPECT_EQ(0, chunksAfterClose) << "the download went on after the close";
    EXPECT_EQ(AwakeThenAsleep, AwakeRequests());
    EXPECT_EQ(0, LaunchQuestions.load());

    closeBegun_ = false;
    LaunchAllowed = false;  // the close came after the last chunk
    AwakeCalls.clear();
    RunWorker("tolvin-setup.exe", Serve(FakeSetupPath()));
    EXPECT_EQ(1, LaunchQuestions.load());
    EXPECT_EQ(AwakeThenAsleep, AwakeRequests());
    EXPECT_TRUE(IsWindowVisible(window_)) << "hidden for a launch that was refused";
    EXPECT_FALSE(Exists(L"fake-setup-ran.txt"));
    EXPECT_FALSE(Exists(L"tolvin-setup.exe"));
    EXPECT_EQ(0, CloseRequests.load());
    EXPECT_EQ(-1, ExitCode.load()) << "the window's own 1602 stands";
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", NoticeCaption));
    EXPECT_TRUE(BrowserOpens().empty());
}

// Outside the engine's guard (here the downloader itself) an allocation fails:
// not the end of the process, but the ordinary notice, 1603 and the window closed.
TEST_F(Worker, UnexpectedExceptionGivesTheNoticeAndClosesWith1603)
{
    std::wstring text;
    std::thread answer([&] {
        if (HWND box = WaitForNoticeBox()) {
            text = BoxText(box);
            ClickBoxButton(box, IDCANCEL);
        }
    });
    RunWorker("tolvin-setup.exe", [](const std::string&, const std::string&, ProgressCallback, DownloadedFile&,
                                     DownloadFailure&) -> bool { throw std::bad_alloc(); });
    answer.join();
    EXPECT_EQ(ComposeNoticeText(DownloadFailedMessage, true), text);
    EXPECT_EQ(ERROR_INSTALL_FAILURE, ExitCode.load());
    EXPECT_EQ(1, CloseRequests.load());
    EXPECT_EQ(AwakeThenAsleep, AwakeRequests());
}

// Work held up past the deadline (registration on a stalled disk) is left
// running, so the exit code still reaches the script.
TEST(WaitedThread, LetsGoOfWorkPastItsDeadline)
{
    auto release = std::make_shared<std::atomic<bool>>(false);
    WaitedThread held;
    ASSERT_TRUE(StartWaitedThread(held, [release] {
        while (!*release)
            Sleep(10);
    }));
    const auto start = std::chrono::steady_clock::now();
    held.LetGo(start + std::chrono::milliseconds(300));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(held.thread.joinable());
    *release = true;
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
