#include "net/downloaded_file.h"

#include <cstddef>
#include <vector>

namespace {

bool SetDeleteOnClose(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

}  // namespace

DownloadedFile::~DownloadedFile()
{
    CloseDownloadedFile(*this);
}

bool CloseDownloadedFile(DownloadedFile& file)
{
    if (file.handle == INVALID_HANDLE_VALUE)
        return true;
    const BOOL closed = CloseHandle(file.handle);
    file.handle = INVALID_HANDLE_VALUE;
    return closed != FALSE;
}

bool CreateDownloadedFile(const std::wstring& path, DownloadedFile& file)
{
    CloseDownloadedFile(file);
    // Whatever the entry is, a link included, only its name goes. A failure
    // shows up below: CREATE_NEW never opens an existing entry.
    DeleteFileW(path.c_str());
    // Reading stays shared so the user's virus scanner can look at it. Read
    // access lets the publisher check and the launch lock use this handle.
    file.handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    file.path = path;
    if (!SetDeleteOnClose(file.handle, true)) {
        // Without the mark a crash would leave a partial program behind; a
        // name we could not mark is one we made, so it goes now.
        CloseDownloadedFile(file);
        DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

bool KeepDownloadedFile(DownloadedFile& file)
{
    return SetDeleteOnClose(file.handle, false);
}

bool RenameDownloadedFile(DownloadedFile& file, const std::wstring& newPath)
{
    // FILE_RENAME_INFO ends in a one-unit name that is really newPath's length.
    const size_t nameBytes = newPath.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t), 0);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    newPath.copy(rename->FileName, newPath.size());
    if (!SetFileInformationByHandle(file.handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
        return false;
    file.path = newPath;
    return true;
}
