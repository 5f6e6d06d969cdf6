#include "splash/png_resource.h"

#include <cstring>

using namespace Gdiplus::DllExports;

void GpBitmapDeleter::operator()(GpBitmap* bitmap) const
{
    if (bitmap)
        GdipDisposeImage(bitmap);
}

GpBitmapPtr LoadPngResource(WORD id, const wchar_t* type)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded)
        return nullptr;
    DWORD size = SizeofResource(nullptr, found);
    const void* data = LockResource(loaded);
    if (!data || size == 0)
        return nullptr;

    // GDI+ decodes from a stream and may read it for as long as the bitmap
    // lives, so it gets its own copy of the bytes rather than the mapped resource.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return nullptr;
    void* copy = GlobalLock(block);
    if (!copy) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(copy, data, size);

    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK) {
        GlobalUnlock(block);
        GlobalFree(block);
        return nullptr;
    }

    GpBitmap* bitmap = nullptr;
    GpStatus status = GdipCreateBitmapFromStream(stream, &bitmap);
    // The bitmap holds its own reference; ours goes, and with the last one the block.
    stream->Release();

    GpBitmapPtr result(bitmap);
    if (!result || status != Gdiplus::Ok)
        return nullptr;
    return result;
}
