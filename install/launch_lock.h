#pragma once
#include <windows.h>

#include "common/kernel_handle.h"
#include "net/downloaded_file.h"

// What keeps the downloaded setup program as it was written from the end of
// the download until CreateProcessW has started it: an image section of the
// file (while one exists, the system refuses to open the file for writing or to
// delete it) and a read handle that shares only reading.
// The file is closed before the section.
struct LaunchLock {
    KernelHandle section;
    FileHandle file;
};

// Hands the downloaded file over from its writing handle, which CreateProcessW
// could not start it past, to `lock`, with no moment in between in which
// another program could change it, and checks that its name still leads to
// the file that was written. False when the file is no program or its name no
// longer leads to it; nothing may then be started by that name.
bool LockForLaunch(DownloadedFile& downloaded, LaunchLock& lock);
