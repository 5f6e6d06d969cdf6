#pragma once
// What is set on an open file through its handle, shared by the download's
// file and the registration's files: either is deleted or renamed as the
// entry it is open on, whatever its name has come to lead to.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

inline bool SetDeleteOnClose(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// A rename's FILE_RENAME_INFO (the layout ntdll's FileRenameInformation has
// too) for `name`, relative to `folder` when it is not null. The structure
// ends in a one-unit name that is really the name's length.
inline std::vector<unsigned char> RenameInformation(const std::wstring& name, HANDLE folder, bool replace)
{
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t), 0);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    name.copy(rename->FileName, name.size());
    return buffer;
}
