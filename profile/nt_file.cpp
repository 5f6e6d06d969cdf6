#include "profile/nt_file.h"

#include <winternl.h>

#include <vector>

#include "common/file_information.h"
#include "profile/reparse_point.h"

namespace {

// Declared here: not every SDK's winternl.h has these.
using NtCreateFileFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                    ULONG, ULONG, ULONG, void*, ULONG);
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);

const int FileRenameInformationClass = 10;

// Looked up rather than imported: ntdll is in every process already, and the
// import table stays limited to the DLLs tools/check-binary.sh allows.
template <typename Fn>
Fn NtdllFunction(const char* name)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

const LONG NtNotImplemented = static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED

}  // namespace

HANDLE OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, ULONG attributes, LONG& status)
{
    static const NtCreateFileFn create = NtdllFunction<NtCreateFileFn>("NtCreateFile");
    if (!create) {
        status = NtNotImplemented;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = const_cast<wchar_t*>(name.c_str());
    unicodeName.Length = unicodeName.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &unicodeName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    status = create(&file, access, &object, &io, nullptr, attributes, share, disposition, options, nullptr, 0);
    return status >= 0 ? file : INVALID_HANDLE_VALUE;
}

bool IsOwnSingleFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info, DWORD& attributes)
{
    // A compressed or cloud-held file is a reparse point too, and still the
    // file itself; only a tag that redirects the name refuses it.
    DWORD tag = 0;
    return GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
           ReadAttributeTag(file, attributes, tag) && !IsRedirectingReparsePoint(attributes, tag) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileType(file) == FILE_TYPE_DISK;
}

bool RenameInFolder(HANDLE file, HANDLE folder, const std::wstring& name)
{
    // SetFileInformationByHandle(FileRenameInfo) would do on Windows, but Wine
    // refuses a RootDirectory there (error 87); ntdll's own call takes it.
    static const NtSetInformationFileFn setInformation =
        NtdllFunction<NtSetInformationFileFn>("NtSetInformationFile");
    if (!setInformation)
        return false;
    std::vector<unsigned char> rename = RenameInformation(name, folder, true);
    IO_STATUS_BLOCK io = {};
    return setInformation(file, &io, rename.data(), static_cast<ULONG>(rename.size()), FileRenameInformationClass) >= 0;
}
