// A program of the same user that goes after the installer's download in the
// same folder: once NAME appears, it keeps trying to overwrite it, to rename
// another program over it and to delete it, until STOP exists (the setup
// program's record: it has started) or 120 s have passed.
//   file_contender NAME STOP
// Prints one line per attempt that succeeded, "overwrote|replaced|deleted",
// then "attempts N".
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    const wchar_t* name = argv[1];
    const wchar_t* stop = argv[2];
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring stranger = std::wstring(name) + L".stranger";

    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(1);
    unsigned long attempts = 0;
    while (GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline) {
        ++attempts;
        HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "MZ-swapped", 10, &written, nullptr);
            CloseHandle(file);
            std::printf("overwrote\n");
        }
        // Another program, renamed over the download; copied anew only when
        // a rename took it.
        if ((GetFileAttributesW(stranger.c_str()) != INVALID_FILE_ATTRIBUTES ||
             CopyFileW(self, stranger.c_str(), FALSE)) &&
            MoveFileExW(stranger.c_str(), name, MOVEFILE_REPLACE_EXISTING))
            std::printf("replaced\n");
        if (DeleteFileW(name))
            std::printf("deleted\n");
        std::fflush(stdout);
    }
    DeleteFileW(stranger.c_str());
    std::printf("attempts %lu\n", attempts);
    return 0;
}
