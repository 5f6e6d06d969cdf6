#pragma once
// Owners for the GDI and GDI+ objects one paint makes, so that each is released
// on every path out of the paint, in the reverse order of making.
#include <windows.h>

#include <memory>

#include "splash/gdiplus_flat.h"

// A memory device context; deleted with DeleteDC.
class MemoryDc {
public:
    explicit MemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc()
    {
        if (dc_)
            DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;

    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// A window's (or, for a null window, the screen's) device context; released
// with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A font, pen, brush or bitmap; deleted with DeleteObject. It must be
// deselected first, which a Selection declared after it takes care of.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object) : object_(object) {}
    ~GdiObject()
    {
        if (object_)
            DeleteObject(object_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    HGDIOBJ get() const { return object_; }

private:
    HGDIOBJ object_;
};

// Selects an object into a context and puts the previous one back on leaving.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~Selection()
    {
        if (previous_ && previous_ != HGDI_ERROR)
            SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

struct GpGraphicsDeleter {
    void operator()(Gdiplus::GpGraphics* graphics) const { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
};
struct GpPathDeleter {
    void operator()(Gdiplus::GpPath* path) const { Gdiplus::DllExports::GdipDeletePath(path); }
};
struct GpRegionDeleter {
    void operator()(Gdiplus::GpRegion* region) const { Gdiplus::DllExports::GdipDeleteRegion(region); }
};
struct GpBrushDeleter {
    void operator()(Gdiplus::GpBrush* brush) const { Gdiplus::DllExports::GdipDeleteBrush(brush); }
};

struct GpImageAttributesDeleter {
    void operator()(Gdiplus::GpImageAttributes* attributes) const
    {
        Gdiplus::DllExports::GdipDisposeImageAttributes(attributes);
    }
};

using GpGraphicsPtr = std::unique_ptr<Gdiplus::GpGraphics, GpGraphicsDeleter>;
using GpPathPtr = std::unique_ptr<Gdiplus::GpPath, GpPathDeleter>;
using GpRegionPtr = std::unique_ptr<Gdiplus::GpRegion, GpRegionDeleter>;
using GpBrushPtr = std::unique_ptr<Gdiplus::GpBrush, GpBrushDeleter>;
using GpImageAttributesPtr = std::unique_ptr<Gdiplus::GpImageAttributes, GpImageAttributesDeleter>;
