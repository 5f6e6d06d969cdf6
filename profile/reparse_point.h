#pragma once
#include <windows.h>

// True when an entry with these attributes and reparse tag leads somewhere
// else by its name: a symbolic link, a junction or mount point (the tags
// Windows marks as name surrogates), or a reparse point whose tag could not be
// read. Other reparse points (a file compressed by `compact`, one kept by a
// cloud-files provider) are the entry itself and count as plain.
bool IsRedirectingReparsePoint(DWORD attributes, DWORD tag);

// Attributes and reparse tag of the entry `handle` is open on, asked through
// the handle (FileAttributeTagInfo). False when the system does not answer.
bool ReadAttributeTag(HANDLE handle, DWORD& attributes, DWORD& tag);
