#include "install/user_shell.h"

#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/bounded_call.h"
#include "common/kernel_handle.h"
#include "log/support_log.h"

namespace {

// Owns one COM interface pointer.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ComRef() = default;
    ~ComRef()
    {
        if (p)
            p->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

struct BString {
    BSTR value;
    explicit BString(const wchar_t* text) : value(SysAllocString(text)) {}
    ~BString() { SysFreeString(value); }
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;
};

// The shell's step that failed and its answer, for the support log.
HRESULT Logged(HRESULT answer, const char* step)
{
    if (answer != S_OK) {
        char code[16];
        std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(answer));
        LogStep(std::string("shell route: ") + step + " answered " + code);
    }
    return answer;
}

// The desktop window's folder view, as its automation object.
bool DesktopFolderView(ComRef<IShellFolderViewDual>& folderView)
{
    ComRef<IShellWindows> windows;
    if (FAILED(Logged(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                       windows.Out()),
                      "the shell's windows")))
        return false;
    Variant location;
    location.value.vt = VT_I4;
    location.value.lVal = CSIDL_DESKTOP;
    Variant root;
    long window = 0;
    ComRef<IDispatch> desktop;
    // S_FALSE: no desktop window registered.
    if (Logged(windows->FindWindowSW(&location.value, &root.value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                     &desktop.p),
               "the desktop's window") != S_OK ||
        !desktop.p)
        return false;
    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, services.Out())) &&
           SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out())) &&
           SUCCEEDED(browser->QueryActiveShellView(&view.p)) && view.p &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out())) && background.p &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, folderView.Out()));
}

// The route's own copy of the address and its answer, shared with the thread
// so that an abandoned call touches nothing of the caller's.
struct RouteCall {
    std::wstring url;
    ShellRoute route = nullptr;
    bool opened = false;
};

void RunRoute(RouteCall& call)
{
    HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(apartment)) {
        call.opened = call.route(call.url.c_str());
        CoUninitialize();
    }
}

bool RouteWithin(ShellRoute route, const wchar_t* url, DWORD milliseconds)
{
    try {
        auto call = std::make_shared<RouteCall>();
        call->url = url;
        call->route = route;
        // Opened late is not opened: the box has told the user by then.
        return RunWithin([call] { RunRoute(*call); }, milliseconds) && call->opened;
    } catch (...) {
        return false;
    }
}

}  // namespace

ShellRoute UserShellRoute = OpenThroughDesktopShell;

ShellRoute ShellRouteUnder(HRESULT comSecurity)
{
    return SUCCEEDED(comSecurity) ? OpenThroughDesktopShell : nullptr;
}

bool ProcessIsElevated()
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.handle))
        return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.handle, TokenElevation, &elevation, sizeof(elevation), &size))
        return true;
    return elevation.TokenIsElevated != 0;
}

bool OpenThroughDesktopShell(const wchar_t* url)
{
    // The desktop's shell may be starting: at logon, after Explorer restarted,
    // and under Wine with every first window of a session. Until it has
    // registered its window there is nothing to ask, so it is asked again for
    // a while, well within the route's own bound.
    ComRef<IShellFolderViewDual> folderView;
    const ULONGLONG deadline = GetTickCount64() + ShellStartWaitMilliseconds;
    while (!DesktopFolderView(folderView)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(ShellStartPauseMilliseconds);
    }
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(folderView->get_Application(&application.p)) || !application.p ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.Out())))
        return false;
    BString file(url);
    Variant operation;
    operation.value.vt = VT_BSTR;
    operation.value.bstrVal = SysAllocString(L"open");
    Variant show;
    show.value.vt = VT_I4;
    show.value.lVal = SW_SHOWNORMAL;
    Variant arguments;
    Variant folder;
    if (!file.value || !operation.value.bstrVal)
        return false;
    // The browser is started by the shell's process: let it come to the front
    // as it would from ours.
    CoAllowSetForegroundWindow(shell.p, nullptr);
    // Wine's shell answers S_FALSE when its ShellExecuteW failed.
    return Logged(shell->ShellExecute(file.value, arguments.value, folder.value, operation.value, show.value),
                  "ShellExecute") == S_OK;
}

bool OpenAsUser(const wchar_t* url, ShellRoute route)
{
    if (!ProcessIsElevated()) {
        // Started with the user's own rights: unchecked, as the box is the
        // fallback either way.
        ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
        return true;
    }
    // No elevated fallback: a program of the user could end Explorer to get one.
    return route && RouteWithin(route, url, ShellRouteWaitMilliseconds);
}
