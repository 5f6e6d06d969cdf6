#pragma once
#include <windows.h>

#include <string>

// The setup program on disk while it is still ours. From creation on it is open
// with only reading shared, so no other program can write it, rename over it or
// delete it; and until KeepDownloadedFile it deletes itself when the handle
// closes, so a failed, abandoned or killed download leaves nothing behind.
struct DownloadedFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;

    DownloadedFile() = default;
    ~DownloadedFile();
    DownloadedFile(const DownloadedFile&) = delete;
    DownloadedFile& operator=(const DownloadedFile&) = delete;
};

// Closes the handle (deleting the file unless it was kept). False when the
// close failed: the data may not have reached the disk.
bool CloseDownloadedFile(DownloadedFile& file);

// Frees `path` without following it (a link loses its name, its target stays
// as it was) and creates the file anew, marked to delete itself on close. False
// when the name cannot be freed, something claims it in between, or the mark
// cannot be set; `file` is then closed.
bool CreateDownloadedFile(const std::wstring& path, DownloadedFile& file);

// Clears the mark: closing the handle now keeps the file.
bool KeepDownloadedFile(DownloadedFile& file);

// Renames the file through its own handle to `newPath` (which must not exist),
// so the name that follows is the file that was written.
bool RenameDownloadedFile(DownloadedFile& file, const std::wstring& newPath);
