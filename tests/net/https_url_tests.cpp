#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "net/https_url.h"

namespace {

std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

struct Split {
    const char* url;
    const wchar_t* host;
    int port;
    const wchar_t* path;
};

TEST(ParseHttpsUrl, SplitsAcceptedUrls)
{
    const Split cases[] = {
        {"https://h/x/y?z=1", L"h", 443, L"/x/y?z=1"},
        {"https://h", L"h", 443, L"/"},
        {"https://h:8443", L"h", 8443, L"/"},
        {"https://h:08443/a", L"h", 8443, L"/a"},
        {"https://h:0000000000000000000443/", L"h", 443, L"/"},
        {"https://h:1/", L"h", 1, L"/"},
        {"https://h:65535/", L"h", 65535, L"/"},
        // No slash before the question mark: it belongs to the host.
        {"https://h?", L"h?", 443, L"/"},
        {"https://download.tolvin.com/tolvin/win7", L"download.tolvin.com", 443, L"/tolvin/win7"},
    };
    for (const Split& c : cases) {
        SCOPED_TRACE(c.url);
        std::wstring host = L"old";
        int port = -1;
        std::wstring path = L"old";
        ASSERT_TRUE(ParseHttpsUrl(c.url, host, port, path));
        EXPECT_EQ(c.host, host);
        EXPECT_EQ(c.port, port);
        EXPECT_EQ(c.path, path);
    }
}

TEST(ParseHttpsUrl, RejectsAndLeavesOutputsUntouched)
{
    const std::string rejected[] = {
        "",
        "https://",
        "http://h/",
        "HTTPS://h/",
        " https://h/",
        "xhttps://h/",
        "/a/b",
        "https://h:/a",
        "https://h:84x/a",
        "https://h:8443?a",
        "https://[::1]:443/",
        "https://h/a\nb",
        "https://h/a\rb",
        // A user part would be taken for the host, token and all.
        "https://TOKEN@h/",
        "https://@h",
        // Ports WinHttpConnect cannot take; the last two are beyond the signed
        // 32-bit range, which must not raise.
        "https://h:0/",
        "https://h:65536/",
        "https://h:2147483648/",
        "https://h:99999999999999999999999999/",
    };
    for (const std::string& url : rejected) {
        SCOPED_TRACE(url);
        std::wstring host = L"old host";
        int port = 7;
        std::wstring path = L"old path";
        EXPECT_FALSE(ParseHttpsUrl(url, host, port, path));
        EXPECT_EQ(L"old host", host);
        EXPECT_EQ(7, port);
        EXPECT_EQ(L"old path", path);
    }
}

TEST(ParseHttpsUrl, ExaminesTheWholeTextAndWidensByteForByte)
{
    std::wstring host;
    int port = 0;
    std::wstring path;
    // A NUL inside the path is part of the text, not its end.
    ASSERT_TRUE(ParseHttpsUrl(std::string("https://h/a\0b", 13), host, port, path));
    EXPECT_EQ(std::wstring(L"/a\0b", 4), path);

    // No UTF-8 decoding: each byte becomes one unit.
    ASSERT_TRUE(ParseHttpsUrl("https://h\xC3\xA9/\xE9\x9F\xB3", host, port, path));
    EXPECT_EQ(L"h\u00C3\u00A9", host);
    EXPECT_EQ(L"/\u00E9\u009F\u00B3", path);

}

// The splitter is written out by hand; the expression it stands for is the
// reference. Every text of up to five characters from an alphabet that takes
// each branch, after the scheme, must get the same verdict and the same pieces.
TEST(ParseHttpsUrl, AgreesWithTheExpressionOnEveryShortText)
{
    const std::regex expression("https://([^/:@]+)(:(\\d+))?(/.*)?", std::regex::ECMAScript);
    const char alphabet[] = {'h', '/', ':', '0', '7', '?', '\n', '\r', '\0'};
    const size_t symbols = sizeof(alphabet);
    int mismatches = 0;
    size_t texts = 0;
    for (size_t length = 0; length <= 5; ++length) {
        size_t combinations = 1;
        for (size_t i = 0; i < length; ++i)
            combinations *= symbols;
        for (size_t n = 0; n < combinations; ++n) {
            std::string url = "https://";
            for (size_t i = 0, rest = n; i < length; ++i, rest /= symbols)
                url += alphabet[rest % symbols];
            ++texts;

            std::smatch match;
            bool expected = std::regex_match(url, match, expression);
            int expectedPort = 443;
            if (expected && match[3].matched) {
                expectedPort = std::stoi(match[3].str());
                expected = expectedPort >= 1 && expectedPort <= 65535;
            }
            std::wstring host = L"untouched";
            int port = -1;
            std::wstring path = L"untouched";
            bool parsed = ParseHttpsUrl(url, host, port, path);
            bool same = parsed == expected;
            if (same && expected) {
                std::string expectedHost = match[1].str();
                std::string expectedPath = match[4].matched ? match[4].str() : "/";
                same = host == std::wstring(expectedHost.begin(), expectedHost.end()) && port == expectedPort &&
                       path == std::wstring(expectedPath.begin(), expectedPath.end());
            }
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << "differs from the expression on \"" << Printable(url) << "\"";
        }
    }
    EXPECT_EQ(0, mismatches);
    EXPECT_EQ(66430u, texts);
}

// std::regex walked `.*` recursively: a Location of a few thousand characters
// overflowed a worker thread's stack and ended the process silently.
TEST(ParseHttpsUrl, LongTextsOnASmallStack)
{
    struct Job {
        std::string url;
        bool parsed = false;
        size_t hostSize = 0;
        size_t pathSize = 0;
    };
    Job jobs[2];
    jobs[0].url = "https://h:443/" + std::string(100000, 'a');
    jobs[1].url = "https://" + std::string(100000, 'h') + "/a";
    for (Job& job : jobs) {
        HANDLE thread = CreateThread(
            nullptr, 256 * 1024,
            [](void* context) -> DWORD {
                Job& job = *static_cast<Job*>(context);
                std::wstring host;
                int port = 0;
                std::wstring path;
                job.parsed = ParseHttpsUrl(job.url, host, port, path);
                job.hostSize = host.size();
                job.pathSize = path.size();
                return 0;
            },
            &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        ASSERT_NE(nullptr, thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    EXPECT_TRUE(jobs[0].parsed);
    EXPECT_EQ(100001u, jobs[0].pathSize);
    EXPECT_TRUE(jobs[1].parsed);
    EXPECT_EQ(100000u, jobs[1].hostSize);
}

}  // namespace
