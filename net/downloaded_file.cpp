#include "net/downloaded_file.h"

#include "common/file_information.h"

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
    std::vector<unsigned char> rename = RenameInformation(newPath, nullptr, false);
    if (!SetFileInformationByHandle(file.handle, FileRenameInfo, rename.data(), static_cast<DWORD>(rename.size())))
        return false;
    file.path = newPath;
    return true;
}
