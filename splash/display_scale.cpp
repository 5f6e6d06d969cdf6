#include "splash/display_scale.h"

#include "splash/gdi_holders.h"

int ScaledPixels(int value, int dpi)
{
    return MulDiv(value, dpi, DefaultDpi);
}

int WindowDpi(HWND hwnd)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const GetDpiForWindowFn getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0)
            return static_cast<int>(dpi);
    }
    // Before Windows 10 the whole desktop has one DPI, the system's.
    WindowDc dc(hwnd);
    const int dpi = dc.get() ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? dpi : DefaultDpi;
}
