#include "app/dll_search.h"

#include <windows.h>
#include <delayimp.h>

#include <string>

namespace {

// Every DLL that is not a KnownDLL on all supported Windows versions (WinHTTP,
// GDI+, the common controls, the trust and crypto DLLs, the accessibility
// DLL) is delay-loaded, and
// loaded here by its full System32 path whatever the process-wide search
// allows: that also holds on Windows 7 without the loader update that brought
// SetDefaultDllDirectories. The altered search path makes that DLL's own
// dependencies come from System32 too, not from the program's folder.
HMODULE LoadFromSystem32(const char* name)
{
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(system, length);
    path += L'\\';
    for (const char* c = name; *c; ++c)
        path += static_cast<wchar_t>(static_cast<unsigned char>(*c));  // import names are ASCII
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC WINAPI DelayLoadNotify(unsigned notification, PDelayLoadInfo info)
{
    if (notification == dliNotePreLoadLibrary)
        return reinterpret_cast<FARPROC>(LoadFromSystem32(info->szDll));
    return nullptr;
}

}  // namespace

// The delay-load helper asks this hook before it loads a DLL itself. MSVC's
// SDK declares it const, mingw-w64's does not.
extern "C" {
#if defined(_MSC_VER)
const PfnDliHook __pfnDliNotifyHook2 = DelayLoadNotify;
#else
PfnDliHook __pfnDliNotifyHook2 = DelayLoadNotify;
#endif
}

void LimitDllSearchToSystem32()
{
    // Looked up rather than imported: Windows 7 without its 2011 loader update
    // lacks it, and the program must still start there.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                   : nullptr;
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Takes the current folder out of the search for what the system loads by name.
    SetDllDirectoryW(L"");
}
