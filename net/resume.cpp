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

// A weak ETag may not stand in If-Range; the date may.
bool HasStrongTag(const FirstAnswer& first) { return !first.etag.empty() && first.etag.compare(0, 2, "W/") != 0; }

// What If-Range names: the strong ETag, else the date; empty when neither.
const std::string& Validator(const FirstAnswer& first)
{
    return HasStrongTag(first) ? first.etag : first.lastModified;
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

bool CanAskForTheRest(const FirstAnswer& first) { return !Validator(first).empty(); }

std::string ContinuationHeaders(std::uint64_t from, const FirstAnswer& first)
{
    return "Range: bytes=" + std::to_string(from) + "-\r\nIf-Range: " + Validator(first);
}

Continuation JudgeContinuation(const ContinuationAnswer& answer, bool rangeAsked, std::uint64_t from,
                               const FirstAnswer& first)
{
    if (answer.status == 200)
        return Continuation::StartOver;
    if (answer.status != 206 || !rangeAsked)
        return Continuation::Refuse;
    // A server or cache that ignores If-Range answers with the rest of
    // whatever it has now: only the validator asked for, repeated, shows the
    // bytes continue the same file. Anything else may splice two files.
    const std::string& sent = Validator(first);
    const std::string& repeated = HasStrongTag(first) ? answer.etag : answer.lastModified;
    std::uint64_t start = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    std::uint64_t length = 0;
    if (sent.empty() || repeated != sent || !ParseContentRange(answer.contentRange, start, last, total) ||
        start != from || total != first.length || last + 1 != total)
        return Continuation::AskWhole;
    if (!answer.contentLength.empty() &&
        (!ParseContentLength(answer.contentLength, length) || length != total - from))
        return Continuation::AskWhole;
    return Continuation::Append;
}
