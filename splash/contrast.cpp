#include "splash/contrast.h"

#include "splash/paint.h"

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
