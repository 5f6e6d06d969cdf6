#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include "splash/progress.h"
#include "splash/accessible.h"

namespace {

DownloadProgressState TestProgress;
SplashAccessibility* TestAccess = nullptr;

LRESULT CALLBACK AccessibleSplash(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETOBJECT)
        return AnswerGetObject(*TestAccess, hwnd, wParam, lParam, TestProgress);
    if (message == WM_DESTROY)
        DisconnectAccessibility(*TestAccess);
    // A screen reader's request that arrives while the window is going.
    if (message == WM_NCDESTROY)
        SendMessageW(hwnd, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

VARIANT Child(LONG id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// A client that still holds the object when the window goes (a screen reader
// between two events) must not reach into a window handle that may by then
// name another window; nor may a request that comes while it goes make a new one.
TEST(SplashAccessible, AnswersFromTheWindowWhileItLivesAndDisconnectedAfter)
{
    SplashAccessibility access;
    TestAccess = &access;
    TestProgress.receivedBytes = 47;
    TestProgress.totalBytes = 100;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = AccessibleSplash;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"AccessibleSplash";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"AccessibleSplash", L"", WS_POPUP, 0, 0, 560, 310, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window);

    IAccessible* object = nullptr;
    ASSERT_EQ(S_OK, AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&object)));
    BSTR value = nullptr;
    EXPECT_EQ(S_OK, object->get_accValue(Child(ProgressBarChild), &value));
    EXPECT_STREQ(L"47%", value);
    SysFreeString(value);

    DestroyWindow(window);
    value = nullptr;
    EXPECT_EQ(RPC_E_DISCONNECTED, object->get_accValue(Child(ProgressBarChild), &value));
    EXPECT_EQ(nullptr, value);
    LONG left = 1, top = 1, width = 1, height = 1;
    EXPECT_EQ(RPC_E_DISCONNECTED, object->accLocation(&left, &top, &width, &height, Child(CloseButtonChild)));
    EXPECT_EQ(RPC_E_DISCONNECTED, object->accDoDefaultAction(Child(CloseButtonChild)));
    // The late request made no object that nothing would disconnect.
    EXPECT_EQ(nullptr, access.object);
    object->Release();
    TestAccess = nullptr;
}

}  // namespace
