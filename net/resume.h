#pragma once
#include <cstdint>
#include <string>

// What the answer that started the file said about it; a continuation must
// name the same file. Header values as WinHTTP gives them, one byte per unit.
struct FirstAnswer {
    std::uint64_t length = 0;  // Content-Length, 0 when none or unreadable
    std::string etag;          // empty when none
    std::string lastModified;  // empty when none
};

// A Content-Length of digits only, up to 2^64 - 1; anything else is no length.
bool ParseContentLength(const std::string& text, std::uint64_t& length);

// "bytes FIRST-LAST/TOTAL" with a known total; false for anything else.
bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total);

// The request headers of a continuation from byte `from`: a Range and, when
// the first answer carried a validator, an If-Range with its strong ETag, else
// its Last-Modified. CRLF-separated, for WinHttpSendRequest.
std::string ContinuationHeaders(std::uint64_t from, const FirstAnswer& first);

enum class Continuation { Append, StartOver, Refuse };

// How to use the answer to a continuation from byte `from`: append a 206 that
// covers the rest of the same file, start over on a 200, refuse anything else.
Continuation JudgeContinuation(unsigned long status, const std::string& contentRange, const std::string& etag,
                               std::uint64_t from, const FirstAnswer& first);
