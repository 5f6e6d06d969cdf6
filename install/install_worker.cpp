#include "install/install_worker.h"

#include "app/progress.h"
#include "install/channel.h"
#include "install/failure_notice.h"
#include "net/widen.h"

namespace {

const char SaveName[] = "tolvin-setup.exe";

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version query passes the extended structure");
#ifdef _WIN64
static_assert(sizeof(STARTUPINFOW) == 104, "the launch passes a bare STARTUPINFOW");
#endif

}  // namespace

bool IsWindowsAtLeast(WORD major, WORD minor, WORD servicePackMajor)
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = servicePackMajor;
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

bool NeedsExeSuffix(const std::wstring& path)
{
    if (path.size() < 4)
        return true;
    return path.compare(path.size() - 4, 4, L".exe") != 0;
}

void RunInstall(HWND hwnd, const std::string& url, const std::string& saveName, const Downloader& download)
{
    const std::wstring page = WidenBytes(url);  // the URL is ASCII
    std::string errorText;  // the engine's reason; the user sees the notice instead
    if (!download(url, saveName, errorText, MakeProgressCallback(hwnd))) {
        // The splash stays with its last progress until the user closes it.
        ShowFailureNotice(hwnd, DownloadFailedMessage, page.c_str());
        return;
    }

    // Widened exactly as the engine widened it to create the file, so rename,
    // launch and delete name that file whatever its bytes.
    const std::wstring downloaded = WidenBytes(saveName);
    std::wstring launchPath = downloaded;
    if (NeedsExeSuffix(launchPath)) {
        // CreateProcessW only starts files that end in .exe. A failed rename
        // shows up as a failed launch below.
        launchPath += L".exe";
        MoveFileW(downloaded.c_str(), launchPath.c_str());
    }

    // A quick download can finish before the entry has shown the window, and
    // hiding a window that is not yet visible does nothing: the entry would then
    // show the splash over the running setup program. A sent message returns
    // only once the UI thread is in its message loop, that is after the show.
    SendMessageW(hwnd, WM_NULL, 0, 0);
    ShowWindow(hwnd, SW_HIDE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(launchPath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        // However long the setup program takes: it is the installation.
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        DeleteFileW(launchPath.c_str());
    } else {
        // The file stays, so the user can still start it by hand.
        ShowFailureNotice(hwnd, LaunchFailedMessage, page.c_str());
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void RunInstallWorker(HWND hwnd)
{
    RunInstall(hwnd, ChannelUrl(ChooseChannel()), SaveName, DownloadFile);
}

void ShowWorkerStartFailure(HWND hwnd)
{
    const std::wstring page = WidenBytes(ChannelUrl(ChooseChannel()));
    ShowFailureNotice(hwnd, DownloadFailedMessage, page.c_str());
}
