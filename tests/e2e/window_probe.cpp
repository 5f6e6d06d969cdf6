// Looks at the installer's windows from inside the same Wine session and prints
// what a user would see, for the end-to-end scripts:
//   window_probe                 "visible|hidden LEFT TOP WIDTH HEIGHT TITLE" of the splash, or "none"
//   window_probe notice          the notice box's text (UTF-8, line feeds as \n), or "none"
//   window_probe notice ok|cancel  presses that button of the notice box
//   window_probe pid             the splash's process id as Wine's +pid traces write it, or "none"
//   window_probe decoy STOPFILE  another program's window of the splash's class, shown minimised
//                                and inactive; prints "ready", then once STOPFILE exists (at most
//                                60 s) "brought forward" when it was activated or restored, else
//                                "left alone"
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string ToUtf8(const wchar_t* text)
{
    char narrow[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return narrow;
}

int DescribeSplash()
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
    std::printf("%s %ld %ld %ld %ld %s\n", IsWindowVisible(window) ? "visible" : "hidden", frame.left, frame.top,
                frame.right - frame.left, frame.bottom - frame.top, ToUtf8(title).c_str());
    return 0;
}

int SplashProcess()
{
    DWORD process = 0;
    if (HWND window = FindWindowW(L"TolvinInstaller", nullptr))
        GetWindowThreadProcessId(window, &process);
    if (process)
        std::printf("%04lx\n", static_cast<unsigned long>(process));
    else
        std::printf("none\n");
    return 0;
}

int Notice(const char* answer)
{
    HWND box = FindWindowW(L"#32770", L"\u7cfb\u7edf\u63d0\u793a");  // 系统提示
    if (!box) {
        std::printf("none\n");
        return answer ? 1 : 0;
    }
    if (!answer) {
        wchar_t text[2048] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        std::string out;
        for (char c : ToUtf8(text))
            out += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::printf("%s\n", out.c_str());
        return 0;
    }
    WPARAM button = std::strcmp(answer, "ok") == 0 ? IDOK : IDCANCEL;
    PostMessageW(box, WM_COMMAND, button, 0);
    std::printf("pressed %s\n", answer);
    return 0;
}

bool DecoyActivated = false;

LRESULT CALLBACK DecoyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE)
        DecoyActivated = true;
    return DefWindowProcW(window, message, wParam, lParam);
}

int Decoy(const char* stopFile)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DecoyProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TolvinInstaller";
    if (!RegisterClassW(&windowClass))
        return 1;
    HWND window = CreateWindowExW(0, L"TolvinInstaller", L"decoy", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWMINNOACTIVE);
    DecoyActivated = false;
    std::printf("ready\n");
    std::fflush(stdout);
    for (int waited = 0; waited < 60000 && GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES; waited += 50) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(50);
    }
    std::printf("%s\n", DecoyActivated || !IsIconic(window) ? "brought forward" : "left alone");
    DestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "notice") == 0)
        return Notice(argc >= 3 ? argv[2] : nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "decoy") == 0)
        return Decoy(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "pid") == 0)
        return SplashProcess();
    return DescribeSplash();
}
