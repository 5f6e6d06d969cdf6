#include "registry/software_registry.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "registry/registry_format.h"

namespace {

struct FileHandle {
    HANDLE handle;

    explicit FileHandle(HANDLE opened) : handle(opened) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool Valid() const { return handle != INVALID_HANDLE_VALUE; }

    // Closing can fail to commit data, so a writer wants the answer.
    bool Close()
    {
        if (!Valid())
            return true;
        const BOOL closed = CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }
};

// Other processes keep read and write access while the file is open.
const DWORD ShareWithOthers = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool ReadWholeFile(HANDLE file, std::string& bytes)
{
    std::string chunk(64 * 1024, '\0');
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, &chunk[0], static_cast<DWORD>(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            return true;
        bytes.append(chunk, 0, got);
    }
}

bool WriteWholeFile(HANDLE file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD part = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, part, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A new, uniquely named file in the target's folder, so the final rename stays
// within one volume and cannot turn into a copy.
HANDLE CreateTempBeside(const std::wstring& path, DWORD attributes, std::wstring& tempPath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(counter++) + L".tmp";
        const HANDLE file = CreateFileW(tempPath.c_str(), GENERIC_WRITE, ShareWithOthers, nullptr, CREATE_NEW,
                                        attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool TryReadSoftwareRegistry(const std::wstring& path, std::vector<SoftwareEntry>& entries)
{
    entries.clear();
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, ShareWithOthers, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::string bytes;
    if (!ReadWholeFile(file.handle, bytes))
        return false;
    entries = ParseSoftwareRegistry(bytes);
    return true;
}

std::vector<SoftwareEntry> ReadSoftwareRegistry(const std::wstring& path)
{
    std::vector<SoftwareEntry> entries;
    TryReadSoftwareRegistry(path, entries);
    return entries;
}

void WriteSoftwareRegistry(const std::wstring& path, const std::vector<SoftwareEntry>& entries)
{
    // A read-only file is one the user (or an administrator) wants kept as it is;
    // Windows would refuse to overwrite it in place, and the rename must not
    // become a way around that.
    DWORD keptAttributes = FILE_ATTRIBUTE_NORMAL;
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
            return;
        if (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
            keptAttributes = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }

    // The old file stays untouched until the new content is complete on disk and
    // takes its place in one rename: a failure at any step loses nothing.
    std::wstring tempPath;
    FileHandle temp(CreateTempBeside(path, keptAttributes, tempPath));
    if (!temp.Valid())
        return;
    bool complete = WriteWholeFile(temp.handle, FormatSoftwareRegistry(entries)) &&
                    FlushFileBuffers(temp.handle) != FALSE;
    complete = temp.Close() && complete;
    if (!complete ||
        !MoveFileExW(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileW(tempPath.c_str());
}
