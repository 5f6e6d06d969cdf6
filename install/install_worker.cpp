#include "install/install_worker.h"

#include "build_settings.h"

#include "install/channel.h"
#include "install/clock_check.h"
#include "install/failure_notice.h"
#include "install/launch_lock.h"
#include "install/setup_publisher.h"
#include "log/support_log.h"
#include "net/free_space.h"
#include "net/widen.h"

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

}  // namespace

bool NeedsExeSuffix(const std::wstring& path)
{
    if (path.size() < 4)
        return true;
    return path.compare(path.size() - 4, 4, L".exe") != 0;
}

void RunInstall(HWND hwnd, const std::string& url, const std::string& saveName, const std::wstring& publisher,
                const Downloader& download, const ProgressCallback& progress)
{
    const std::wstring page = WidenBytes(url);  // the URL is ASCII
    DownloadFailure failure;  // the engine's reason; the user sees the notice instead
    DownloadedFile file;
    // Complete and checked, the file is kept: from then on it stays unless it
    // ran, so the user can still start it by hand. A file that cannot be kept
    // would delete itself on its way to the launch, so that is a failed
    // download too. The engine logs its own failures; the check's and the
    // keeping's are logged here.
    bool ready = download(url, saveName, progress, file, failure);
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
        TellDownloadFailure(hwnd, failure, page);
        return;
    }

    // CreateProcessW only starts files that end in .exe. Renamed through the
    // handle, so the new name is the file that was written; a failed rename is
    // a failed launch.
    const bool named = !NeedsExeSuffix(file.path) || RenameDownloadedFile(file, file.path + L".exe");
    DWORD launchError = named ? ERROR_SUCCESS : GetLastError();

    // A quick download can finish before the entry has shown the window, and
    // hiding a window that is not yet visible does nothing: the entry would then
    // show the splash over the running setup program. A sent message returns
    // only once the UI thread is in its message loop, that is after the show.
    SendMessageW(hwnd, WM_NULL, 0, 0);
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
        // However long the setup program takes: it is the installation.
        LogStep("setup program started");
        WaitForSingleObject(process.hProcess, INFINITE);
        // Its code is the installation's, passed on as it is (3010: restart
        // needed); one that cannot be read is no success.
        DWORD setupExit = 0;
        if (GetExitCodeProcess(process.hProcess, &setupExit))
            LogStep("setup program exit code " + std::to_string(setupExit));
        else
            setupExit = ERROR_INSTALL_FAILURE;
        ReportExitCode(hwnd, setupExit);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        DeleteFileW(file.path.c_str());
    } else {
        LogFailure(launchError, "setup program not started");
        // The file stays, so the user can still start it by hand.
        ReportExitCode(hwnd, ERROR_INSTALL_FAILURE);
        ShowFailureNotice(hwnd, LaunchFailedMessage, page.c_str());
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void RunInstallWorker(HWND hwnd, ProgressCallback progress)
{
    RunInstall(hwnd, ChannelUrl(ChooseChannel()), SaveName, TOLVIN_SETUP_PUBLISHER, DownloadIntoHeldFile, progress);
}

void ShowWorkerStartFailure(HWND hwnd)
{
    LogStep("install worker not started");
    const std::wstring page = WidenBytes(ChannelUrl(ChooseChannel()));
    ShowFailureNotice(hwnd, DownloadFailedMessage, page.c_str());
}
