#pragma once
// What the paint tests and the paint bench both draw into and with.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "splash/contrast_scheme.h"

// A 32-bit top-down DIB section, its pixels reachable through *bits.
inline HBITMAP MakeDib(int width, int height, std::uint32_t** bits)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    *bits = static_cast<std::uint32_t*>(pixels);
    return bitmap;
}

// A render saved to be looked at: such pixels as a plain .bmp (ImageMagick's
// convert reads it with -alpha off: the fourth byte of a pixel is not alpha
// here).
inline bool SaveBitmapFile(const std::string& path, int width, int height, const std::uint32_t* pixels)
{
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD size = DWORD(width) * height * 4;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + size;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                         std::fwrite(&header, sizeof(header), 1, out) == 1 &&
                         std::fwrite(pixels, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}

// A high-contrast scheme as the tests and the README's picture give it: yellow
// text on black, a cyan highlight.
inline ContrastScheme YellowOnBlack()
{
    ContrastScheme scheme;
    scheme.on = true;
    scheme.window = RGB(0, 0, 0);
    scheme.windowText = RGB(255, 255, 0);
    scheme.highlight = RGB(0, 255, 255);
    return scheme;
}
