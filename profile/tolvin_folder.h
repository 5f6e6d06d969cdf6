#pragma once
#include <windows.h>

#include <string>

#include "common/kernel_handle.h"

// A folder in the user's profile, held open without delete sharing: while
// held it cannot be renamed, removed or swapped for a link.
using HeldFolder = FileHandle;

// The current user's profile folder (%USERPROFILE%), or empty when the system
// does not say.
std::wstring CurrentProfileFolder();

// Holds profileFolder\.tolvin, made first when missing, and hides it (alone,
// every run: a folder the user made visible or read-only is put back). The
// folder is looked up, made and opened inside the held profile folder, as
// itself and never a link's target. False, holding nothing, when it is not a
// plain folder (a file, a link, a junction) or cannot be made.
bool HoldTolvinFolder(const std::wstring& profileFolder, HeldFolder& held);
