// Stands in for a DLL that someone dropped next to the installer in a
// downloads folder. Loaded, it leaves NAME.dll.loaded beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t marker[MAX_PATH + 8] = {};
        DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(marker, L".loaded");
            HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
    }
    return TRUE;
}
