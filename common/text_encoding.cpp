#include "common/text_encoding.h"

#include <windows.h>

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();

    // Length -1 reads up to the first 0 byte, so the counts include the terminator.
    UINT codePage = CP_UTF8;
    int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (units < 1) {
        codePage = CP_ACP;
        units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        if (units < 1)
            return std::wstring();
    }

    std::wstring wide(static_cast<size_t>(units - 1), L'\0');
    // The string's own terminator slot takes the NUL, so the buffer holds `units`.
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], units);
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes < 1)
        return std::string();
    std::string utf8(static_cast<size_t>(bytes - 1), '\0');
    // The string's own terminator slot takes the NUL.
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}
