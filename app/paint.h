#pragma once
#include <windows.h>

#include <string>

#include "app/gdiplus_flat.h"

// What one paint draws from: the pictures (each may be null) and the progress
// values derived from the shared state.
struct SplashPictures {
    HBITMAP background;
    GpBitmap* track;
    GpBitmap* fill;
};

struct SplashProgress {
    double ratio;
    std::wstring percentText;
    std::wstring speedText;
};

// Draws the whole splash for the client rectangle into target in one copy.
// `update` is the area the background fallback fills.
void PaintSplash(HDC target, const RECT& client, const RECT& update, const SplashPictures& pictures,
                 const SplashProgress& progress);
