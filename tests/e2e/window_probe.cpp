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
//   window_probe close           posts WM_CLOSE to the splash, as another program or a task manager's
//                                "end task" does: "posted", or "none" without a splash
//   window_probe focus           "focus" when the splash is the foreground window and has the keyboard
//                                focus, else "elsewhere"
//   window_probe run EXE         starts EXE in this folder, waits for it and prints "exit CODE", its
//                                whole exit code (the Unix shell gets only its low byte); EXE ends
//                                with this probe, so a test that kills the probe leaves nothing running
// And as a screen reader sees the splash, through its client object (AccessibleObjectFromWindow):
//   window_probe accessible      "client ROLE CHILDREN NAME", then per child "child ID ROLE" and its
//                                name, value, description, default action (- for none) and screen
//                                rectangle "LEFT TOP WIDTH HEIGHT", all tab-separated
//   window_probe accessible press  the push button's default action: "pressed" or the error
//   window_probe accessible events SECONDS  listens that long for the progress bar's value
//                                changes: "event VALUE" for each, as read when it came, then "values
//                                BEFORE AFTER" read before and after
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

int PostClose()
{
    HWND window = FindWindowW(L"TolvinInstaller", nullptr);
    const bool posted = window && PostMessageW(window, WM_CLOSE, 0, 0);
    std::printf("%s\n", posted ? "posted" : "none");
    return posted ? 0 : 1;
}

int Focus()
{
    HWND window = FindWindowW(L"TolvinInstaller", nullptr);
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    const bool focused = window && GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
                         info.hwndFocus == window && GetForegroundWindow() == window;
    std::printf("%s\n", focused ? "focus" : "elsewhere");
    return 0;
}

// One of IAccessible's texts, as get(&text) gives it; "-" for none.
template <typename Getter>
std::string Text(Getter get)
{
    BSTR text = nullptr;
    const HRESULT result = get(&text);
    std::string field = SUCCEEDED(result) && text ? ToUtf8(text) : std::string("-");
    SysFreeString(text);
    return field;
}

VARIANT Child(LONG id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

LONG Role(IAccessible* object, LONG id)
{
    VARIANT role;
    VariantInit(&role);
    if (FAILED(object->get_accRole(Child(id), &role)) || role.vt != VT_I4)
        return -1;
    return role.lVal;
}

std::string Value(IAccessible* object, const VARIANT& child)
{
    return Text([&](BSTR* value) { return object->get_accValue(child, value); });
}

// The client object of the splash; null when there is none. The IID comes
// from __uuidof: mingw-w64's IID_IAccessible symbol is an import thunk.
IAccessible* SplashObject(HWND& window)
{
    window = FindWindowW(L"TolvinInstaller", nullptr);
    IAccessible* object = nullptr;
    if (!window || FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                     reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

void DescribeObject(IAccessible* object)
{
    const std::string clientName = Text([&](BSTR* name) { return object->get_accName(Child(CHILDID_SELF), name); });
    LONG count = 0;
    object->get_accChildCount(&count);
    std::printf("client\t%ld\t%ld\t%s\n", Role(object, CHILDID_SELF), count, clientName.c_str());
    // As screen readers walk it: AccessibleChildren, which asks for the count
    // and each child.
    std::vector<VARIANT> children(count > 0 ? count : 0);
    LONG obtained = 0;
    if (count > 0 && FAILED(AccessibleChildren(object, 0, count, children.data(), &obtained)))
        obtained = 0;
    for (LONG i = 0; i < obtained; ++i) {
        VARIANT& child = children[i];
        if (child.vt != VT_I4) {
            std::printf("child\tnot a simple element (vt %d)\n", child.vt);
            VariantClear(&child);
            continue;
        }
        const std::string childName = Text([&](BSTR* text) { return object->get_accName(child, text); });
        const std::string description = Text([&](BSTR* text) { return object->get_accDescription(child, text); });
        const std::string action = Text([&](BSTR* text) { return object->get_accDefaultAction(child, text); });
        LONG left = 0, top = 0, width = 0, height = 0;
        object->accLocation(&left, &top, &width, &height, child);
        std::printf("child\t%ld\t%ld\t%s\t%s\t%s\t%s\t%ld %ld %ld %ld\n", child.lVal, Role(object, child.lVal),
                    childName.c_str(), Value(object, child).c_str(), description.c_str(), action.c_str(), left, top,
                    width, height);
    }
}

int PressButton(IAccessible* object)
{
    LONG count = 0;
    object->get_accChildCount(&count);
    for (LONG id = 1; id <= count; ++id) {
        if (Role(object, id) != ROLE_SYSTEM_PUSHBUTTON)
            continue;
        const HRESULT result = object->accDoDefaultAction(Child(id));
        if (SUCCEEDED(result)) {
            std::printf("pressed\n");
            return 0;
        }
        std::printf("failed 0x%08lx\n", static_cast<unsigned long>(result));
        return 1;
    }
    std::printf("no button\n");
    return 1;
}

HWND EventWindow = nullptr;

void CALLBACK OnValueChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (window != EventWindow || object != OBJID_CLIENT)
        return;
    IAccessible* source = nullptr;
    VARIANT which;
    VariantInit(&which);
    std::string value = "-";
    if (SUCCEEDED(AccessibleObjectFromEvent(window, object, child, &source, &which))) {
        value = Value(source, which);
        source->Release();
    }
    std::printf("event\t%ld\t%s\n", child, value.c_str());
}

int ListenForValueChanges(IAccessible* object, HWND window, int seconds)
{
    const VARIANT bar = Child(1);
    const std::string before = Value(object, bar);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    EventWindow = window;
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnValueChange,
                                         process, 0, WINEVENT_OUTOFCONTEXT);
    if (!hook) {
        std::printf("no hook\n");
        return 1;
    }
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    UnhookWinEvent(hook);
    std::printf("values\t%s\t%s\n", before.c_str(), Value(object, bar).c_str());
    return 0;
}

int Accessible(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND window = nullptr;
    IAccessible* object = SplashObject(window);
    int status = 1;
    if (!object) {
        std::printf("none\n");
    } else if (argc >= 3 && std::strcmp(argv[2], "press") == 0) {
        status = PressButton(object);
    } else if (argc >= 4 && std::strcmp(argv[2], "events") == 0) {
        status = ListenForValueChanges(object, window, std::atoi(argv[3]));
    } else {
        DescribeObject(object);
        status = 0;
    }
    if (object)
        object->Release();
    CoUninitialize();
    return status;
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

int RunAndReport(const char* exe)
{
    // Killing the probe's Unix process closes its handles: the job's last one
    // ends the program too. Only the program: what it starts stays out of the
    // job, above all the desktop's Explorer, which Wine starts from the
    // program's first window and which, ended with it, would leave its shell
    // objects registered with nobody to serve them.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        std::printf("no job: %lu\n", GetLastError());
        return 1;
    }
    wchar_t path[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, exe, -1, path, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("not started: %lu\n", GetLastError());
        return 1;
    }
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        std::printf("not in the job: %lu\n", GetLastError());
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
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
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0)
        return RunAndReport(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "close") == 0)
        return PostClose();
    if (argc >= 2 && std::strcmp(argv[1], "focus") == 0)
        return Focus();
    if (argc >= 2 && std::strcmp(argv[1], "accessible") == 0)
        return Accessible(argc, argv);
    return DescribeSplash();
}
