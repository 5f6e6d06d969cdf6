#pragma once
// Files named relative to an open folder handle. kernel32 takes only paths,
// which are looked up again from the drive on every call; these calls look a
// name up inside the folder the handle is open on and nowhere else.
#include <windows.h>

#include <string>

#include "common/kernel_handle.h"

// NtCreateFile with the folder as RootDirectory; `disposition` and `options`
// are its FILE_OPEN/FILE_CREATE and FILE_* option values. Returns the handle,
// or INVALID_HANDLE_VALUE with the NTSTATUS in `status`.
HANDLE OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, ULONG attributes, LONG& status);

// True when `file` (opened as the entry itself) is a single file of its own on
// disk: not a folder or device, not a name that leads elsewhere, and with no
// other link, whose other names may be anywhere, in files the user cannot read
// or should not have written. Fills `info` and `attributes` for the caller.
bool IsOwnSingleFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info, DWORD& attributes);

// Gives `file` (opened with DELETE access) the name `name` in `folder`,
// replacing whatever file has that name. False when ntdll lacks the call.
bool RenameInFolder(HANDLE file, HANDLE folder, const std::wstring& name);

// NTSTATUS values the callers tell apart.
const LONG NtNameNotFound = static_cast<LONG>(0xC0000034);    // STATUS_OBJECT_NAME_NOT_FOUND
const LONG NtNameCollision = static_cast<LONG>(0xC0000035);   // STATUS_OBJECT_NAME_COLLISION
const LONG NtPathNotFound = static_cast<LONG>(0xC000003A);    // STATUS_OBJECT_PATH_NOT_FOUND
