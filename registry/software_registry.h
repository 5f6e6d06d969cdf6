#pragma once
#include <string>
#include <vector>

#include "registry/software_entry.h"

// By path: the folder the path names is looked up once and the file is reached
// through its handle (registry_in_folder.h), which registration uses directly.

// Never fails: a missing or unreadable file reads as an empty sequence.
std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring& path);

// Reads like ReadSoftwareRegistry but tells the two empty cases apart: a missing
// file (or folder) gives true and an empty sequence; a file that exists but
// cannot be opened or read through (locked, no access, a folder of that name),
// or is a link or has more than one link, gives false and leaves `entries` empty.
bool TryReadSoftwareRegistry(const std::wstring& path, std::vector<SoftwareEntry>& entries);

// Replaces the file with the canonical layout; reports nothing. The new content
// is written beside the file and renamed over it, so a write that fails at any
// point leaves the old file whole. A read-only file is left as it is; a hidden
// or system file keeps those attributes.
void WriteSoftwareRegistry(const std::wstring& path, const std::vector<SoftwareEntry>& entries);
