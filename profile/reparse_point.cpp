#include "profile/reparse_point.h"

bool IsRedirectingReparsePoint(DWORD attributes, DWORD tag)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // No reparse point has tag 0: the attribute came from somewhere the tag
    // did not (Wine marks a Unix symbolic link only when asked by name).
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

bool ReadAttributeTag(HANDLE handle, DWORD& attributes, DWORD& tag)
{
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info)))
        return false;
    attributes = info.FileAttributes;
    tag = info.ReparseTag;
    return true;
}
