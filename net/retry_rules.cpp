#include "net/retry_rules.h"

#include <winhttp.h>

namespace {

const DWORD kLongestRetryAfterMs = 30000;
const DWORD kLongestContinuationPauseMs = 4000;
const DWORD kWaitPausesMs[] = {1000, 2000, 4000, 8000};

bool IsBusy(unsigned long status) { return status == 502 || status == 503 || status == 504; }

// A Retry-After in seconds up to 30 s, in ms; false for none, a date or a
// longer one, which the own pauses stand in for.
bool ReadRetryAfter(const std::string& text, DWORD& ms)
{
    if (text.empty() || text.size() > 2)
        return false;
    DWORD seconds = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        seconds = seconds * 10 + static_cast<DWORD>(c - '0');
    }
    ms = seconds * 1000;
    return ms <= kLongestRetryAfterMs;
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
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
}

bool MayTryAnotherRoute(const RetryBudget& budget, ULONGLONG nowMs)
{
    return nowMs - budget.firstTryMs < kRetryWindowMs;
}

RetryDecision DecideRetry(const TriedOnce& tried, RetryBudget& budget, ULONGLONG nowMs)
{
    const bool mayPass = (tried.end == TryEnd::NoAnswer && MayPass(tried.error)) ||
                         (tried.end == TryEnd::Status && IsBusy(tried.status));
    DWORD retryAfterMs = 0;
    const bool toldWhen = tried.end == TryEnd::Status && ReadRetryAfter(tried.retryAfter, retryAfterMs);
    if (tried.begun || tried.end == TryEnd::BodyBroken) {
        if (tried.end == TryEnd::BodyBroken && !(tried.resumable && tried.forward))
            return RetryDecision();
        if ((tried.end == TryEnd::NoAnswer || tried.end == TryEnd::Status) && !mayPass)
            return RetryDecision();
        if (budget.continuations == kMaxContinuations)
            return RetryDecision();
        ++budget.continuations;
        // The network is fine: the answer only named another file.
        if (tried.end == TryEnd::WholeAsked)
            return Again(0, tried);
        DWORD pause = kLongestContinuationPauseMs;
        if (budget.continuations < 3)
            pause = 1000u << (budget.continuations - 1);
        return Again(toldWhen ? retryAfterMs : pause, tried);
    }
    if (!mayPass)
        return RetryDecision();
    const int step = budget.waits < 3 ? budget.waits : 3;
    const DWORD pause = toldWhen ? retryAfterMs : kWaitPausesMs[step];
    if (nowMs - budget.firstTryMs + pause > kRetryWindowMs)
        return RetryDecision();
    ++budget.waits;
    return Again(pause, tried);
}
