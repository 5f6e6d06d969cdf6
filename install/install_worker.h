#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "net/download.h"
#include "net/downloaded_file.h"

// Sent to the window with the process's exit code in wParam. The worker sends
// it where the outcome becomes known, before any notice and before it asks
// the window to close, so the entry returns what the worker saw whatever the
// user does afterwards; the window keeps the last one.
const UINT WM_INSTALL_EXIT_CODE = WM_APP + 2;

// The whole installation, on the worker thread: channel, download, launch,
// wait, clean up, close the window. `progress` is the download's callback,
// which the window makes (splash/window_paint.h) so that it is bound to itself.
void RunInstallWorker(HWND hwnd, ProgressCallback progress);

// DownloadIntoHeldFile's shape, so tests can stand in for the network.
using Downloader = std::function<bool(const std::string& url, const std::string& saveName, ProgressCallback progress,
                                      DownloadedFile& file, DownloadFailure& failure)>;

// Everything after the channel choice: download saveName (relative to the
// current directory) from url, reporting to progress, check its signer when
// publisher is not empty, then launch it with the window hidden, wait, delete
// it and close the window. A failed download or check leaves the window open
// and no file behind. The window is sent the exit code (WM_INSTALL_EXIT_CODE):
// the setup program's own, or that of the failure.
void RunInstall(HWND hwnd, const std::string& url, const std::string& saveName, const std::wstring& publisher,
                const Downloader& download, const ProgressCallback& progress);

// For the UI thread when no worker thread could be started: the download
// failure notice with the channel's page, from a thread of its own, so that
// the wait for the shell (up to ShellRouteWaitMilliseconds) does not stop the
// splash's paints. When no thread starts either, the notice comes from the
// calling thread without the shell's route: the addresses for the user to type.
void ShowWorkerStartFailure(HWND hwnd);

// True unless the path ends in ".exe" exactly (case-sensitive).
bool NeedsExeSuffix(const std::wstring& path);
