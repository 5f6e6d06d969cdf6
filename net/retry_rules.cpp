#include "net/retry_rules.h"

#include <winhttp.h>

namespace {

const DWORD kLongestRetryAfterMs = 30000;
const DWORD kLongestContinuationPauseMs = 4000;
const DWORD kWaitPausesMs[] = {1000, 2000, 4000, 8000};

bool IsBusy(unsigned long status) { return status == 502 || status == 503 || status == 504; }

// A Retry-After in seconds up to 30 s, in ms; 0 for none, a date or a
// longer one, which the own pauses stand in for.
DWORD ReadRetryAfter(const std::string& text)
{
    if (text.empty() || text.size() > 2)
        return 0;
    DWORD seconds = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        seconds = seconds * 10 + static_cast<DWORD>(c - '0');
    }
    return seconds * 1000 <= kLongestRetryAfterMs ? seconds * 1000 : 0;
}

std::string Why(const TriedOnce& tried)
{
    switch (tried.end) {
    case TryEnd::NoAnswer:
        return "no answer";
    case TryEnd::Status:
        return "status " + std::to_string(tried.status);
    case TryEnd::BodyBroken:
        return "body broken";
    case TryEnd::WholeAsked:
        return "continuation dropped";
    }
    return std::string();
}

RetryDecision Again(DWORD pauseMs, const TriedOnce& tried) { return RetryDecision{true, pauseMs, Why(tried)}; }

}  // namespace

bool MayPass(DWORD error)
{
    // A connection that ends before the status line reads as an invalid
    // answer (seen under Wine; Windows says so too when nothing came).
    return error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
           error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_CONNECTION_ERROR ||
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == WSAETIMEDOUT;
}

bool MayTryAnotherRoute(const RetryBudget& budget, ULONGLONG nowMs)
{
    return nowMs - budget.firstTryMs < kRetryWindowMs;
}

// The own pause before the next try of a begun file, by how many came before.
DWORD ContinuationPause(const RetryBudget& budget)
{
    return budget.continuations < 2 ? 1000u << budget.continuations : kLongestContinuationPauseMs;
}

RetryDecision DecideRetry(const TriedOnce& tried, RetryBudget& budget, ULONGLONG nowMs, double spread)
{
    const bool mayPass = (tried.end == TryEnd::NoAnswer && MayPass(tried.error)) ||
                         (tried.end == TryEnd::Status && IsBusy(tried.status));
    const bool continuation = tried.begun || tried.end == TryEnd::BodyBroken;
    DWORD pause = 0;
    if (continuation) {
        if (tried.end == TryEnd::BodyBroken && !(tried.resumable && tried.forward))
            return RetryDecision();
        if ((tried.end == TryEnd::NoAnswer || tried.end == TryEnd::Status) && !mayPass)
            return RetryDecision();
        if (budget.continuations == kMaxContinuations)
            return RetryDecision();
        // The network is fine after a dropped continuation: the answer only named another file.
        if (tried.end != TryEnd::WholeAsked)
            pause = ContinuationPause(budget);
    } else {
        if (!mayPass)
            return RetryDecision();
        pause = kWaitPausesMs[budget.waits < 3 ? budget.waits : 3];
    }
    // A server that asks for less, 0 included, does not take the pause away.
    if (tried.end == TryEnd::Status && ReadRetryAfter(tried.retryAfter) > pause)
        pause = ReadRetryAfter(tried.retryAfter);
    if (spread > 0 && spread < 1)
        pause += static_cast<DWORD>(pause * spread / 5);
    if (!continuation && nowMs - budget.firstTryMs + pause > kRetryWindowMs)
        return RetryDecision();
    if (nowMs - budget.progressMs + pause >= kStallMs)
        return RetryDecision();
    if (continuation)
        ++budget.continuations;
    else
        ++budget.waits;
    return Again(pause, tried);
}

DWORD TryWaitMs(const RetryBudget& budget, ULONGLONG nowMs)
{
    const ULONGLONG quiet = nowMs - budget.progressMs;
    if (quiet >= kStallMs)
        return 1;
    return kStallMs - quiet < kLongestTryWaitMs ? static_cast<DWORD>(kStallMs - quiet) : kLongestTryWaitMs;
}
