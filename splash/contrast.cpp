#include "splash/contrast.h"

#include "splash/paint.h"

bool operator==(const ContrastScheme& a, const ContrastScheme& b)
{
    return a.on == b.on && a.window == b.window && a.windowText == b.windowText && a.highlight == b.highlight;
}

bool operator!=(const ContrastScheme& a, const ContrastScheme& b)
{
    return !(a == b);
}

ContrastScheme SystemContrastScheme()
{
    HIGHCONTRASTW setting = {};
    setting.cbSize = sizeof(setting);
    ContrastScheme scheme;
    scheme.on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0) &&
                (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
    // Read with the setting off too: a splash whose background picture did
    // not load shows the window colour, and its cache must follow a change.
    scheme.window = GetSysColor(COLOR_WINDOW);
    scheme.windowText = GetSysColor(COLOR_WINDOWTEXT);
    scheme.highlight = GetSysColor(COLOR_HIGHLIGHT);
    return scheme;
}

ContrastReader ReadContrastScheme = SystemContrastScheme;

bool MayChangeContrast(UINT message, WPARAM wParam)
{
    return (message == WM_SETTINGCHANGE && wParam == SPI_SETHIGHCONTRAST) || message == WM_SYSCOLORCHANGE ||
           message == WM_THEMECHANGED;
}

void FollowContrastScheme(HWND hwnd, UINT message, WPARAM wParam, std::unique_ptr<SplashCache>& cache)
{
    if (!MayChangeContrast(message, wParam) || !cache)
        return;
    const ContrastScheme scheme = ReadContrastScheme();
    if (scheme == cache->scheme)
        return;
    // The cache's still part holds the old scheme's pixels.
    cache = std::make_unique<SplashCache>(cache->dpi, scheme);
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
}
