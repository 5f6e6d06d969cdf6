#include "profile/tolvin_folder.h"

#include <shlobj.h>
#include <winternl.h>

#include "profile/nt_file.h"
#include "profile/reparse_point.h"

namespace {

// Whether the entry `held` is open on (as itself, not its target) is a
// folder of its own. Asked both ways: Windows answers for the held folder
// itself by handle, Wine only by name for a folder that is a Unix symbolic
// link (and then with no tag, which counts as a link). With the folder held,
// the name still leads to it.
bool IsPlainHeldFolder(HANDLE held, const std::wstring& path)
{
    DWORD attributes = 0;
    DWORD tag = 0;
    const DWORD byName = GetFileAttributesW(path.c_str());
    return ReadAttributeTag(held, attributes, tag) && byName != INVALID_FILE_ATTRIBUTES &&
           !IsRedirectingReparsePoint(attributes | byName, tag) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Sets the held folder's attributes to hidden alone (a directory stays one).
bool HideHeldFolder(const HeldFolder& held)
{
    // Zero times are left as they are.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
    return SetFileInformationByHandle(held.handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

}  // namespace

std::wstring CurrentProfileFolder()
{
    wchar_t profile[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
        return std::wstring();
    return profile;
}

bool HoldTolvinFolder(const std::wstring& profileFolder, HeldFolder& held)
{
    // Looked up, made and opened in one step inside the held profile folder:
    // between a make by path and a later open, a link put in its place would
    // be followed.
    const FileHandle profile(CreateFileW(profileFolder.c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!profile.Valid())
        return false;
    LONG status = 0;
    // Listing access makes the share mode count; without delete sharing the
    // folder keeps its place. Attribute writing lets it be hidden through the
    // handle. The entry itself is opened, never a link's target.
    held.handle = OpenInFolder(profile.handle, L".tolvin",
                               FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                               FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                               FILE_ATTRIBUTE_NORMAL, status);
    // A link would send an administrator's write wherever its target is.
    if (!held.Valid() || !IsPlainHeldFolder(held.handle, profileFolder + L"\\.tolvin")) {
        held.Close();
        return false;
    }
    HideHeldFolder(held);
    return true;
}
