#include "splash/accessible.h"

#include <objbase.h>
#include <oleacc.h>

#include <new>
#include <string>

#include "splash/display_scale.h"
#include "splash/paint.h"
#include "product/product_name.h"

const wchar_t ProgressBarName[] = L"\u4e0b\u8f7d\u8fdb\u5ea6";  // 下载进度
const wchar_t CloseButtonName[] = L"\u5173\u95ed";              // 关闭
const wchar_t CloseButtonAction[] = L"\u6309\u4e0b";            // 按下
const wchar_t CloseButtonShortcut[] = L"Esc";

namespace {

// The child a VARIANT names, or -1 when it names none of ours.
LONG ChildOf(const VARIANT& child)
{
    if (child.vt != VT_I4)
        return -1;
    return child.lVal == CHILDID_SELF || child.lVal == ProgressBarChild || child.lVal == CloseButtonChild
               ? child.lVal
               : -1;
}

HRESULT Text(const std::wstring& text, BSTR* out)
{
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void PutLong(VARIANT* out, LONG value)
{
    out->vt = VT_I4;
    out->lVal = value;
}

}  // namespace

// Reached from other processes through the proxy LresultFromObject's stream
// unmarshals, so every call arrives on the UI thread's apartment, between its
// messages: the window and its handle are read there, the progress through
// the same atomics the paint reads.
class SplashAccessible final : public IAccessible {
public:
    SplashAccessible(HWND window, const DownloadProgressState& state) : window_(window), state_(state) {}

    // From WM_DESTROY on, the handle may name another window.
    void Disconnect() { window_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // No type information: clients use IAccessible's own methods.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
    {
        if (!parent)
            return E_POINTER;
        *parent = nullptr;
        if (!window_)
            return RPC_E_DISCONNECTED;
        return AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                          reinterpret_cast<void**>(parent));
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        if (!window_)
            return RPC_E_DISCONNECTED;
        *count = 2;
        return S_OK;
    }

    // Both children are simple elements of this object.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!window_)
            return RPC_E_DISCONNECTED;
        const LONG id = ChildOf(child);
        return id == ProgressBarChild || id == CloseButtonChild ? S_FALSE : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        LONG id = 0;
        const HRESULT checked = StartText(child, name, id);
        if (checked != S_OK)
            return checked;
        switch (id) {
        case CHILDID_SELF:
            return Text(SplashHeading(ProductDisplayName), name);
        case ProgressBarChild:
            return Text(ProgressBarName, name);
        case CloseButtonChild:
            return Text(CloseButtonName, name);
        default:
            return E_INVALIDARG;
        }
    }

    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return OwnText(child, value, ProgressBarChild, ReadSplashProgress(state_).percentText, DISP_E_MEMBERNOTFOUND);
    }

    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override
    {
        return OwnText(child, description, ProgressBarChild, ReadSplashProgress(state_).speedText, S_FALSE);
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        LONG id = 0;
        const HRESULT checked = StartVariant(child, role, id);
        if (checked != S_OK)
            return checked;
        PutLong(role, id == CHILDID_SELF       ? ROLE_SYSTEM_CLIENT
                      : id == ProgressBarChild ? ROLE_SYSTEM_PROGRESSBAR
                                               : ROLE_SYSTEM_PUSHBUTTON);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        LONG id = 0;
        const HRESULT checked = StartVariant(child, state, id);
        if (checked != S_OK)
            return checked;
        // Hidden while the setup program runs.
        LONG flags = IsWindowVisible(window_) ? 0 : STATE_SYSTEM_INVISIBLE;
        if (id == CHILDID_SELF)
            flags |= STATE_SYSTEM_FOCUSABLE | (GetFocus() == window_ ? STATE_SYSTEM_FOCUSED : 0);
        else if (id == ProgressBarChild)
            flags |= STATE_SYSTEM_READONLY;
        PutLong(state, flags);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        LONG id = 0;
        const HRESULT checked = StartText(child, help, id);
        return checked != S_OK ? checked : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override
    {
        if (file)
            *file = nullptr;
        if (topic)
            *topic = 0;
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }

    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return OwnText(child, shortcut, CloseButtonChild, CloseButtonShortcut, S_FALSE);
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        if (!focus)
            return E_POINTER;
        VariantInit(focus);
        if (!window_)
            return RPC_E_DISCONNECTED;
        if (GetFocus() != window_)
            return S_FALSE;
        PutLong(focus, CHILDID_SELF);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        if (!selection)
            return E_POINTER;
        VariantInit(selection);
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }

    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return OwnText(child, action, CloseButtonChild, CloseButtonAction, DISP_E_MEMBERNOTFOUND);
    }

    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override
    {
        if (!window_)
            return RPC_E_DISCONNECTED;
        const LONG id = ChildOf(child);
        if (id < 0)
            return E_INVALIDARG;
        if (id != CHILDID_SELF || flags != SELFLAG_TAKEFOCUS)
            return DISP_E_MEMBERNOTFOUND;
        SetFocus(window_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        if (!window_)
            return RPC_E_DISCONNECTED;
        const LONG id = ChildOf(child);
        if (id < 0)
            return E_INVALIDARG;
        RECT place;
        if (!ChildRect(id, place))
            return S_FALSE;  // the bar before the first paint has placed it
        POINT corners[2] = {{place.left, place.top}, {place.right, place.bottom}};
        MapWindowPoints(window_, nullptr, corners, 2);
        *left = corners[0].x;
        *top = corners[0].y;
        *width = corners[1].x - corners[0].x;
        *height = corners[1].y - corners[0].y;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        LONG from = 0;
        const HRESULT checked = StartVariant(start, end, from);
        if (checked != S_OK)
            return checked;
        LONG to = -1;
        if (from == CHILDID_SELF && direction == NAVDIR_FIRSTCHILD)
            to = ProgressBarChild;
        else if (from == CHILDID_SELF && direction == NAVDIR_LASTCHILD)
            to = CloseButtonChild;
        else if (from == ProgressBarChild && direction == NAVDIR_NEXT)
            to = CloseButtonChild;
        else if (from == CloseButtonChild && direction == NAVDIR_PREVIOUS)
            to = ProgressBarChild;
        if (to < 0)
            return S_FALSE;
        PutLong(end, to);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* found) override
    {
        if (!found)
            return E_POINTER;
        VariantInit(found);
        if (!window_)
            return RPC_E_DISCONNECTED;
        POINT point = {x, y};
        ScreenToClient(window_, &point);
        RECT client;
        GetClientRect(window_, &client);
        if (!PtInRect(&client, point))
            return S_FALSE;
        LONG hit = CHILDID_SELF;
        RECT place;
        for (LONG id : {CloseButtonChild, ProgressBarChild}) {
            if (ChildRect(id, place) && PtInRect(&place, point)) {
                hit = id;
                break;
            }
        }
        PutLong(found, hit);
        return S_OK;
    }

    // The button's action is the glyph's: the same close request a release
    // of the mouse over it posts. Hidden, while the setup program runs, the
    // glyph cannot be clicked, and closing then would leave the setup
    // program's file behind.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!window_)
            return RPC_E_DISCONNECTED;
        const LONG id = ChildOf(child);
        if (id < 0)
            return E_INVALIDARG;
        if (id != CloseButtonChild || !IsWindowVisible(window_))
            return DISP_E_MEMBERNOTFOUND;
        PostMessageW(window_, WM_CLOSE, 0, 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~SplashAccessible() = default;

    // What every text property checks first: S_OK with the child's id, else
    // the answer to give, with *out emptied.
    HRESULT StartText(const VARIANT& child, BSTR* out, LONG& id) const
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!window_)
            return RPC_E_DISCONNECTED;
        id = ChildOf(child);
        return id < 0 ? E_INVALIDARG : S_OK;
    }

    // The same for an answer in a VARIANT, left empty.
    HRESULT StartVariant(const VARIANT& child, VARIANT* out, LONG& id) const
    {
        if (!out)
            return E_POINTER;
        VariantInit(out);
        if (!window_)
            return RPC_E_DISCONNECTED;
        id = ChildOf(child);
        return id < 0 ? E_INVALIDARG : S_OK;
    }

    // A text only the child `owner` has; `others` is what the rest answer.
    HRESULT OwnText(const VARIANT& child, BSTR* out, LONG owner, const std::wstring& text, HRESULT others) const
    {
        LONG id = 0;
        const HRESULT checked = StartText(child, out, id);
        if (checked != S_OK)
            return checked;
        return id == owner ? Text(text, out) : others;
    }

    // Client coordinates, from the geometry the paint draws with: the bar
    // where the last paint put it, the glyph's drawing box.
    bool ChildRect(LONG id, RECT& place) const
    {
        RECT client;
        GetClientRect(window_, &client);
        if (id == CloseButtonChild) {
            place = CloseGlyphRect(client, WindowDpi(window_));
            return true;
        }
        if (id == ProgressBarChild) {
            const std::uint64_t packed = state_.barPlace.load(std::memory_order_relaxed);
            if (packed == 0)
                return false;
            place = BarRect(UnpackBarPlace(packed));
            return true;
        }
        place = client;
        return true;
    }

    LONG references_ = 1;
    HWND window_;
    const DownloadProgressState& state_;
};

LRESULT AnswerGetObject(SplashAccessibility& access, HWND hwnd, WPARAM wParam, LPARAM lParam,
                        const DownloadProgressState& state)
{
    // The object id arrives in the low 32 bits, sign-extended or not.
    // A request that comes while the window is being destroyed (from WM_DESTROY
    // on) would make an object nothing disconnects.
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT) || access.disconnected)
        return DefWindowProcW(hwnd, WM_GETOBJECT, wParam, lParam);
    if (!access.object) {
        // Other processes reach the object through COM, which this thread
        // did not need until now. A single-threaded apartment keeps every
        // call on this thread, delivered by the message loop.
        if (access.apartment == E_FAIL)
            access.apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        access.object = new (std::nothrow) SplashAccessible(hwnd, state);
        if (!access.object)
            return DefWindowProcW(hwnd, WM_GETOBJECT, wParam, lParam);
    }
    // LresultFromObject takes its own reference for the client; ours stays
    // until WM_DESTROY.
    // A failure is its HRESULT, negative; success a positive reference.
    const LRESULT answer = LresultFromObject(__uuidof(IAccessible), wParam, access.object);
    if (answer < 0)
        return DefWindowProcW(hwnd, WM_GETOBJECT, wParam, lParam);
    return answer;
}

void AnnounceShownProgress(SplashAccessibility& access, HWND hwnd, const DownloadProgressState& state)
{
    const std::uint64_t received = state.receivedBytes.load(std::memory_order_relaxed);
    const std::uint64_t total = state.totalBytes.load(std::memory_order_relaxed);
    const int percent = PercentShown(ProgressRatio(received, total));
    if (percent == access.percentAnnounced)
        return;
    const bool first = access.percentAnnounced < 0;
    access.percentAnnounced = percent;
    if (!first)
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, ProgressBarChild);
}

void AnnounceVisibility(HWND hwnd)
{
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

void DisconnectAccessibility(SplashAccessibility& access)
{
    access.disconnected = true;
    if (access.object) {
        access.object->Disconnect();
        // Proxies in other processes then answer without reaching this one.
        CoDisconnectObject(access.object, 0);
        access.object->Release();
        access.object = nullptr;
    }
}

SplashAccessibility::~SplashAccessibility()
{
    DisconnectAccessibility(*this);
    if (SUCCEEDED(apartment))
        CoUninitialize();
}
