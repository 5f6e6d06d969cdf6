#include "profile/tolvin_folder.h"

#include <shlobj.h>

#include "profile/reparse_point.h"

bool HoldPlainFolder(const std::wstring& folder, HeldFolder& held)
{
    // Listing access makes the share mode count; without delete sharing the
    // folder keeps its place. The link itself is opened, never its target.
    // Attribute writing lets the folder be hidden through this handle.
    held.handle = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held.handle == INVALID_HANDLE_VALUE)
        return false;
    // Asked both ways: Windows answers for the held folder itself by handle,
    // Wine only by name for a folder that is a Unix symbolic link (and then
    // with no tag, which counts as a link). With the folder held, the name
    // still leads to it.
    DWORD attributes = 0;
    DWORD tag = 0;
    const DWORD byName = GetFileAttributesW(folder.c_str());
    const bool plain = ReadAttributeTag(held.handle, attributes, tag) && byName != INVALID_FILE_ATTRIBUTES &&
                       !IsRedirectingReparsePoint(attributes | byName, tag) &&
                       (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!plain)
        held.Close();
    return plain;
}

bool HideHeldFolder(const HeldFolder& held)
{
    // Zero times are left as they are.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
    return SetFileInformationByHandle(held.handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

std::wstring CurrentProfileFolder()
{
    wchar_t profile[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
        return std::wstring();
    return profile;
}

bool HoldTolvinFolder(const std::wstring& profileFolder, HeldFolder& held)
{
    const std::wstring folder = profileFolder + L"\\.tolvin";
    CreateDirectoryW(folder.c_str(), nullptr);
    // A link would send an administrator's write wherever its target is.
    if (!HoldPlainFolder(folder, held))
        return false;
    HideHeldFolder(held);
    return true;
}
