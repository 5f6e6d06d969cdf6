#pragma once
#include <string>

// Reads narrow text as UTF-8 (each malformed sequence becomes U+FFFD), falling
// back to the ANSI code page only when UTF-8 measuring fails outright. Stops at
// the first 0 byte. Gives an empty string when nothing can be converted.
std::wstring Utf8ToWide(const std::string& text);

// UTF-16 text as UTF-8, up to the first NUL; an unpaired surrogate becomes
// U+FFFD.
std::string WideToUtf8(const std::wstring& text);
