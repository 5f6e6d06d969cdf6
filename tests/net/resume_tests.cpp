#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/resume.h"
#include "net/secure_protocols.h"

// The decisions around a download that is continued, and the TLS versions a
// session asks for, without a server: Wine takes every protocol value, and a
// local server cannot send a length of 4 GiB.

namespace {

const DWORD kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
const DWORD kTls13 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

TEST(SecureProtocols, FallsBackFromTls13ToTls12ToTheSystemDefaults)
{
    struct Case {
        std::vector<DWORD> taken;  // the values the system accepts
        std::vector<DWORD> tried;
        DWORD result;
    };
    const Case cases[] = {
        {{kTls12 | kTls13, kTls12}, {kTls12 | kTls13}, kTls12 | kTls13},  // Windows 11
        {{kTls12}, {kTls12 | kTls13, kTls12}, kTls12},                    // Windows 7 to 10
        {{}, {kTls12 | kTls13, kTls12}, 0},                              // Windows 7 without its update
    };
    for (const Case& c : cases) {
        std::vector<DWORD> tried;
        DWORD result = ChooseSecureProtocols([&](DWORD protocols) {
            tried.push_back(protocols);
            for (DWORD taken : c.taken)
                if (taken == protocols)
                    return true;
            return false;
        });
        EXPECT_EQ(c.tried, tried);
        EXPECT_EQ(c.result, result);
    }
}

TEST(ContentLength, SixtyFourBitDigitsOnly)
{
    std::uint64_t length = 7;
    ASSERT_TRUE(ParseContentLength("4294967296", length));
    EXPECT_EQ(4294967296ull, length);
    ASSERT_TRUE(ParseContentLength("18446744073709551615", length));
    EXPECT_EQ(18446744073709551615ull, length);
    ASSERT_TRUE(ParseContentLength("0", length));
    EXPECT_EQ(0u, length);
    for (const char* text : {"", "18446744073709551616", "-1", "+5", "12a", "1 2", "0x10", " 12"}) {
        length = 7;
        EXPECT_FALSE(ParseContentLength(text, length)) << text;
        EXPECT_EQ(7u, length) << text;
    }
}

TEST(Continuation, IfRangeNamesTheStrongETagElseTheDate)
{
    FirstAnswer first;
    first.length = 50000;
    EXPECT_EQ("Range: bytes=20000-", ContinuationHeaders(20000, first));
    first.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    EXPECT_EQ("Range: bytes=20000-\r\nIf-Range: Tue, 01 Dec 2026 10:00:00 GMT", ContinuationHeaders(20000, first));
    first.etag = "W/\"weak\"";
    EXPECT_EQ("Range: bytes=20000-\r\nIf-Range: Tue, 01 Dec 2026 10:00:00 GMT", ContinuationHeaders(20000, first));
    first.etag = "\"v1\"";
    EXPECT_EQ("Range: bytes=4294967296-\r\nIf-Range: \"v1\"", ContinuationHeaders(4294967296ull, first));
}

TEST(Continuation, OnlyTheRestOfTheSameFileIsAppended)
{
    FirstAnswer first;
    first.length = 50000;
    first.etag = "\"v1\"";
    struct Case {
        unsigned long status;
        const char* contentRange;
        const char* etag;
        Continuation expected;
    };
    const Case cases[] = {
        {206, "bytes 20000-49999/50000", "\"v1\"", Continuation::Append},
        {206, "bytes 20000-49999/50000", "", Continuation::Append},
        {200, "", "\"v2\"", Continuation::StartOver},
        {206, "bytes 20000-49999/50000", "\"v2\"", Continuation::Refuse},   // another file
        {206, "bytes 19999-49999/50000", "\"v1\"", Continuation::Refuse},   // not where we stopped
        {206, "bytes 20000-59999/60000", "\"v1\"", Continuation::Refuse},   // another length
        {206, "bytes 20000-29999/50000", "\"v1\"", Continuation::Refuse},   // not to the end
        {206, "bytes 20000-49999/*", "\"v1\"", Continuation::Refuse},
        {206, "", "\"v1\"", Continuation::Refuse},
        {416, "bytes */50000", "", Continuation::Refuse},
        {302, "", "", Continuation::Refuse},
        {500, "", "", Continuation::Refuse},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, JudgeContinuation(c.status, c.contentRange, c.etag, 20000, first))
            << c.status << " " << c.contentRange << " " << c.etag;

    // Past 4 GiB the same.
    first.length = 5000000000ull;
    EXPECT_EQ(Continuation::Append,
              JudgeContinuation(206, "bytes 4294967296-4999999999/5000000000", "", 4294967296ull, first));
}

}  // namespace
