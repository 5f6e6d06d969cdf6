#pragma once
// Renders saved to be looked at: 32-bit top-down pixels as a plain .bmp
// (ImageMagick's convert reads it with -alpha off: the fourth byte of a pixel
// is not alpha here).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

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
