#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "net/retry_rules.h"

namespace {

TriedOnce NoAnswer(DWORD error, bool begun = false) { return TriedOnce{TryEnd::NoAnswer, error, 0, "", begun}; }

TriedOnce Status(unsigned long status, const char* retryAfter = "", bool begun = false)
{
    return TriedOnce{TryEnd::Status, 0, status, retryAfter, begun};
}

TriedOnce Broken(bool forward, bool resumable = true)
{
    return TriedOnce{TryEnd::BodyBroken, 0, 0, "", true, forward, resumable};
}

TriedOnce WholeAsked() { return TriedOnce{TryEnd::WholeAsked, 0, 0, "", true}; }

const DWORD kNo = ~0u;  // not tried again

TEST(RetryRules, WhatIsTriedAgainAndAfterHowLong)
{
    struct Case {
        const char* what;
        TriedOnce tried;
        int waits;          // the budget before the decision
        int continuations;
        ULONGLONG nowMs;    // since the URL's first try
        DWORD pauseMs;      // kNo: not again
        ULONGLONG quietMs = 0;  // since the file last grew, at nowMs
        double spread = 0;
    };
    const Case cases[] = {
        // Before an answer: pauses of 1, 2, 4, then 8 s within 30 s of the first try.
        {"refused", NoAnswer(ERROR_WINHTTP_CANNOT_CONNECT), 0, 0, 50, 1000},
        {"not resolved", NoAnswer(ERROR_WINHTTP_NAME_NOT_RESOLVED), 1, 0, 1100, 2000},
        {"reset", NoAnswer(ERROR_WINHTTP_CONNECTION_ERROR), 2, 0, 3200, 4000},
        {"timed out", NoAnswer(ERROR_WINHTTP_TIMEOUT), 3, 0, 7300, 8000},
        {"fifth wait", NoAnswer(ERROR_WINHTTP_CANNOT_CONNECT), 4, 0, 15000, 8000},
        {"the last that ends by 30 s", NoAnswer(ERROR_WINHTTP_CANNOT_CONNECT), 5, 0, 22000, 8000},
        {"one that would end past 30 s", NoAnswer(ERROR_WINHTTP_CANNOT_CONNECT), 5, 0, 22001, kNo},
        {"TLS", NoAnswer(ERROR_WINHTTP_SECURE_FAILURE), 0, 0, 50, kNo},
        {"certificate", NoAnswer(ERROR_WINHTTP_SECURE_INVALID_CA), 0, 0, 50, kNo},
        {"untrusted, as Wine says it", NoAnswer(ERROR_WINHTTP_SECURE_CHANNEL_ERROR), 0, 0, 50, kNo},
        {"ended before the status line", NoAnswer(ERROR_WINHTTP_INVALID_SERVER_RESPONSE), 0, 0, 50, 1000},
        {"cancelled", NoAnswer(ERROR_WINHTTP_OPERATION_CANCELLED), 0, 0, 50, kNo},
        // Busy servers, with their Retry-After when it is at most 30 s.
        {"503", Status(503), 0, 0, 50, 1000},
        {"502", Status(502), 1, 0, 1100, 2000},
        {"504", Status(504), 2, 0, 3200, 4000},
        // A Retry-After lengthens the own pause, never shortens it.
        {"503 told 1 s", Status(503, "1"), 3, 0, 50, 8000},
        {"503 told 0 s", Status(503, "0"), 0, 0, 50, 1000},
        {"503 told 3 s", Status(503, "3"), 0, 0, 50, 3000},
        {"503 told 30 s", Status(503, "30"), 0, 0, 0, 30000},
        {"503 told 30 s, late", Status(503, "30"), 0, 0, 1, kNo},
        {"503 told 31 s", Status(503, "31"), 0, 0, 50, 1000},
        {"503 told a date", Status(503, "Wed, 21 Oct 2026 07:28:00 GMT"), 1, 0, 50, 2000},
        {"503 told nonsense", Status(503, "-1"), 0, 0, 50, 1000},
        {"404", Status(404), 0, 0, 50, kNo},
        {"500", Status(500), 0, 0, 50, kNo},
        {"407", Status(407, "1"), 0, 0, 50, kNo},
        {"301 unusable", Status(301), 0, 0, 50, kNo},
        // A begun file: continued while it moves forward, at most 10 times,
        // after 1, 2, then 4 s, however long ago the first try was.
        {"first break", Broken(true), 0, 0, 50, 1000},
        {"second break", Broken(true), 0, 1, 90000, 2000},
        {"third break", Broken(true), 0, 2, 90000, 4000},
        {"tenth break", Broken(true), 0, 9, 90000, 4000},
        {"eleventh break", Broken(true), 0, 10, 90000, kNo},
        {"no further than before", Broken(false), 0, 0, 50, kNo},
        {"no length", Broken(true, false), 0, 0, 50, kNo},
        {"continuation not answered", NoAnswer(ERROR_WINHTTP_CONNECTION_ERROR, true), 0, 3, 90000, 4000},
        {"continuation refused by TLS", NoAnswer(ERROR_WINHTTP_SECURE_FAILURE, true), 0, 0, 50, kNo},
        {"continuation busy", Status(503, "2", true), 0, 1, 90000, 2000},
        {"continuation told 0 s", Status(503, "0", true), 0, 2, 90000, 4000},
        // Every continuation, only while the file grew within the last 60 s.
        {"continuation not answered, file quiet", NoAnswer(WSAETIMEDOUT, true), 0, 1, 90000, 2000, 57999},
        {"continuation not answered, quiet too long", NoAnswer(WSAETIMEDOUT, true), 0, 1, 90000, kNo, 58000},
        {"continuation busy, quiet too long", Status(503, "", true), 0, 2, 90000, kNo, 56000},
        {"break, quiet too long", Broken(true), 0, 4, 90000, kNo, 56000},
        // Up to a fifth longer, so clients turned away together come back apart.
        {"spread", Status(503), 1, 0, 1100, 2399, 0, 0.9999},
        {"spread on Retry-After", Status(503, "30", true), 0, 0, 90000, 35999, 0, 0.9999},
        {"spread past the window", Status(503), 3, 0, 22000, kNo, 0, 0.9999},
        {"continuation 416", Status(416, "", true), 0, 0, 50, kNo},
        {"whole file asked", WholeAsked(), 0, 4, 50, 0},
        {"whole file asked, none left", WholeAsked(), 0, 10, 50, kNo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RetryBudget budget;
        budget.firstTryMs = 1000000;
        budget.waits = c.waits;
        budget.continuations = c.continuations;
        budget.progressMs = budget.firstTryMs + c.nowMs - c.quietMs;
        const RetryDecision decision = DecideRetry(c.tried, budget, budget.firstTryMs + c.nowMs, c.spread);
        EXPECT_EQ(c.pauseMs != kNo, decision.again);
        if (c.pauseMs == kNo)
            continue;
        EXPECT_EQ(c.pauseMs, decision.pauseMs);
        EXPECT_FALSE(decision.why.empty());
        // The try is counted where it belongs.
        EXPECT_EQ(c.waits + (c.tried.begun ? 0 : 1), budget.waits);
        EXPECT_EQ(c.continuations + (c.tried.begun ? 1 : 0), budget.continuations);
    }
}

}  // namespace
