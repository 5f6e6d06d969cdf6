#pragma once
#include <string>

// One byte to one UTF-16 unit, no decoding: bytes above 0x7F become
// U+0080-U+00FF. URLs and the save name are ASCII; the install worker widens
// the save name the same way to launch it, so both sides name the same file.
inline std::wstring WidenBytes(const std::string& bytes)
{
    std::wstring wide;
    wide.reserve(bytes.size());
    for (char c : bytes)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}
