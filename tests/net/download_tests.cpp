#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "log/support_log.h"
#include "net/download.h"

// These tests talk to tools/download_server.py, started around the test
// executable by tools/with-download-server.sh (ctest does this).

namespace {

std::string EnvVar(const wchar_t* name)
{
    wchar_t value[1024];
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024)
        return std::string();
    // Ports and paths handed over by the wrapper are ASCII.
    return std::string(value, value + length);
}

// The server's /bytes body; a file that changed on the server is shifted.
std::string Pattern(size_t size, size_t shift = 0)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(((i + shift) * 7 + 3) & 0xFF);
    return bytes;
}

bool FileExists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadWholeFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& name, const std::string& bytes)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Unique per request so each test finds its own lines in the shared log.
std::string NextMarker()
{
    static int counter = 0;
    return "m" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++counter);
}

std::string PercentEncode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

// The user's proxy settings where WinHTTP reads them (and Windows' Internet
// options write them), for one test; the earlier value goes back after it.
class UserProxySetting {
public:
    enum Flags : DWORD { kDirect = 1, kProxy = 2, kScript = 4, kDetect = 8 };

    UserProxySetting(DWORD flags, const std::string& proxy, const std::string& bypass, const std::string& script)
    {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr))
            throw std::runtime_error("cannot open the Internet settings key");
        DWORD size = 0;
        had_ = RegQueryValueExA(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        saved_.resize(size);
        if (had_ && size)
            RegQueryValueExA(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_[0]), &size);
        std::string value;
        for (DWORD word : {DWORD(0x46), DWORD(1), flags})
            value.append(reinterpret_cast<const char*>(&word), sizeof(word));
        for (const std::string* text : {&proxy, &bypass, &script}) {
            DWORD length = static_cast<DWORD>(text->size());
            value.append(reinterpret_cast<const char*>(&length), sizeof(length));
            value += *text;
        }
        Write(value);
    }
    ~UserProxySetting()
    {
        if (had_)
            Write(saved_);
        else
            RegDeleteValueA(key_, kValue);
        RegCloseKey(key_);
    }
    UserProxySetting(const UserProxySetting&) = delete;
    UserProxySetting& operator=(const UserProxySetting&) = delete;

private:
    static constexpr const char* kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const char* kValue = "DefaultConnectionSettings";
    HKEY key_ = nullptr;
    bool had_ = false;
    std::string saved_;

    void Write(const std::string& value)
    {
        RegSetValueExA(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(value.data()),
                       static_cast<DWORD>(value.size()));
    }
};

struct Call {
    std::uint64_t received;
    std::uint64_t total;
    bool operator==(const Call& other) const { return received == other.received && total == other.total; }
};

std::ostream& operator<<(std::ostream& out, const Call& call)
{
    return out << "{" << call.received << ", " << call.total << "}";
}

class Download : public ::testing::Test {
protected:
    std::string port = EnvVar(L"TOLVIN_TEST_PORT");
    std::string untrustedPort = EnvVar(L"TOLVIN_TEST_UNTRUSTED_PORT");
    std::string proxyPort = EnvVar(L"TOLVIN_TEST_PROXY_PORT");
    std::string folder;
    std::string saveName;
    DownloadFailure failure;
    std::string& errorText = failure.reason;
    std::vector<Call> calls;

    void SetUp() override
    {
        ASSERT_FALSE(port.empty()) << "run under tools/with-download-server.sh";
        ASSERT_FALSE(untrustedPort.empty());
        ASSERT_FALSE(proxyPort.empty());
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        folder = std::string(temp) + "tolvin-net-" + NextMarker();
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        saveName = folder + "\\tolvin-setup.exe";
    }

    void TearDown() override
    {
        DeleteFileA(saveName.c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string Url(const std::string& path) const { return "https://localhost:" + port + path; }

    ProgressCallback Recorder()
    {
        return [this](std::uint64_t received, std::uint64_t total) { calls.push_back({received, total}); };
    }

    bool Get(const std::string& path) { return DownloadIntoKeptFile(Url(path), saveName, Recorder(), failure); }

    // Log lines "<request line>\t<User-Agent>" holding marker, after the
    // first `skip` lines (the proxy's CONNECT lines carry no marker).
    static std::vector<std::string> LoggedRequests(const std::string& marker, size_t skip = 0)
    {
        std::string log = EnvVar(L"TOLVIN_TEST_SERVER_LOG");
        for (char& c : log)
            if (c == '/')
                c = '\\';
        std::ifstream in("Z:" + log);
        std::vector<std::string> lines;
        std::string line;
        for (size_t n = 0; std::getline(in, line); ++n)
            if (n >= skip && line.find(marker) != std::string::npos)
                lines.push_back(line);
        return lines;
    }
    static size_t LogLength() { return LoggedRequests("").size(); }
};

TEST_F(Download, StreamsTheBodyInChunksWithProgressAfterEach)
{
    errorText = "left from before";
    ASSERT_TRUE(Get("/bytes/20000"));
    EXPECT_EQ((std::vector<Call>{{8192, 20000}, {16384, 20000}, {20000, 20000}}), calls);
    EXPECT_EQ(Pattern(20000), ReadWholeFile(saveName));
    EXPECT_EQ("left from before", errorText);
}

TEST_F(Download, LargeBodyArrivesIntactWithoutAProgressCallback)
{
    ASSERT_TRUE(DownloadIntoKeptFile(Url("/bytes/1000003"), saveName, ProgressCallback(), failure)) << errorText;
    EXPECT_EQ(Pattern(1000003), ReadWholeFile(saveName));
}

TEST_F(Download, WithoutContentLengthTheTotalIsZero)
{
    ASSERT_TRUE(Get("/bytes/20000?nolength=1")) << errorText;
    ASSERT_FALSE(calls.empty());
    for (const Call& call : calls)
        EXPECT_EQ(0u, call.total);
    EXPECT_EQ(20000u, calls.back().received);
    EXPECT_EQ(Pattern(20000), ReadWholeFile(saveName));
}

TEST_F(Download, EmptyBodyTruncatesAnExistingFileWithoutProgress)
{
    WriteWholeFile(saveName, "an older download");
    ASSERT_TRUE(Get("/empty")) << errorText;
    EXPECT_TRUE(calls.empty());
    ASSERT_TRUE(FileExists(saveName));
    EXPECT_EQ("", ReadWholeFile(saveName));
}

TEST_F(Download, FollowsTwoRedirectsAndSendsTheUserAgentEachTime)
{
    std::string marker = NextMarker();
    ASSERT_TRUE(Get("/hop/2/bytes/3000?id=" + marker)) << errorText;
    EXPECT_EQ(Pattern(3000), ReadWholeFile(saveName));
    std::vector<std::string> requests = LoggedRequests(marker);
    ASSERT_EQ(3u, requests.size());
    const char* paths[] = {"GET /hop/2/", "GET /hop/1/", "GET /hop/0/"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0u, requests[i].find(paths[i])) << requests[i];
        EXPECT_NE(std::string::npos, requests[i].find("\tTolvinInstaller/1.0")) << requests[i];
    }
}

TEST_F(Download, ThirdRedirectInARowFailsAfterThreeRequests)
{
    std::string marker = NextMarker();
    EXPECT_FALSE(Get("/hop/3/bytes/3000?id=" + marker));
    EXPECT_EQ("Too many redirects", errorText);
    EXPECT_EQ(3u, LoggedRequests(marker).size());
    EXPECT_FALSE(FileExists(saveName));
    EXPECT_TRUE(calls.empty());
}

TEST_F(Download, EveryRedirectStatusIsFollowed)
{
    for (const char* status : {"301", "302", "303", "307", "308"}) {
        SCOPED_TRACE(status);
        std::string target = Url("/bytes/100");
        EXPECT_TRUE(Get(std::string("/redirect?status=") + status + "&to=" + PercentEncode(target))) << errorText;
        EXPECT_EQ(Pattern(100), ReadWholeFile(saveName));
    }
}

// A redirect's query may carry a signed token: the support log names each
// request by its path alone.
TEST_F(Download, TheSupportLogNamesEachRequestWithoutItsQuery)
{
    const std::string marker = NextMarker();
    const std::string target = Url("/bytes/100?token=" + marker);
    OpenSupportLogIn(std::wstring(folder.begin(), folder.end()), 96);
    const bool got = Get("/redirect?to=" + PercentEncode(target));
    CloseSupportLog(0);
    const std::string logName = folder + "\\.tolvin\\installer.log";
    const std::string log = ReadWholeFile(logName);
    DeleteFileA(logName.c_str());
    RemoveDirectoryA((folder + "\\.tolvin").c_str());
    ASSERT_TRUE(got) << errorText;
    EXPECT_NE(std::string::npos, log.find(" request " + Url("/redirect") + " via ")) << log;
    EXPECT_NE(std::string::npos, log.find(" request " + Url("/bytes/100") + " via ")) << log;
    EXPECT_NE(std::string::npos, log.find(" answer 302 length=")) << log;
    EXPECT_EQ(std::string::npos, log.find(marker)) << log;
    EXPECT_EQ(std::string::npos, log.find('?')) << log;
}

TEST_F(Download, RedirectToAnotherHostAndPortUsesTheNewUrl)
{
    // localhost to 127.0.0.1: a different host name, both in the certificate.
    std::string marker = NextMarker();
    std::string target = "https://127.0.0.1:" + port + "/bytes/500?id=" + marker;
    ASSERT_TRUE(Get("/redirect?to=" + PercentEncode(target))) << errorText;
    EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
    std::vector<std::string> requests = LoggedRequests(marker);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[1].find("GET /bytes/500?id=" + marker + " HTTP/1.1\t")) << requests[1];

    // The other listener's certificate is not trusted, so failing there
    // proves the port came from the redirect target.
    target = "https://localhost:" + untrustedPort + "/bytes/500";
    EXPECT_FALSE(Get("/redirect?to=" + PercentEncode(target)));
    EXPECT_EQ("WinHttpSendRequest failed", errorText);
    EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
}

TEST_F(Download, RelativeAndPlainHttpTargetsAreRejected)
{
    const std::string targets[] = {"/bytes/100", "http://localhost:" + port + "/bytes/100",
                                   "HTTPS://localhost:" + port + "/bytes/100"};
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        std::string marker = NextMarker();
        EXPECT_FALSE(Get("/redirect?id=" + marker + "&to=" + PercentEncode(target)));
        EXPECT_EQ("URL parse failed", errorText);
        EXPECT_EQ(1u, LoggedRequests(marker).size());
        EXPECT_FALSE(FileExists(saveName));
    }

    // Not trimmed either: the trailing space goes out with the request.
    EXPECT_FALSE(Get("/redirect?to=" + PercentEncode(Url("/bytes/100 "))));
    EXPECT_EQ("HTTP status not OK: 404", errorText);
}

TEST_F(Download, StatusOtherThan200FailsAndLeavesAnExistingFileAlone)
{
    struct Case {
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"/status/404", "HTTP status not OK: 404"},
        {"/not-served", "HTTP status not OK: 404"},
        {"/status/204", "HTTP status not OK: 204"},
        // Redirect statuses without a usable Location, and 3xx that are not redirects.
        {"/status/301", "HTTP status not OK: 301"},
        {"/redirect?status=308", "HTTP status not OK: 308"},
        {"/status/304", "HTTP status not OK: 304"},
        {"/status/305", "HTTP status not OK: 305"},
        {"/status/306", "HTTP status not OK: 306"},
    };
    WriteWholeFile(saveName, "an older download");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(Get(c.path));
        EXPECT_EQ(c.message, errorText);
        EXPECT_EQ("an older download", ReadWholeFile(saveName));
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(Download, UntrustedCertificateFails)
{
    EXPECT_FALSE(DownloadIntoKeptFile("https://localhost:" + untrustedPort + "/bytes/100", saveName, Recorder(), failure));
    EXPECT_EQ("WinHttpSendRequest failed", errorText);
    // As Wine reports it; the failure carries it to the support log.
    EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_SECURE_CHANNEL_ERROR), failure.code);
    EXPECT_FALSE(FileExists(saveName));
}

TEST_F(Download, PortsOutsideTheRangeFailWithoutRaising)
{
    for (const char* url : {"https://localhost:0/bytes/10", "https://localhost:99999999999999999999/bytes/10"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(DownloadIntoKeptFile(url, saveName, Recorder(), failure));
        EXPECT_EQ("URL parse failed", errorText);
    }
    EXPECT_FALSE(FileExists(saveName));
}

TEST_F(Download, UnwritableSaveNameFailsAfterTheResponse)
{
    std::string marker = NextMarker();
    std::string missingFolderFile = folder + "\\no such folder\\tolvin-setup.exe";
    EXPECT_FALSE(DownloadIntoKeptFile(Url("/bytes/100?id=" + marker), missingFolderFile, Recorder(), failure));
    EXPECT_EQ("failed to create save file", errorText);
    EXPECT_EQ(1u, LoggedRequests(marker).size());
}

TEST_F(Download, BodyCutWhereItWasCutBeforeFailsAndLeavesNoFile)
{
    // The server announces 50000 bytes and drops the connection after 20000,
    // every time, ignoring ranges: the second try brings nothing new.
    std::string marker = NextMarker();
    EXPECT_FALSE(Get("/bytes/50000?cut=20000&id=" + marker));
    EXPECT_EQ("incomplete download: received 20000 of 50000 bytes", errorText);
    EXPECT_EQ(2u, LoggedRequests(marker).size());
    EXPECT_FALSE(FileExists(saveName));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(20000u, calls.back().received);

    // Dropped before the first body byte: no second try.
    marker = NextMarker();
    EXPECT_FALSE(Get("/bytes/50000?cut=0&ranges=1&id=" + marker));
    EXPECT_EQ(1u, LoggedRequests(marker).size());
    EXPECT_FALSE(FileExists(saveName));
}

TEST_F(Download, BodyCutOnceContinuesWithARangeRequestAfterAPause)
{
    std::string marker = NextMarker();
    std::string path = "/bytes/50000?cut=20000&once=1&ranges=1&id=" + marker;
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(Get(path)) << errorText;
    EXPECT_GE(GetTickCount64() - start, 1000u);
    EXPECT_EQ("", errorText) << "a break that was continued is no failure";
    EXPECT_EQ(Pattern(50000), ReadWholeFile(saveName));
    std::string line = "GET " + path + " HTTP/1.1\tTolvinInstaller/1.0";
    EXPECT_EQ((std::vector<std::string>{line, line + "\tRange: bytes=20000-\tIf-Range: \"50000-v1\""}),
              LoggedRequests(marker));
    // Progress goes on from where the first answer stopped.
    EXPECT_EQ((std::vector<Call>{{8192, 50000}, {16384, 50000}, {20000, 50000}, {28192, 50000}, {36384, 50000},
                                 {44576, 50000}, {50000, 50000}}),
              calls);

    // The first continuation finds the connection dropped before any answer:
    // the second one still gets the rest.
    marker = NextMarker();
    ASSERT_TRUE(Get("/bytes/50000?cut=20000&once=1&ranges=1&hangup=1&id=" + marker)) << errorText;
    EXPECT_EQ(Pattern(50000), ReadWholeFile(saveName));
    EXPECT_EQ(3u, LoggedRequests(marker).size());
}

TEST_F(Download, BodyCutOnceByAServerThatIgnoresRangesStartsOver)
{
    std::string marker = NextMarker();
    ASSERT_TRUE(Get("/bytes/50000?cut=20000&once=1&id=" + marker)) << errorText;
    EXPECT_EQ(Pattern(50000), ReadWholeFile(saveName));
    EXPECT_EQ(2u, LoggedRequests(marker).size());
    ASSERT_EQ(10u, calls.size());
    EXPECT_EQ(20000u, calls[2].received);
    EXPECT_EQ(8192u, calls[3].received);
    EXPECT_EQ(50000u, calls.back().received);
}

TEST_F(Download, FileChangedBetweenTheRequestsIsNeverSpliced)
{
    // The server notices the If-Range and sends the new file whole.
    std::string marker = NextMarker();
    EXPECT_TRUE(Get("/bytes/50000?cut=20000&once=1&ranges=1&changed=1&id=" + marker)) << errorText;
    EXPECT_EQ(Pattern(50000, 37), ReadWholeFile(saveName));
    EXPECT_EQ(2u, LoggedRequests(marker).size());

    // It ignores If-Range and sends the rest of the new file under its new
    // ETag, or its new Last-Modified when that is all there is; or nothing
    // names the version, so no range is asked for. Each time the whole new
    // file is taken, with a plain request.
    struct Case {
        const char* query;
        const char* ranged;  // the continuation's headers, "" for a plain request
    };
    const Case cases[] = {
        {"ifrange=0", "\tRange: bytes=20000-\tIf-Range: \"50000-v1\""},
        {"ifrange=0&validators=date", "\tRange: bytes=20000-\tIf-Range: Tue, 01 Dec 2026 10:00:00 GMT"},
        {"validators=none", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        marker = NextMarker();
        std::string path =
            "/bytes/50000?cut=20000&once=1&ranges=1&changed=1&" + std::string(c.query) + "&id=" + marker;
        EXPECT_TRUE(Get(path)) << errorText;
        EXPECT_EQ(Pattern(50000, 37), ReadWholeFile(saveName));
        std::string line = "GET " + path + " HTTP/1.1\tTolvinInstaller/1.0";
        std::vector<std::string> expected{line, line};
        if (*c.ranged)
            expected.insert(expected.begin() + 1, line + c.ranged);
        EXPECT_EQ(expected, LoggedRequests(marker));
    }
}

TEST_F(Download, BodyLongerThanAnnouncedFailsAsSoonAsTheExcessArrives)
{
    // The continuation's 206 has no Content-Length and runs a megabyte past
    // its Content-Range, then holds the connection open.
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(Get("/bytes/50000?cut=20000&once=1&ranges=1&excess=1000000"));
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_EQ("download longer than announced: more than 50000 bytes", errorText);
    ASSERT_FALSE(calls.empty());
    for (const Call& call : calls)
        EXPECT_LE(call.received, call.total);
    EXPECT_FALSE(FileExists(saveName));
}

TEST_F(Download, ProxyScriptIsToldOnlyTheServerAndItsAnswerTakenForEachHost)
{
    // The script sends localhost through the proxy and 127.0.0.1 direct; the
    // redirect from one to the other is looked up anew. Handed a path or a
    // query, it would answer DIRECT.
    UserProxySetting user(UserProxySetting::kScript, "", "",
                          "http://127.0.0.1:" + proxyPort + "/proxy.pac?direct=127.0.0.1");
    size_t before = LogLength();
    std::string marker = NextMarker();
    std::string target = "https://127.0.0.1:" + port + "/bytes/500?id=" + marker;
    ASSERT_TRUE(Get("/redirect?to=" + PercentEncode(target))) << errorText;
    EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
    EXPECT_FALSE(LoggedRequests("GET /proxy.pac?direct=127.0.0.1 ", before).empty());
    std::vector<std::string> tunnels = LoggedRequests("CONNECT ", before);
    ASSERT_EQ(1u, tunnels.size());
    EXPECT_EQ(0u, tunnels[0].find("CONNECT localhost:" + port + " ")) << tunnels[0];
    EXPECT_EQ(2u, LoggedRequests(marker, before).size());
}

// Slow: waits out the lookup's 3 s.
TEST_F(Download, ScriptThatNeverComesHoldsTheDownloadAtMostThreeSeconds)
{
    // The script's server takes the request and stays silent for 6 s; the
    // lookup left behind then ends while later tests run.
    UserProxySetting user(UserProxySetting::kScript, "", "", "http://127.0.0.1:" + proxyPort + "/proxy.pac?stall=6");
    size_t before = LogLength();
    std::string marker = NextMarker();
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(Get("/bytes/500?id=" + marker)) << errorText;
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 2900u);
    EXPECT_LT(elapsed, 4500u);
    EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
    EXPECT_EQ(1u, LoggedRequests("GET /proxy.pac?stall=6 ", before).size());
    EXPECT_TRUE(LoggedRequests("CONNECT ", before).empty());
    EXPECT_EQ(1u, LoggedRequests("GET /bytes/500?id=" + marker + " ", before).size());
}

// Slow. The script's proxy comes after the 3 s wait: the try after the cut takes it.
TEST_F(Download, LookupThatAnswersLateCarriesTheNextTry)
{
    UserProxySetting user(UserProxySetting::kScript, "", "", "http://127.0.0.1:" + proxyPort + "/unused.pac");
    const std::wstring proxy = L"127.0.0.1:" + std::wstring(proxyPort.begin(), proxyPort.end());
    AskSystemProxy ask = [proxy](HINTERNET, const std::wstring&, DWORD, const std::wstring&, UserProxy& answer) {
        Sleep(3500);
        answer.route = ProxyRoute::Named;
        answer.proxy = proxy;
        return true;
    };
    size_t before = LogLength();
    std::string marker = NextMarker();
    ASSERT_TRUE(DownloadIntoKeptFile(Url("/bytes/50000?cut=20000&once=1&ranges=1&id=" + marker), saveName,
                                     Recorder(), failure, ask))
        << errorText;
    EXPECT_EQ(Pattern(50000), ReadWholeFile(saveName));
    EXPECT_EQ(2u, LoggedRequests(marker, before).size());
    EXPECT_EQ(1u, LoggedRequests("CONNECT localhost:" + port + " ", before).size());
}

// A port on which nothing listens and no one else can: bound, never listening.
class RefusedPort {
public:
    RefusedPort()
    {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (socket_ != INVALID_SOCKET &&
            bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = std::to_string(ntohs(address.sin_port));
    }
    ~RefusedPort()
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        if (started_)
            WSACleanup();
    }
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    std::string port;

private:
    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
};

// Wine hands back only the first entry of a script's list, so the system's
// answer is stood in for here; the connections are real.
TEST_F(Download, ScriptListIsTriedInOrderPastProxiesThatCannotBeReached)
{
    UserProxySetting user(UserProxySetting::kScript, "", "", "http://127.0.0.1:" + proxyPort + "/unused.pac");
    RefusedPort refused;
    ASSERT_FALSE(refused.port.empty());
    const std::string dead = "127.0.0.1:" + refused.port;
    struct Case {
        std::string list;
        size_t tunnels;
    };
    const Case cases[] = {
        {dead + "; 127.0.0.1:" + proxyPort + "; DIRECT", 1},
        {dead + ";no-such-host.invalid:3128; DIRECT", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        // The lookup runs on a thread that may outlive the download: it owns
        // what it touches.
        auto asked = std::make_shared<std::vector<std::wstring>>();
        const std::wstring list(c.list.begin(), c.list.end());
        AskSystemProxy ask = [list, asked](HINTERNET, const std::wstring& url, DWORD flags, const std::wstring&,
                                           UserProxy& answer) {
            asked->push_back(url + L" " + std::to_wstring(flags & WINHTTP_AUTOPROXY_CONFIG_URL));
            answer.route = ProxyRoute::Named;
            answer.proxy = list;
            return true;
        };
        size_t before = LogLength();
        std::string marker = NextMarker();
        ASSERT_TRUE(DownloadIntoKeptFile(Url("/bytes/500?id=" + marker), saveName, Recorder(), failure, ask))
            << errorText;
        EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
        const std::wstring server = L"https://localhost:" + std::wstring(port.begin(), port.end()) + L"/ 2";
        EXPECT_EQ(std::vector<std::wstring>{server}, *asked);
        EXPECT_EQ(c.tunnels, LoggedRequests("CONNECT localhost:" + port + " ", before).size());
        EXPECT_EQ(1u, LoggedRequests(marker, before).size());
        DeleteFileA(saveName.c_str());
    }
}

TEST_F(Download, NamedProxyCarriesAllButBypassedHostsAndCertificatesAreStillChecked)
{
    // Detection on as well, as Windows has it by default; it finds nothing
    // here. <local> (names without a dot) takes localhost past the proxy. The
    // proxy is named differently from the host it carries: under Wine a
    // proxy of the same name is taken for none and gets no CONNECT.
    UserProxySetting user(UserProxySetting::kProxy | UserProxySetting::kDetect, "localhost:" + proxyPort,
                          "<local>", "");
    size_t before = LogLength();
    std::string marker = NextMarker();
    std::string target = "https://127.0.0.1:" + port + "/bytes/500?id=" + marker;
    ASSERT_TRUE(Get("/redirect?to=" + PercentEncode(target))) << errorText;
    EXPECT_EQ(Pattern(500), ReadWholeFile(saveName));
    std::vector<std::string> tunnels = LoggedRequests("CONNECT ", before);
    ASSERT_EQ(1u, tunnels.size());
    EXPECT_EQ(0u, tunnels[0].find("CONNECT 127.0.0.1:" + port + " ")) << tunnels[0];

    before = LogLength();
    EXPECT_FALSE(DownloadIntoKeptFile("https://127.0.0.1:" + untrustedPort + "/bytes/100", saveName, Recorder(), failure));
    EXPECT_EQ("WinHttpSendRequest failed", errorText);
    EXPECT_EQ(1u, LoggedRequests("CONNECT 127.0.0.1:" + untrustedPort + " ", before).size());
}

TEST_F(Download, ExceptionFromTheCallbackIsReportedNotRaised)
{
    bool ok = true;
    EXPECT_NO_THROW(ok = DownloadIntoKeptFile(
                        Url("/bytes/20000"), saveName,
                        [](std::uint64_t, std::uint64_t) { throw std::runtime_error("meter gone"); }, failure));
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, errorText.find("meter gone")) << errorText;
    EXPECT_FALSE(FileExists(saveName));

    EXPECT_NO_THROW(ok = DownloadIntoKeptFile(Url("/bytes/20000"), saveName,
                                              [](std::uint64_t, std::uint64_t) { throw 42; }, failure));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errorText.empty());
    EXPECT_FALSE(FileExists(saveName));
}

// Slow: waits out the 30 s receive time-out. The only test that does.
TEST_F(Download, StalledServerEndsTheCallAtTheReceiveTimeout)
{
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(Get("/stall?seconds=45"));
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ("WinHttpReceiveResponse failed", errorText);
    EXPECT_GE(elapsed, 29000u);
    EXPECT_LT(elapsed, 40000u);
    EXPECT_FALSE(FileExists(saveName));
}

}  // namespace
