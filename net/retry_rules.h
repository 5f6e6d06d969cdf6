#pragma once
#include <windows.h>

#include <string>

// When a download tries again, and after how long: the engine's only say on
// it. Pure, so the rules are tested as a table.

// How one try ended, as far as trying again is concerned.
enum class TryEnd {
    NoAnswer,    // the request failed before a status line
    Status,      // an answer the download cannot use
    BodyBroken,  // the body ended early after the answer began
    WholeAsked,  // a continuation's answer was dropped: the whole file is asked for
};

struct TriedOnce {
    TryEnd end = TryEnd::NoAnswer;
    DWORD error = 0;          // NoAnswer: the WinHTTP error
    unsigned long status = 0; // Status: the answer's status
    std::string retryAfter;   // Status: its Retry-After as sent, empty when none
    bool begun = false;       // the file was begun before this try: it was a continuation
    bool forward = false;     // BodyBroken: the file now holds more than after any try before
    bool resumable = false;   // BodyBroken: its length was announced, so a continuation can be checked
};

// What a download carries from try to try.
struct RetryBudget {
    ULONGLONG firstTryMs = 0;  // when the first try of the current URL began
    int waits = 0;             // that URL's tries again before a usable answer
    int continuations = 0;     // the whole download's continuations of a begun file
};

struct RetryDecision {
    bool again = false;
    DWORD pauseMs = 0;
    std::string why;  // a few words for the support log; empty when not again
};

// At most this many continuations of one download.
const int kMaxContinuations = 10;
// Before an answer, tries go on until this long after the URL's first.
const ULONGLONG kRetryWindowMs = 30000;

// Whether to try the download again after `tried`, at nowMs (the tick count
// of the budget's firstTryMs). Counts the try taken in `budget`.
//
// A begun file is continued while each try brings it forward, at most
// kMaxContinuations times, after pauses of 1, 2, then 4 s. Before it begins,
// a request that found no server (not resolved, refused, reset, timed out)
// or a 502, 503 or 504 is asked again after 1, 2, 4, then 8 s, or the
// answer's Retry-After of at most 30 s, while that keeps the try within
// kRetryWindowMs of the first. Nothing else is tried again: another status,
// a TLS or certificate failure, a redirect's rules.
RetryDecision DecideRetry(const TriedOnce& tried, RetryBudget& budget, ULONGLONG nowMs);

// Whether a request may still go out to another route of a script's list:
// every connection attempt of a URL shares its window.
bool MayTryAnotherRoute(const RetryBudget& budget, ULONGLONG nowMs);

// Whether a request that failed with this error never got as far as an
// answer for a reason that may pass: not resolved, refused, reset, timed out.
bool MayPass(DWORD error);
