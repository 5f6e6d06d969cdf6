#pragma once
#include <windows.h>

#include <string>

// One step of this run for the support log (installer.log beside config.toml).
// The log puts the UTC time before the text and ends the line; the text is
// UTF-8 on one line. Never pass a user name, a password, proxy credentials, a
// cookie, a query string or anything read from config.toml. Safe from any
// thread; does nothing when the run has no log.
void LogStep(const std::string& text);

// The symbolic name of a Win32 or WinHTTP error code ("ERROR_WINHTTP_TIMEOUT"),
// or the number in decimal when it has none here.
std::string ErrorCodeName(DWORD code);
