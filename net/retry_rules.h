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
    ULONGLONG progressMs = 0;  // when the file last grew; before its first byte, as firstTryMs
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
// A download whose file has not grown for this long has failed, whatever
// try or pause is under way.
const ULONGLONG kStallMs = 60000;
// The longest one try waits for its connection, its answer or a read.
const DWORD kLongestTryWaitMs = 30000;

// Whether to try the download again after `tried`, at nowMs (the tick count
// of the budget's firstTryMs). Counts the try taken in `budget`. `spread`,
// from 0 up to 1, lengthens the pause by up to a fifth, so that clients
// turned away together do not all come back together; the caller draws it.
//
// A begun file is continued while each broken body brings it further, at most
// kMaxContinuations times, after pauses of 1, 2, then 4 s. Before it begins,
// a request that found no server (not resolved, refused, reset, timed out)
// or a 502, 503 or 504 is asked again after 1, 2, 4, then 8 s while that
// keeps the try within kRetryWindowMs of the first. A Retry-After of at most
// 30 s lengthens a pause, never shortens it. No pause may end kStallMs or
// more after the file last grew. Nothing else is tried again: another
// status, a TLS or certificate failure, a redirect's rules.
RetryDecision DecideRetry(const TriedOnce& tried, RetryBudget& budget, ULONGLONG nowMs, double spread);

// How long the try that starts at nowMs may wait for any one step: at most
// kLongestTryWaitMs, and never past kStallMs after the file last grew.
DWORD TryWaitMs(const RetryBudget& budget, ULONGLONG nowMs);

// Whether a request may still go out to another route of a script's list:
// every connection attempt of a URL shares its window.
bool MayTryAnotherRoute(const RetryBudget& budget, ULONGLONG nowMs);

// Whether a request that failed with this error never got as far as an
// answer for a reason that may pass: not resolved, refused, reset, timed out
// (as WinHTTP says it, or as Wine's sockets do).
bool MayPass(DWORD error);
