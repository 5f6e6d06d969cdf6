#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// True for the errors a write gives when the disk is full.
bool IsDiskFull(DWORD error);

// Whether the volume of the folder that holds `path` (relative to the current
// directory, or full) has room for `length` bytes and a small margin. True
// when the length is unknown (0) or the free space cannot be read: the writes
// then tell.
bool HasRoomFor(const std::wstring& path, std::uint64_t length);
