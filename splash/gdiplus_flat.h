#pragma once
// The GDI+ flat API, which the splash uses directly (no wrapper classes), plus
// an owning pointer for bitmaps so every picture is disposed exactly once.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpStatus;

struct GpBitmapDeleter {
    void operator()(GpBitmap* bitmap) const;
};
using GpBitmapPtr = std::unique_ptr<GpBitmap, GpBitmapDeleter>;
