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

// Whether a break may be continued with a range request: only when the first
// answer named its version by a strong ETag or a Last-Modified. Without one
// nothing tells the rest of that file from the rest of a newer one.
bool CanAskForTheRest(const FirstAnswer& first);

// The request headers of a continuation from byte `from` of a file that
// CanAskForTheRest: a Range and an If-Range with its strong ETag, else its
// Last-Modified. CRLF-separated, for WinHttpSendRequest.
std::string ContinuationHeaders(std::uint64_t from, const FirstAnswer& first);

// The headers of an answer to a continuation, as WinHTTP gives them; empty
// when the answer has none.
struct ContinuationAnswer {
    unsigned long status = 0;
    std::string contentRange;
    std::string contentLength;
    std::string etag;
    std::string lastModified;
};

// Append: the body is the rest of the file begun. StartOver: the body is the
// whole file (perhaps another one) from byte 0. AskWhole: drop the answer and
// ask for the whole file with a plain request. Refuse: fail the download.
enum class Continuation { Append, StartOver, AskWhole, Refuse };

// How to use the answer to a continuation from byte `from`; `rangeAsked`
// tells a range request from a plain one. A 206 is appended only when it
// repeats the validator sent in If-Range and covers exactly the rest of the
// first answer's length; any other 206 is dropped for the whole file. A 200
// starts over; anything else is refused.
Continuation JudgeContinuation(const ContinuationAnswer& answer, bool rangeAsked, std::uint64_t from,
                               const FirstAnswer& first);
