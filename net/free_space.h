#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// True for the errors a write gives when the disk is full, or when the
// user's quota on it is used up, which the user puts right the same way.
bool IsDiskFull(DWORD error);

// What HasRoomFor asks the volume for: `length` and a small margin, as much
// as a 64-bit count holds.
std::uint64_t RoomNeededFor(std::uint64_t length);

// Whether the volume of the folder that holds `path` (relative to the current
// directory, or full) has room for `length` bytes and a small margin. True
// when the length is unknown (0) or the free space cannot be read: the writes
// then tell.
bool HasRoomFor(const std::wstring& path, std::uint64_t length);
