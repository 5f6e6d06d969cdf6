#pragma once
#include <windows.h>

#include <cstdint>

// A certificate failed on its dates, or a handshake failed without a reason
// (`error`, the Win32 or WinHTTP code behind a failed download), while the computer's UTC date
// (`now`, seconds since 1970) is earlier than the date this build was made
// (`built`, 0 when unknown): every server will look wrong until the user sets
// the clock. A computer date that is not earlier leaves the fault with the
// server's certificate.
bool IsClockBehind(DWORD error, std::int64_t now, std::int64_t built);

// The computer's UTC time in seconds since 1970, as IsClockBehind takes it.
std::int64_t ComputerTime();
