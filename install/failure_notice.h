#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "install/user_shell.h"

extern const wchar_t DownloadFailedMessage[];
extern const wchar_t LaunchFailedMessage[];
extern const wchar_t NoticeCaption[];

// The message for a download of `length` bytes that the working folder's disk
// has no room for: at least how many MB (MiB, rounded up) the room check asks
// for, and a request to free space and start the installer again.
std::wstring DiskFullMessage(std::uint64_t length);

// The message when the computer's clock is behind: the date it has (YYYY-MM-DD)
// and a request to set the date and time and start the installer again.
std::wstring ClockBehindMessage(const SYSTEMTIME& date);
// "https://" and the support host, no path.
extern const wchar_t SupportAddress[];

// Sent to the notice's owner window (wParam and lParam 0) just before the
// box appears, from whichever thread shows it, so that the window can show
// the failure too (its taskbar button turns to the error state) from the
// moment the user sees it.
const UINT WM_FAILURE_NOTICE_SHOWN = WM_APP + 3;

// Opens downloadPage (when given) in the browser, then asks the user whether to
// contact support; OK opens the support site, or, when it cannot be opened,
// shows its address in a second box. Both open with the user's own
// rights (OpenAsUser through `route`); when the page cannot be opened that way,
// the box gives both addresses as text for the user to type, with OK alone.
void ShowFailureNotice(HWND hwnd, const wchar_t* message, const wchar_t* downloadPage,
                       ShellRoute route = UserShellRoute);

// The box text: message, blank line, page sentence (only with a page), button hint.
std::wstring ComposeNoticeText(const wchar_t* message, bool withDownloadPage);

// The box text when no page could be opened: message, blank line, the
// download page's address under a line that asks the user to open it, blank
// line, the support site's address under its own line.
std::wstring ComposeAddressNoticeText(const wchar_t* message, const wchar_t* downloadPage);
