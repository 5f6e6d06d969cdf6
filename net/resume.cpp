#include "net/resume.h"

#include <limits>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from `pos` on, moved past them; false when there are none or they
// overflow.
bool ReadNumber(const std::string& text, size_t& pos, std::uint64_t& value)
{
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const size_t start = pos;
    value = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        const unsigned digit = static_cast<unsigned>(text[pos] - '0');
        if (value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return pos > start;
}

bool Expect(const std::string& text, size_t& pos, const char* literal)
{
    const std::string expected(literal);
    if (text.compare(pos, expected.size(), expected) != 0)
        return false;
    pos += expected.size();
    return true;
}

}  // namespace

bool ParseContentLength(const std::string& text, std::uint64_t& length)
{
    size_t pos = 0;
    std::uint64_t value = 0;
    if (!ReadNumber(text, pos, value) || pos != text.size())
        return false;
    length = value;
    return true;
}

bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total)
{
    size_t pos = 0;
    return Expect(text, pos, "bytes ") && ReadNumber(text, pos, first) && Expect(text, pos, "-") &&
           ReadNumber(text, pos, last) && Expect(text, pos, "/") && ReadNumber(text, pos, total) &&
           pos == text.size() && first <= last && last < total;
}

std::string ContinuationHeaders(std::uint64_t from, const FirstAnswer& first)
{
    std::string headers = "Range: bytes=" + std::to_string(from) + "-";
    // A weak ETag may not stand in If-Range; the date may.
    const bool strongTag = !first.etag.empty() && first.etag.compare(0, 2, "W/") != 0;
    if (strongTag)
        headers += "\r\nIf-Range: " + first.etag;
    else if (!first.lastModified.empty())
        headers += "\r\nIf-Range: " + first.lastModified;
    return headers;
}

Continuation JudgeContinuation(unsigned long status, const std::string& contentRange, const std::string& etag,
                               std::uint64_t from, const FirstAnswer& first)
{
    if (status == 200)
        return Continuation::StartOver;
    if (status != 206)
        return Continuation::Refuse;
    std::uint64_t start = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    // Anything but the rest of the very file already begun would splice two.
    if (!ParseContentRange(contentRange, start, last, total) || start != from || total != first.length ||
        last + 1 != total)
        return Continuation::Refuse;
    if (!etag.empty() && etag != first.etag)
        return Continuation::Refuse;
    return Continuation::Append;
}
