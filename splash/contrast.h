#pragma once
// Following the user's colour scheme while the splash is up: a change made
// then is drawn at once, not on the next run.
#include <windows.h>

#include <memory>

#include "splash/contrast_scheme.h"

// True for the messages that tell a window the scheme may have changed:
// WM_SETTINGCHANGE for SPI_SETHIGHCONTRAST, WM_SYSCOLORCHANGE, WM_THEMECHANGED.
bool MayChangeContrast(UINT message, WPARAM wParam);

struct SplashCache;

// One of those messages: reads the scheme again and, when it differs from the
// one the cache was made for, makes the cache anew for it (at the same scale)
// and repaints the whole window at once. The window stays where it is.
void FollowContrastScheme(HWND hwnd, UINT message, WPARAM wParam, std::unique_ptr<SplashCache>& cache);
