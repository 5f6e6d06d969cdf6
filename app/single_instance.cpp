#include "app/single_instance.h"

#include <sddl.h>

#include <cstring>
#include <vector>

#include "common/file_identity.h"
#include "common/kernel_handle.h"

// The GUID keeps the name apart from any other program's; it never changes,
// or two versions would run side by side.
const wchar_t InstanceMutexName[] = L"Local\\TolvinInstaller-{3A407F6F-8747-4A6C-B92D-E7F82600806F}";

namespace {

// The boundary's name and the namespace's alias.
const wchar_t NamespaceName[] = L"TolvinInstaller-{3A407F6F-8747-4A6C-B92D-E7F82600806F}";

// Only Administrators may open the namespace's folder, and the DACL is not
// widened by inheritance.
const wchar_t NamespaceFolderSddl[] = L"D:P(A;;GA;;;BA)";

struct LocalMemory {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ~LocalMemory()
    {
        if (descriptor)
            LocalFree(descriptor);
    }
};

template <typename Function>
void LookUp(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Made or opened with the boundary; null when neither worked.
HANDLE MakeOrOpenNamespace(const NamespaceCalls& calls, HANDLE boundary)
{
    LocalMemory folder;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(NamespaceFolderSddl, SDDL_REVISION_1,
                                                              &folder.descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), folder.descriptor, FALSE};
    if (HANDLE made = calls.createNamespace(&attributes, boundary, NamespaceName))
        return made;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return nullptr;
    return calls.openNamespace(boundary, NamespaceName);
}

// The executable's full path, empty when the process cannot be asked.
std::wstring ImagePath(HANDLE process)
{
    wchar_t path[1024];
    DWORD size = ARRAYSIZE(path);
    if (!QueryFullProcessImageNameW(process, 0, path, &size))
        return std::wstring();
    return std::wstring(path, size);
}

// The longest files compared byte for byte: well above the installer's size
// (a test build's included), so a copy is read whole, a larger file not at all.
const LONGLONG LargestComparedProgram = 32 * 1024 * 1024;

bool OpenImage(const std::wstring& path, FileHandle& image)
{
    // Every kind of sharing: the running image is someone else's open file.
    image.handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return image.Valid();
}

// Reads up to size bytes from offset, whatever the handle's file pointer.
bool ReadAt(HANDLE file, LONGLONG offset, char* bytes, DWORD size, DWORD& got)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(file, bytes, size, &got, &at) != FALSE;
}

bool SameBytes(HANDLE a, HANDLE b, LONGLONG size)
{
    static const DWORD Chunk = 64 * 1024;
    std::vector<char> left(Chunk), right(Chunk);
    for (LONGLONG offset = 0; offset < size;) {
        DWORD gotLeft = 0, gotRight = 0;
        if (!ReadAt(a, offset, left.data(), Chunk, gotLeft) || !ReadAt(b, offset, right.data(), Chunk, gotRight) ||
            gotLeft == 0 || gotLeft != gotRight || std::memcmp(left.data(), right.data(), gotLeft) != 0)
            return false;
        offset += gotLeft;
    }
    return true;
}

// One program: the same file under any name (a hard link, another spelling of
// its path), or a copy of it, which is another file of the same bytes (saved
// twice from the browser: "tolvin-installer (1).exe").
bool SameProgram(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION left = {}, right = {};
    if (!GetFileInformationByHandle(a, &left) || !GetFileInformationByHandle(b, &right))
        return false;
    if (SameFileIdentity(left, right))
        return true;
    const LONGLONG size = (LONGLONG(left.nFileSizeHigh) << 32) | left.nFileSizeLow;
    return left.nFileSizeHigh == right.nFileSizeHigh && left.nFileSizeLow == right.nFileSizeLow && size > 0 &&
           size <= LargestComparedProgram && SameBytes(a, b, size);
}

// Another program may register a window class of the same name: only a
// window of a process that runs this same program is the running copy.
bool RunsProgram(HWND window, HANDLE program)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process.Valid())
        return false;
    const std::wstring path = ImagePath(process.handle);
    FileHandle image;
    return !path.empty() && OpenImage(path, image) && SameProgram(image.handle, program);
}

}  // namespace

NamespaceCalls SystemNamespaceCalls()
{
    NamespaceCalls calls = {};
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel)
        return calls;
    LookUp(kernel, "CreateBoundaryDescriptorW", calls.createBoundary);
    LookUp(kernel, "AddSIDToBoundaryDescriptor", calls.addSid);
    LookUp(kernel, "DeleteBoundaryDescriptor", calls.deleteBoundary);
    LookUp(kernel, "CreatePrivateNamespaceW", calls.createNamespace);
    LookUp(kernel, "OpenPrivateNamespaceW", calls.openNamespace);
    LookUp(kernel, "ClosePrivateNamespace", calls.closeNamespace);
    return calls;
}

InstanceMutex::~InstanceMutex()
{
    if (handle)
        CloseHandle(handle);
    if (privateNamespace)
        closeNamespace(privateNamespace, 0);
}

std::wstring EnterInstanceNamespace(const NamespaceCalls& calls, InstanceMutex& mutex)
{
    if (!calls.createBoundary || !calls.addSid || !calls.deleteBoundary || !calls.createNamespace ||
        !calls.openNamespace || !calls.closeNamespace)
        return InstanceMutexName;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
        return InstanceMutexName;
    // Under Wine 8 this fails (error 5).
    HANDLE boundary = calls.createBoundary(NamespaceName, 0);
    if (!boundary)
        return InstanceMutexName;
    HANDLE opened = nullptr;
    // Only a token that holds the SID, enabled, may make or open the namespace.
    if (calls.addSid(&boundary, administrators))
        opened = MakeOrOpenNamespace(calls, boundary);
    // The namespace keeps a copy of what it needs.
    calls.deleteBoundary(boundary);
    if (!opened)
        return InstanceMutexName;
    mutex.privateNamespace = opened;
    mutex.closeNamespace = calls.closeNamespace;
    // Users of other sessions keep their own copy, as in the session's namespace.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return std::wstring(NamespaceName) + L"\\Session" + std::to_wstring(session);
}

bool ClaimSingleInstance(const wchar_t* name, InstanceMutex& mutex)
{
    SetLastError(ERROR_SUCCESS);
    mutex.handle = CreateMutexW(nullptr, FALSE, name);
    const DWORD error = GetLastError();
    if (mutex.handle)
        return error != ERROR_ALREADY_EXISTS;
    // A copy running with other rights (elevated, say) made it, and this one
    // may not open it.
    return error != ERROR_ACCESS_DENIED;
}

bool ClaimSingleInstance(InstanceMutex& mutex)
{
    return ClaimSingleInstance(EnterInstanceNamespace(SystemNamespaceCalls(), mutex).c_str(), mutex);
}

void ShowRunningCopy(const wchar_t* windowClass, const std::wstring& image)
{
    FileHandle program;
    if (image.empty() || !OpenImage(image, program))
        return;
    for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, nullptr); window;
         window = FindWindowExW(nullptr, window, windowClass, nullptr)) {
        if (!RunsProgram(window, program.handle))
            continue;
        if (!IsWindowVisible(window))
            return;
        if (IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return;
    }
}

void ShowRunningCopy(const wchar_t* windowClass)
{
    ShowRunningCopy(windowClass, ImagePath(GetCurrentProcess()));
}
