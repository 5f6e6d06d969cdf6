#include "registry/software_registry.h"

#include <windows.h>

#include "common/kernel_handle.h"
#include "registry/registry_in_folder.h"

namespace {

// Opens the folder `path` names a file in, and gives that file's `name` in it;
// the file itself is then reached through the folder's handle, as
// registration does.
bool OpenContainingFolder(const std::wstring& path, FileHandle& folder, std::wstring& name)
{
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring parent = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    folder.handle = CreateFileW(parent.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return folder.Valid();
}

}  // namespace

bool TryReadSoftwareRegistry(const std::wstring& path, std::vector<SoftwareEntry>& entries)
{
    entries.clear();
    FileHandle folder;
    std::wstring name;
    if (!OpenContainingFolder(path, folder, name)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return TryReadSoftwareRegistryIn(folder.handle, name, entries);
}

std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring& path)
{
    std::vector<SoftwareEntry> entries;
    TryReadSoftwareRegistry(path, entries);
    return entries;
}

void WriteSoftwareRegistry(const std::wstring& path, const std::vector<SoftwareEntry>& entries)
{
    FileHandle folder;
    std::wstring name;
    if (OpenContainingFolder(path, folder, name))
        WriteSoftwareRegistryIn(folder.handle, name, entries);
}
