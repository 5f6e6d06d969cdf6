#include "registry/registry_in_folder.h"

#include <winternl.h>

#include <atomic>

#include "common/file_identity.h"
#include "common/file_information.h"
#include "common/kernel_handle.h"
#include "profile/nt_file.h"
#include "registry/registry_format.h"

namespace {

// Other processes keep read and write access while the file is open. Without
// delete sharing its name keeps leading to the file we hold.
const ULONG ShareWithOthers = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Synchronous, so ReadFile and WriteFile work on these handles as on
// CreateFileW's; never through a link, always the entry itself.
const ULONG OpenEntryItself = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;

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

// A new, uniquely named file in the same folder, so the final rename stays
// within one volume and cannot turn into a copy. Nobody else may open it, so
// what is renamed is exactly what was written.
HANDLE CreateTempBeside(HANDLE folder, const std::wstring& name, DWORD attributes)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring tempName = name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                      std::to_wstring(counter++) + L".tmp";
        LONG status = 0;
        const HANDLE file = OpenInFolder(folder, tempName, GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, FILE_CREATE,
                                         FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, attributes, status);
        if (file != INVALID_HANDLE_VALUE || status != NtNameCollision)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool TryReadSoftwareRegistryIn(HANDLE folder, const std::wstring& name, std::vector<SoftwareEntry>& entries)
{
    entries.clear();
    LONG status = 0;
    FileHandle file(OpenInFolder(folder, name, GENERIC_READ | SYNCHRONIZE, ShareWithOthers, FILE_OPEN,
                                 OpenEntryItself | FILE_NON_DIRECTORY_FILE, 0, status));
    if (!file.Valid())
        return status == NtNameNotFound || status == NtPathNotFound;
    BY_HANDLE_FILE_INFORMATION info = {};
    DWORD attributes = 0;
    if (!IsOwnSingleFile(file.handle, info, attributes))
        return false;
    // Opened as the entry itself, a compressed or cloud-held file gives its
    // stored form, not its content: that is read through a second handle the
    // file system's filters serve. The first one denies deleting and renaming,
    // so the name still leads to the same file; the check is for a link made of
    // the file in between.
    const bool filtered = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    FileHandle content(filtered ? OpenInFolder(folder, name, GENERIC_READ | SYNCHRONIZE, ShareWithOthers, FILE_OPEN,
                                               FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, 0, status)
                                : INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION same = {};
    if (filtered && (!content.Valid() || !GetFileInformationByHandle(content.handle, &same) ||
                     !SameFileIdentity(same, info)))
        return false;
    std::string bytes;
    if (!ReadWholeFile(filtered ? content.handle : file.handle, bytes))
        return false;
    entries = ParseSoftwareRegistry(bytes);
    return true;
}

void WriteSoftwareRegistryIn(HANDLE folder, const std::wstring& name, const std::vector<SoftwareEntry>& entries)
{
    // A read-only file is one the user (or an administrator) wants kept as it is;
    // Windows would refuse to overwrite it in place, and the rename must not
    // become a way around that.
    DWORD keptAttributes = FILE_ATTRIBUTE_NORMAL;
    {
        LONG status = 0;
        FileHandle existing(OpenInFolder(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         ShareWithOthers | FILE_SHARE_DELETE, FILE_OPEN, OpenEntryItself, 0, status));
        BY_HANDLE_FILE_INFORMATION info = {};
        if (existing.Valid() && GetFileInformationByHandle(existing.handle, &info)) {
            if (info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
                return;
            if (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
                keptAttributes = info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        }
    }

    // The old file stays untouched until the new content is complete on disk and
    // takes its place in one rename. Until then the new file is marked to go
    // when its handle closes, so neither a failure nor a crash leaves it behind
    // (only a crash between unmarking and the rename does).
    FileHandle temp(CreateTempBeside(folder, name, keptAttributes));
    if (!temp.Valid() || !SetDeleteOnClose(temp.handle, true))
        return;
    const bool complete = WriteWholeFile(temp.handle, FormatSoftwareRegistry(entries)) &&
                          FlushFileBuffers(temp.handle) != FALSE;
    if (complete && SetDeleteOnClose(temp.handle, false) && !RenameInFolder(temp.handle, folder, name))
        SetDeleteOnClose(temp.handle, true);
}
