#include "install/clock_check.h"

#include <winhttp.h>

namespace {

const std::int64_t SecondsPerDay = 24 * 60 * 60;

// Whole days since 1970, rounded down also before it.
std::int64_t Day(std::int64_t seconds) { return seconds / SecondsPerDay - (seconds % SecondsPerDay < 0 ? 1 : 0); }

}  // namespace

bool IsClockBehind(DWORD error, std::int64_t now, std::int64_t built)
{
    // WinHTTP's code for a certificate outside its dates and the chain
    // check's own for the same; and a handshake that failed without a reason,
    // which is all Wine 8 tells of a certificate outside its dates. A clock
    // behind the build's date is wrong whatever else is, so blaming it for
    // that is sound.
    const bool certificateDates = error == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID ||
                                  error == static_cast<DWORD>(CERT_E_EXPIRED) ||
                                  error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
    // By date, not by the second: a build from earlier today says nothing
    // about a clock that is a few hours off.
    return certificateDates && built != 0 && Day(now) < Day(built);
}

std::int64_t ComputerTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // 100 ns ticks since 1601; 1970 is 11644473600 s later.
    return ticks / 10000000 - 11644473600LL;
}
