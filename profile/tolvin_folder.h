#pragma once
#include <windows.h>

#include <string>

#include "common/kernel_handle.h"

// A folder in the user's profile, held open without delete sharing: while
// held it cannot be renamed, removed or swapped for a link.
using HeldFolder = FileHandle;

// Holds `folder` when it is a plain folder. False, holding nothing, when it
// cannot be opened or leads elsewhere (a junction, a mount point or a symbolic
// link), whose target is not ours to write into.
bool HoldPlainFolder(const std::wstring& folder, HeldFolder& held);

// Sets the held folder's attributes to hidden alone (a directory stays one).
bool HideHeldFolder(const HeldFolder& held);

// The current user's profile folder (%USERPROFILE%), or empty when the system
// does not say.
std::wstring CurrentProfileFolder();

// Holds profileFolder\.tolvin, made first when missing, and hides it (alone,
// every run: a folder the user made visible or read-only is put back). False,
// holding nothing, when it is not a plain folder.
bool HoldTolvinFolder(const std::wstring& profileFolder, HeldFolder& held);
