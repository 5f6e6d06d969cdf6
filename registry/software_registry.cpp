#include "registry/software_registry.h"

#include <windows.h>

#include "registry/registry_in_folder.h"

namespace {

struct FolderHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring name;

    FolderHandle() = default;
    ~FolderHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
};

// Opens the folder `path` names a file in; the file itself is then reached
// through the folder's handle, as registration does.
bool OpenContainingFolder(const std::wstring& path, FolderHandle& folder)
{
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring parent = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    folder.name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    folder.handle = CreateFileW(parent.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return folder.handle != INVALID_HANDLE_VALUE;
}

}  // namespace

bool TryReadSoftwareRegistry(const std::wstring& path, std::vector<SoftwareEntry>& entries)
{
    entries.clear();
    FolderHandle folder;
    if (!OpenContainingFolder(path, folder)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return TryReadSoftwareRegistryIn(folder.handle, folder.name, entries);
}

std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring& path)
{
    std::vector<SoftwareEntry> entries;
    TryReadSoftwareRegistry(path, entries);
    return entries;
}

void WriteSoftwareRegistry(const std::wstring& path, const std::vector<SoftwareEntry>& entries)
{
    FolderHandle folder;
    if (OpenContainingFolder(path, folder))
        WriteSoftwareRegistryIn(folder.handle, folder.name, entries);
}
