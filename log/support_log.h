#pragma once
#include <windows.h>

#include <string>

// One step of this run for the support log (installer.log beside config.toml).
// The log puts the UTC time before the text and ends the line; the text is
// UTF-8 on one line. Never pass a user name, a password, proxy credentials, a
// cookie, a query string or anything read from config.toml. Safe from any
// thread; does nothing when the run has no log. Steps before the log is open
// are kept and written when it opens.
void LogStep(const std::string& text);

// "failure CODE NAME: REASON", the engine's shape for a failed step.
void LogFailure(DWORD code, const std::string& reason);

// The symbolic name of a Win32 or WinHTTP error code ("ERROR_WINHTTP_TIMEOUT"),
// or the number in decimal when it has none here.
std::string ErrorCodeName(DWORD code);

// Opens %USERPROFILE%\.tolvin\installer.log for this run (see
// OpenSupportLogIn). Once per run, by the copy that installs: a second copy
// must not write into the running one's log.
void OpenSupportLog(int dpi);

// The same for a given profile folder. The run begins with the header line
// (version, Windows version and build, native architecture, `dpi`), stamped
// with the process's start; the steps logged so far follow. The file keeps the
// newest earlier runs that fit in half its bound, whole, and this run gets the
// other half. No log when the folder or the file is a link, a reparse point
// that leads elsewhere or a file with more than one link, or cannot be opened.
void OpenSupportLogIn(const std::wstring& profileFolder, int dpi);

// Ends the run's log with "exit code N" and closes it; steps after it are
// kept for a run that opens the log again, which only tests do.
void CloseSupportLog(int exitCode);

// installer.log never grows past this many bytes.
const size_t SupportLogBound = 64 * 1024;
