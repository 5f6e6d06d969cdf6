#pragma once
#include <windows.h>

// Whether two open files are one: the same volume and the same file index. A
// file's other names (hard links, other spellings of its path) all give these.
inline bool SameFileIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}
