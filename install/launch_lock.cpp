#include "install/launch_lock.h"

#include "common/file_identity.h"

bool LockForLaunch(DownloadedFile& downloaded, LaunchLock& lock)
{
    BY_HANDLE_FILE_INFORMATION written = {};
    if (!GetFileInformationByHandle(downloaded.handle, &written))
        return false;
    // Share modes cannot be narrowed on an open handle, and no handle that
    // denies writing can be opened while ours may write: the image section
    // bridges the gap. Creating it also tells a program from anything else.
    lock.section.handle = CreateFileMappingW(downloaded.handle, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
    if (!lock.section.Valid())
        return false;
    if (!CloseDownloadedFile(downloaded))
        return false;
    lock.file.handle = CreateFileW(downloaded.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION named = {};
    // The section does not stop a rename of the file itself: someone may have
    // moved ours away and put another in its place.
    return lock.file.Valid() && GetFileInformationByHandle(lock.file.handle, &named) &&
           SameFileIdentity(written, named);
}
