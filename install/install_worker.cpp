#include "install/install_worker.h"

#include <thread>

#include "build_settings.h"

#include "install/channel.h"
#include "install/clock_check.h"
#include "install/failure_notice.h"
#include "install/launch_lock.h"
#include "install/setup_publisher.h"
#include "install/stay_awake.h"
#include "log/support_log.h"
#include "net/free_space.h"
#include "net/widen.h"

#include <cstdint>

namespace {

const char SaveName[] = "tolvin-setup.exe";

#ifdef _WIN64
static_assert(sizeof(STARTUPINFOW) == 104, "the launch passes a bare STARTUPINFOW");
#endif

// Sent, not posted: the window has it before the notice that follows can be
// answered or the close request arrives.
void ReportExitCode(HWND hwnd, DWORD code) { SendMessageW(hwnd, WM_INSTALL_EXIT_CODE, code, 0); }

// The two causes the user can put right get a notice of their own and no
// download page, which would fail the same way; every other failure keeps the
// ordinary notice with the channel's page.
void TellDownloadFailure(HWND hwnd, const DownloadFailure& failure, const std::wstring& page)
{
    if (IsDiskFull(failure.code)) {
        ReportExitCode(hwnd, ERROR_DISK_FULL);
        ShowFailureNotice(hwnd, DiskFullMessage(failure.length).c_str(), nullptr);
        return;
    }
    ReportExitCode(hwnd, ERROR_INSTALL_FAILURE);
    if (IsClockBehind(failure.code, ComputerTime(), TOLVIN_BUILD_TIME)) {
        // The date the user sees on the taskbar's clock.
        SYSTEMTIME today;
        GetLocalTime(&today);
        ShowFailureNotice(hwnd, ClockBehindMessage(today).c_str(), nullptr);
        return;
    }
    ShowFailureNotice(hwnd, DownloadFailedMessage, page.c_str());
}

// Thrown from the progress callback once the splash is closed: the engine
// unwinds through its handle holders, deletes what it wrote and reports a
// failed download, which the worker then keeps to itself.
struct DownloadAbandoned {};

// Also the body of a detached thread, where an escaping exception would end
// the process with an exit code of its own instead of the 1603 already kept.
void ShowStartFailureNotice(HWND hwnd, ShellRoute route)
{
    try {
        const std::wstring page = WidenBytes(ChannelUrl(ChooseChannel()));
        ShowFailureNotice(hwnd, DownloadFailedMessage, page.c_str(), route);
    } catch (...) {
    }
}

// The download alone keeps the computer awake; the check and the setup
// program's run do not.
bool DownloadWhileAwake(const std::string& url, const std::string& saveName, const Downloader& download,
                        const ProgressCallback& progress, const std::atomic<bool>& closeBegun, DownloadedFile& file,
                        DownloadFailure& failure)
{
    // One load per chunk is all the close costs the download.
    ProgressCallback abandonable = [&progress, &closeBegun](std::uint64_t received, std::uint64_t total) {
        if (closeBegun.load(std::memory_order_relaxed))
            throw DownloadAbandoned();
        if (progress)
            progress(received, total);
    };
    StayAwake awake;
    return download(url, saveName, abandonable, file, failure);
}

// Download, signer check and keeping: true when `file` is ready to start.
// Every failure has been told (unless the splash was closed) and left nothing.
bool FetchSetup(HWND hwnd, const std::string& url, const std::string& saveName, const std::wstring& publisher,
                const Downloader& download, const ProgressCallback& progress, const std::atomic<bool>& closeBegun,
                DownloadedFile& file)
{
    DownloadFailure failure;  // the engine's reason; the user sees the notice instead
    // Complete and checked, the file is kept: from then on it stays unless it
    // ran, so the user can still start it by hand. A file that cannot be kept
    // would delete itself on its way to the launch, so that is a failed
    // download too. The engine logs its own failures; the check's and the
    // keeping's are logged here.
    bool ready = DownloadWhileAwake(url, saveName, download, progress, closeBegun, file, failure);
    if (!ready && closeBegun.load()) {
        LogStep("download abandoned: the splash was closed");
        return false;
    }
    if (ready && !publisher.empty() &&
        !CheckSetupPublisher(file.handle, file.path, publisher, failure.reason, failure.code)) {
        LogStep("setup program refused: " + failure.reason);
        ready = false;
    }
    if (ready && !KeepDownloadedFile(file)) {
        LogFailure(GetLastError(), "setup program not kept");
        ready = false;
    }
    if (!ready) {
        // Still marked to delete itself: gone before the user reads the notice.
        CloseDownloadedFile(file);
        // The splash stays with its last progress until the user closes it.
        TellDownloadFailure(hwnd, failure, WidenBytes(url));  // the URL is ASCII
    }
    return ready;
}

// Nothing may keep the worker from waiting for a setup program it started,
// not even a log step that cannot get its memory.
void LogStepQuietly(const char* text, const DWORD* code = nullptr)
{
    try {
        LogStep(code ? text + std::to_string(*code) : std::string(text));
    } catch (...) {
    }
}

// Waits for the started setup program, however long it takes: it is the
// installation. Then deletes the file and sends its exit code, passed on as
// it is (3010: restart needed); one that cannot be read is no success.
void SeeSetupThrough(HWND hwnd, const PROCESS_INFORMATION& process, const std::wstring& path)
{
    LogStepQuietly("setup program started");
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD setupExit = 0;
    if (GetExitCodeProcess(process.hProcess, &setupExit))
        LogStepQuietly("setup program exit code ", &setupExit);
    else
        setupExit = ERROR_INSTALL_FAILURE;
    ReportExitCode(hwnd, setupExit);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    DeleteFileW(path.c_str());
}

// Starts the kept file once the window allows it and sees it through. The
// window closes afterwards, whether or not it started, unless it was closed
// first: then nothing starts and the file goes.
void LaunchSetup(HWND hwnd, const std::string& url, DownloadedFile& file)
{
    // CreateProcessW only starts files that end in .exe. Renamed through the
    // handle, so the new name is the file that was written; a failed rename is
    // a failed launch.
    const bool named = !NeedsExeSuffix(file.path) || RenameDownloadedFile(file, file.path + L".exe");
    DWORD launchError = named ? ERROR_SUCCESS : GetLastError();

    // Sent, so it is the window's thread that settles a close racing the
    // launch. Also, a quick download can finish before the entry has shown
    // the window, and hiding a window that is not yet visible does nothing:
    // the answer comes only once the UI thread is in its message loop, that
    // is after the show.
    if (!SendMessageW(hwnd, WM_INSTALL_MAY_LAUNCH, 0, 0)) {
        LogStep("setup program not started: the splash was closed");
        CloseDownloadedFile(file);
        DeleteFileW(file.path.c_str());
        return;
    }
    ShowWindow(hwnd, SW_HIDE);
    PROCESS_INFORMATION process = {};
    bool started = false;
    {
        LaunchLock lock;
        if (named && LockForLaunch(file, lock)) {
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            started = CreateProcessW(file.path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &process) != FALSE;
        }
        if (!started && launchError == ERROR_SUCCESS)
            launchError = GetLastError();
    }  // released once CreateProcessW has returned: the running image holds the file from here
    CloseDownloadedFile(file);
    if (started) {
        SeeSetupThrough(hwnd, process, file.path);
    } else {
        LogFailure(launchError, "setup program not started");
        // The file stays, so the user can still start it by hand.
        ReportExitCode(hwnd, ERROR_INSTALL_FAILURE);
        ShowFailureNotice(hwnd, LaunchFailedMessage, WidenBytes(url).c_str());
    }
    PostMessageW(hwnd, WM_INSTALL_DONE, 0, 0);
}

// The ordinary notice and 1603 for a failure nobody expected; then the
// window closes, also when it was hidden for a launch that never came.
void TellUnexpectedFailure(HWND hwnd, const std::string& url)
{
    ReportExitCode(hwnd, ERROR_INSTALL_FAILURE);
    try {
        LogStep("install worker failed unexpectedly");
        ShowFailureNotice(hwnd, DownloadFailedMessage, WidenBytes(url).c_str());
    } catch (...) {
    }
    PostMessageW(hwnd, WM_INSTALL_DONE, 0, 0);
}

}  // namespace

bool NeedsExeSuffix(const std::wstring& path)
{
    if (path.size() < 4)
        return true;
    return path.compare(path.size() - 4, 4, L".exe") != 0;
}

void RunInstall(HWND hwnd, const std::string& url, const std::string& saveName, const std::wstring& publisher,
                const Downloader& download, const ProgressCallback& progress, const std::atomic<bool>& closeBegun)
{
    try {
        DownloadedFile file;
        if (FetchSetup(hwnd, url, saveName, publisher, download, progress, closeBegun, file))
            LaunchSetup(hwnd, url, file);
    } catch (...) {
        // An allocation or a log step outside the download's own guard would
        // otherwise end the process with no word to the user. A closed splash
        // (the abandoned download of an engine that lets it through) wants
        // nothing shown.
        if (!closeBegun.load())
            TellUnexpectedFailure(hwnd, url);
    }
}

void RunInstallWorker(HWND hwnd, ProgressCallback progress, const std::atomic<bool>& closeBegun)
{
    RunInstall(hwnd, ChannelUrl(ChooseChannel()), SaveName, TOLVIN_SETUP_PUBLISHER, DownloadIntoHeldFile, progress,
               closeBegun);
}

void ShowWorkerStartFailure(HWND hwnd)
{
    LogStep("install worker not started");
    try {
        std::thread(ShowStartFailureNotice, hwnd, UserShellRoute).detach();
    } catch (...) {
        ShowStartFailureNotice(hwnd, nullptr);
    }
}
