#pragma once
#include "splash/gdiplus_flat.h"

// Decodes a PNG resource of this executable into a GDI+ bitmap that owns a copy
// of the bytes. Null on any failure (missing resource, empty, undecodable,
// GDI+ not started); nothing taken is left behind.
GpBitmapPtr LoadPngResource(WORD id, const wchar_t* type);
