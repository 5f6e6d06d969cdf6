#include "app/single_instance.h"

// The GUID keeps the name apart from any other program's; it never changes,
// or two versions would run side by side.
const wchar_t InstanceMutexName[] = L"Local\\TolvinInstaller-{3A407F6F-8747-4A6C-B92D-E7F82600806F}";

InstanceMutex::~InstanceMutex()
{
    if (handle)
        CloseHandle(handle);
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

void ShowRunningCopy(const wchar_t* windowClass)
{
    HWND running = FindWindowW(windowClass, nullptr);
    if (!running || !IsWindowVisible(running))
        return;
    if (IsIconic(running))
        ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
}
