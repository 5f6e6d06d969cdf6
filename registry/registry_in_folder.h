#pragma once
// config.toml read and replaced relative to an open folder handle: after the
// folder is opened, no step looks up a path, so nothing done to the path
// afterwards (a mount point, a renamed parent) changes which folder is used.
#include <windows.h>

#include <string>
#include <vector>

#include "registry/software_entry.h"

// Reads `name` in `folder`. A missing file gives true and no entries. A file
// that cannot be opened or read through (locked, a folder), and one that is
// not a single file of its own (a symbolic link or other name-redirecting
// reparse point, a device, a file with more than one link), gives false and leaves `entries` empty: its content may not be
// the user's to have copied.
bool TryReadSoftwareRegistryIn(HANDLE folder, const std::wstring& name, std::vector<SoftwareEntry>& entries);

// Replaces `name` in `folder` with the canonical layout: a new file is
// written and flushed beside it, then renamed over it, so a failure at any
// point leaves the old file whole; the new file is deleted through its handle
// when it cannot take the old one's place. A read-only file (or a folder) of
// that name is left as it is; a hidden or system file keeps those attributes.
void WriteSoftwareRegistryIn(HANDLE folder, const std::wstring& name, const std::vector<SoftwareEntry>& entries);
