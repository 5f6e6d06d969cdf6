// Looks for the installer's window from inside the same Wine session and prints
// what a user would see of it: "visible|hidden LEFT TOP WIDTH HEIGHT TITLE", or
// "none". The end-to-end scripts read this line.
#include <windows.h>

#include <cstdio>

int main()
{
    HWND window = FindWindowW(L"TolvinInstaller", nullptr);
    if (!window) {
        std::printf("none\n");
        return 0;
    }
    RECT frame;
    GetWindowRect(window, &frame);
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    char narrow[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, title, -1, narrow, sizeof(narrow), nullptr, nullptr);
    std::printf("%s %ld %ld %ld %ld %s\n", IsWindowVisible(window) ? "visible" : "hidden", frame.left, frame.top,
                frame.right - frame.left, frame.bottom - frame.top, narrow);
    return 0;
}
