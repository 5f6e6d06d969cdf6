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

TEST(Continuation, OnlyAVersionedFileIsAskedForTheRestWithTheStrongETagElseTheDate)
{
    FirstAnswer first;
    first.length = 50000;
    EXPECT_FALSE(CanAskForTheRest(first));
    first.etag = "W/\"weak\"";
    EXPECT_FALSE(CanAskForTheRest(first));
    first.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    ASSERT_TRUE(CanAskForTheRest(first));
    EXPECT_EQ("Range: bytes=20000-\r\nIf-Range: Tue, 01 Dec 2026 10:00:00 GMT", ContinuationHeaders(20000, first));
    first.etag = "\"v1\"";
    EXPECT_EQ("Range: bytes=4294967296-\r\nIf-Range: \"v1\"", ContinuationHeaders(4294967296ull, first));
}

TEST(Continuation, OnlyTheRestOfTheSameFileIsAppended)
{
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    const std::string later = "Wed, 02 Dec 2026 10:00:00 GMT";
    FirstAnswer tagged;
    tagged.length = 50000;
    tagged.etag = "\"v1\"";
    tagged.lastModified = date;
    FirstAnswer dated = tagged;
    dated.etag = "W/\"weak\"";
    struct Case {
        const FirstAnswer& first;
        unsigned long status;
        const char* contentRange;
        const char* contentLength;
        const char* etag;
        std::string lastModified;
        Continuation expected;
    };
    const Case cases[] = {
        {tagged, 206, "bytes 20000-49999/50000", "30000", "\"v1\"", date, Continuation::Append},
        {tagged, 206, "bytes 20000-49999/50000", "", "\"v1\"", later, Continuation::Append},  // the tag decides
        {dated, 206, "bytes 20000-49999/50000", "30000", "W/\"other\"", date, Continuation::Append},
        {tagged, 200, "", "50000", "\"v2\"", later, Continuation::StartOver},
        // A server or cache that ignored If-Range, or answers a different file.
        {tagged, 206, "bytes 20000-49999/50000", "30000", "", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/50000", "30000", "\"v2\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/50000", "30000", "W/\"v1\"", date, Continuation::AskWhole},
        {dated, 206, "bytes 20000-49999/50000", "30000", "W/\"weak\"", later, Continuation::AskWhole},
        {dated, 206, "bytes 20000-49999/50000", "30000", "W/\"weak\"", "", Continuation::AskWhole},
        // Not the rest of the length begun.
        {tagged, 206, "bytes 19999-49999/50000", "30001", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-59999/60000", "40000", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-29999/50000", "10000", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/*", "30000", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "", "30000", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/50000", "30001", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/50000", "50000", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 206, "bytes 20000-49999/50000", "3e4", "\"v1\"", date, Continuation::AskWhole},
        {tagged, 416, "bytes */50000", "", "", "", Continuation::Refuse},
        {tagged, 302, "", "", "", "", Continuation::Refuse},
        {tagged, 500, "", "", "", "", Continuation::Refuse},
    };
    for (const Case& c : cases) {
        ContinuationAnswer answer;
        answer.status = c.status;
        answer.contentRange = c.contentRange;
        answer.contentLength = c.contentLength;
        answer.etag = c.etag;
        answer.lastModified = c.lastModified;
        EXPECT_EQ(c.expected, JudgeContinuation(answer, true, 20000, c.first))
            << c.status << " " << c.contentRange << " " << c.contentLength << " " << c.etag << " " << c.lastModified;
        // A plain request asked for no range: only a 200 is the file.
        if (c.expected != Continuation::StartOver) {
            EXPECT_EQ(Continuation::Refuse, JudgeContinuation(answer, false, 20000, c.first)) << c.status;
        }
    }

    // Past 4 GiB the same.
    tagged.length = 5000000000ull;
    ContinuationAnswer answer;
    answer.status = 206;
    answer.contentRange = "bytes 4294967296-4999999999/5000000000";
    answer.contentLength = "705032704";
    answer.etag = "\"v1\"";
    EXPECT_EQ(Continuation::Append, JudgeContinuation(answer, true, 4294967296ull, tagged));
}

}  // namespace
