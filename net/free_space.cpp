#include "net/free_space.h"

#include <vector>

namespace {

// Left over beyond the file: the file system's own records for it, and
// rounding up to whole clusters.
const std::uint64_t kMarginBytes = 1024 * 1024;

// What a write gets when the user's disk quota is used up; missing from some
// SDKs' headers.
const DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED

}  // namespace

bool IsDiskFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == kDiskQuotaExceeded;
}

std::uint64_t RoomNeededFor(std::uint64_t length)
{
    const std::uint64_t most = ~std::uint64_t(0);
    return length > most - kMarginBytes ? most : length + kMarginBytes;
}

bool HasRoomFor(const std::wstring& path, std::uint64_t length)
{
    if (length == 0)
        return true;
    const DWORD units = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (units == 0)
        return true;
    std::vector<wchar_t> full(units);
    wchar_t* name = nullptr;
    if (GetFullPathNameW(path.c_str(), units, full.data(), &name) == 0 || !name)
        return true;
    *name = L'\0';  // the folder, with its trailing backslash
    // What this user may take: a quota counts, which the volume's total free
    // space would not show.
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(full.data(), &available, nullptr, nullptr))
        return true;
    return available.QuadPart >= RoomNeededFor(length);
}
