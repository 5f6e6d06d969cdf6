#include "net/download.h"

#include <windows.h>
#include <winhttp.h>

#include <new>
#include <stdexcept>

#include "common/text_encoding.h"
#include "log/support_log.h"
#include "net/downloaded_file.h"
#include "net/free_space.h"
#include "net/https_url.h"
#include "net/resume.h"
#include "net/retry_rules.h"
#include "net/save_body.h"
#include "net/secure_failure.h"
#include "net/secure_protocols.h"
#include "net/user_proxy.h"
#include "net/widen.h"
#include "net/winhttp_handle.h"

namespace {

const wchar_t kUserAgent[] = L"TolvinInstaller/1.0";
const int kMaxRequests = 3;
// 2048 UTF-16 units with the terminator: a longer Location fails the query.
const DWORD kLocationUnits = 2048;

bool Fail(DownloadFailure& failure, const std::string& reason, DWORD code = 0)
{
    failure.reason = reason;
    failure.code = code;
    LogFailure(code, reason);
    return false;
}

// For a failed WinHTTP or file call: its reason with the error it left.
bool FailWithLastError(DownloadFailure& failure, const std::string& reason)
{
    return Fail(failure, reason, GetLastError());
}

bool IsRedirect(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One header's value, one byte per UTF-16 unit (header values are bytes);
// empty when the answer has none.
std::string QueryText(HINTERNET request, DWORD query)
{
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0)
        return std::string();
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, &value[0], &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return std::string();
    std::string text;
    for (size_t i = 0; i < bytes / sizeof(wchar_t); ++i)
        text.push_back(static_cast<char>(value[i]));
    return text;
}

FirstAnswer ReadFirstAnswer(HINTERNET request)
{
    FirstAnswer answer;
    // As text: the number form is 32 bits and would wrap at 4 GiB.
    if (!ParseContentLength(QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH), answer.length))
        answer.length = 0;
    answer.etag = QueryText(request, WINHTTP_QUERY_ETAG);
    answer.lastModified = QueryText(request, WINHTTP_QUERY_LAST_MODIFIED);
    return answer;
}

bool SeekTo(HANDLE file, std::uint64_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

// Readies the file for a continuation's body: appended at `received`, or
// emptied when the server starts over with the whole file; false when the
// file cannot be moved or cut.
bool ReadyForBody(Continuation judged, HINTERNET request, HANDLE file, std::uint64_t& received, FirstAnswer& first)
{
    if (judged == Continuation::Append)
        return SeekTo(file, received);
    // The whole file again, perhaps another one: its answer is the first now.
    first = ReadFirstAnswer(request);
    received = 0;
    LogStep("start over");
    return SeekTo(file, 0) && SetEndOfFile(file) != FALSE;
}

Continuation JudgeAnswer(HINTERNET request, DWORD status, bool rangeAsked, std::uint64_t received,
                         const FirstAnswer& first)
{
    ContinuationAnswer answer;
    answer.status = status;
    answer.contentRange = QueryText(request, WINHTTP_QUERY_CONTENT_RANGE);
    answer.contentLength = QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    answer.etag = QueryText(request, WINHTTP_QUERY_ETAG);
    answer.lastModified = QueryText(request, WINHTTP_QUERY_LAST_MODIFIED);
    return JudgeContinuation(answer, rangeAsked, received, first);
}

// "https://HOST[:PORT]/PATH" without the query, which may carry a signed
// token, and without anything a URL may hold before its host.
std::string LoggedUrl(const std::wstring& host, int port, const std::wstring& path)
{
    std::wstring shown = L"https://" + host + (port == 443 ? std::wstring() : L":" + std::to_wstring(port)) +
                         path.substr(0, path.find_first_of(L"?#"));
    return WideToUtf8(shown.c_str());
}

// A proxy as written, without credentials a user may have put before its host.
std::string LoggedProxy(const std::wstring& proxy)
{
    const size_t at = proxy.rfind(L'@');
    return WideToUtf8(at == std::wstring::npos ? proxy.c_str() : proxy.c_str() + at + 1);
}

std::string RouteName(const UserProxy& route)
{
    switch (route.route) {
    case ProxyRoute::Named:
        return (route.lookedUp ? "script proxy " : "proxy ") + LoggedProxy(route.proxy);
    case ProxyRoute::Direct:
        return route.lookedUp ? "script direct" : "direct";
    case ProxyRoute::System:
        break;
    }
    return "system setting";
}

void LogAnswer(HINTERNET request, DWORD status)
{
    const std::string length = QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    const char* validator = !QueryText(request, WINHTTP_QUERY_ETAG).empty()            ? "etag"
                            : !QueryText(request, WINHTTP_QUERY_LAST_MODIFIED).empty() ? "last-modified"
                                                                                        : "none";
    LogStep("answer " + std::to_string(status) + " length=" + (length.empty() ? std::string("none") : length) +
            " validator=" + validator);
}

// A fraction from 0 up to 1 that spreads a pause. Clients need only differ
// from one another, not be unpredictable: the counter's bits, mixed, do that.
double SpreadFraction()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t x = static_cast<std::uint64_t>(counter.QuadPart) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / 9007199254740992.0;  // 2^53
}

// Asks the rules whether to try again after `tried` and waits out their
// pause; false when the download has failed.
bool TryAgain(const TriedOnce& tried, RetryBudget& budget)
{
    const RetryDecision decision = DecideRetry(tried, budget, GetTickCount64(), SpreadFraction());
    if (!decision.again)
        return false;
    if (decision.pauseMs) {
        LogStep("retry in " + std::to_string(decision.pauseMs / 1000) + " s: " + decision.why);
        Sleep(decision.pauseMs);
    }
    return true;
}

// What a download carries from try to try.
struct DownloadRun {
    std::string url;    // where the next request goes
    int requests = 1;   // distinct URLs asked, the first included
    // Once the file is begun: what the answer that began it said, how many
    // of its bytes are in the file, and the most it has held after a try.
    bool begun = false;
    FirstAnswer first;
    std::uint64_t received = 0;
    std::uint64_t mostReceived = 0;
    RetryBudget budget;
    // Whether the next request of a begun file asks for the rest of it, or
    // for the whole file with a plain request.
    bool askRest = false;
};

// One try's handles, closed request first. The secure-failure flags are
// declared before the request, so they outlive the handle that writes them.
struct TryHandles {
    DWORD secureFailure = 0;
    DWORD waitMs = 0;  // what each step of the try may wait
    WinHttpHandle session{nullptr};
    WinHttpHandle connection{nullptr};
    WinHttpHandle request{nullptr};
};

// How a step of a try leaves the download.
enum class TryResult { Complete, Failed, Again, ReadBody };

TryResult Failed(DownloadFailure& failure, const std::string& reason, DWORD code = 0)
{
    Fail(failure, reason, code);
    return TryResult::Failed;
}

TryResult FailedWithLastError(DownloadFailure& failure, const std::string& reason)
{
    return Failed(failure, reason, GetLastError());
}

bool OpenRequest(const UserProxy& route, const std::wstring& host, int port, const std::wstring& path,
                 TryHandles& h, DownloadFailure& failure)
{
    h.session.handle = OpenProxySession(kUserAgent, route);
    if (!h.session.handle)
        return FailWithLastError(failure, "WinHttpOpen failed");
    SetSecureProtocols(h.session.handle);
    const int wait = static_cast<int>(h.waitMs);
    WinHttpSetTimeouts(h.session.handle, wait, wait, wait, wait);

    // ParseHttpsUrl only hands out ports 1-65535.
    h.connection.handle = WinHttpConnect(h.session.handle, host.c_str(), static_cast<INTERNET_PORT>(port), 0);
    if (!h.connection.handle)
        return FailWithLastError(failure, "WinHttpConnect failed");

    h.request.handle = WinHttpOpenRequest(h.connection.handle, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!h.request.handle)
        return FailWithLastError(failure, "WinHttpOpenRequest failed");
    WatchSecureFailure(h.request.handle, &h.secureFailure);

    // WinHTTP would otherwise follow redirects inside WinHttpReceiveResponse
    // (seen: five in a row, and a relative one), so the three-request
    // limit and the rejection of relative and http targets would never apply.
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(h.request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable)))
        return FailWithLastError(failure, "WinHttpSetOption failed");

    // Under Wine the receive time-out above does not bound the wait for the
    // response headers (seen: over 150 s against a silent server); this
    // option does, there and on Windows. Best effort, like the time-outs.
    DWORD responseTimeout = h.waitMs;
    WinHttpSetOption(h.request.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof(responseTimeout));
    return true;
}

// The decision after a failed try, and the next try readied; false when the
// download has failed. The last failure's text stands.
bool AfterFailure(const TriedOnce& tried, DownloadRun& run)
{
    if (!TryAgain(tried, run.budget))
        return false;
    if (tried.end == TryEnd::WholeAsked) {
        // Its bytes may be another file's: none of them is used.
        run.askRest = false;
        LogStep("ask whole file");
    } else if (tried.end == TryEnd::BodyBroken) {
        // A file whose answer named no version is asked for whole: the rest
        // of a newer file could not be told apart.
        run.askRest = CanAskForTheRest(run.first);
        LogStep(run.askRest ? "continue from " + std::to_string(run.received) + " (try " +
                                  std::to_string(run.budget.continuations) + " of " +
                                  std::to_string(kMaxContinuations) + ")"
                            : std::string("ask whole file"));
    }
    return true;
}

// A redirect's target becomes the URL; false when it names none usable here
// (missing or too long), which then fails as a status that is not OK.
bool TakeRedirect(HINTERNET request, DownloadRun& run)
{
    wchar_t location[kLocationUnits] = {};
    DWORD locationBytes = sizeof(location);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location,
                             &locationBytes, WINHTTP_NO_HEADER_INDEX))
        return false;
    // Used as it stands: a relative or http target fails the next parse.
    run.url = WideToUtf8(location);
    // A new URL, with tries of its own.
    run.budget.firstTryMs = run.budget.progressMs = GetTickCount64();
    run.budget.waits = 0;
    return true;
}

// The first answer's 200 begins the file; any other status is a failed try.
TryResult BeginFile(HINTERNET request, DWORD status, TriedOnce& tried, const std::string& saveName,
                    DownloadedFile& file, DownloadRun& run, DownloadFailure& failure)
{
    if (status != 200) {
        Fail(failure, "HTTP status not OK: " + std::to_string(status));
        tried.retryAfter = QueryText(request, WINHTTP_QUERY_RETRY_AFTER);
        return AfterFailure(tried, run) ? TryResult::Again : TryResult::Failed;
    }
    run.first = ReadFirstAnswer(request);
    // The save file is created only now, so every earlier failure leaves
    // the disk untouched; so does one the disk has no room for.
    if (!HasRoomFor(WidenBytes(saveName), run.first.length)) {
        failure.length = run.first.length;
        return Failed(failure, "no room on the disk for " + std::to_string(run.first.length) + " bytes",
                      ERROR_DISK_FULL);
    }
    if (!CreateDownloadedFile(WidenBytes(saveName), file))
        return FailedWithLastError(failure, "failed to create save file");
    run.begun = true;
    return TryResult::ReadBody;
}

// A continuation's answer: appended, started over, or a failed try.
TryResult ContinueFile(HINTERNET request, DWORD status, TriedOnce& tried, DownloadedFile& file, DownloadRun& run,
                       DownloadFailure& failure)
{
    const Continuation judged = JudgeAnswer(request, status, run.askRest, run.received, run.first);
    if (judged == Continuation::Refuse || judged == Continuation::AskWhole) {
        Fail(failure, "continuation refused: HTTP status " + std::to_string(status));
        if (judged == Continuation::AskWhole)
            tried.end = TryEnd::WholeAsked;
        else
            tried.retryAfter = QueryText(request, WINHTTP_QUERY_RETRY_AFTER);
        return AfterFailure(tried, run) ? TryResult::Again : TryResult::Failed;
    }
    if (!ReadyForBody(judged, request, file.handle, run.received, run.first))
        return FailedWithLastError(failure, "failed to write save file");
    return TryResult::ReadBody;
}

// Streams the answer's body into the file; a body that broke after it
// brought the file further may be continued.
TryResult ReadBody(const TryHandles& h, TriedOnce& tried, const ProgressCallback& progress, DownloadedFile& file,
                   DownloadRun& run, DownloadFailure& failure)
{
    failure.length = run.first.length;
    HINTERNET body = h.request.handle;
    // The read or write that failed leaves its error for the failure.
    DWORD readError = 0;
    DWORD readWait = h.waitMs;
    RetryBudget& budget = run.budget;
    std::string reason;
    const std::uint64_t bodyFrom = run.received;
    const ULONGLONG bodyStart = GetTickCount64();
    const BodyEnd end = SaveBody(
        [body, &readError, &readWait, &budget](char* buffer, std::uint32_t capacity, std::uint32_t& got) {
            DWORD read = 0;
            const BOOL ok = WinHttpReadData(body, buffer, capacity, &read);
            got = read;
            if (!ok)
                readError = GetLastError();
            if (!ok || read == 0)
                return ok != FALSE;
            budget.progressMs = GetTickCount64();
            // A try begun short of time may wait as long as any other once the file grows.
            if (readWait < kLongestTryWaitMs) {
                readWait = kLongestTryWaitMs;
                WinHttpSetOption(body, WINHTTP_OPTION_RECEIVE_TIMEOUT, &readWait, sizeof(readWait));
            }
            return true;
        },
        run.first.length, file.handle, run.received, reason, progress, &readError);
    LogStep("body " + std::to_string(run.received - bodyFrom) + " bytes in " +
            std::to_string(GetTickCount64() - bodyStart) + " ms");
    if (end == BodyEnd::Complete)
        return TryResult::Complete;
    Fail(failure, reason, readError);
    // Without an announced length, what had arrived when the disk filled
    // is the least the file needs.
    if (IsDiskFull(readError) && failure.length == 0)
        failure.length = run.received;
    if (end == BodyEnd::Failed)
        return TryResult::Failed;
    // Only a body that broke after some of it arrived is continued; without
    // a length there is no telling a continuation matches.
    tried.end = TryEnd::BodyBroken;
    tried.resumable = run.received > 0 && run.first.length > 0;
    tried.forward = run.received > run.mostReceived;
    if (run.received > run.mostReceived)
        run.mostReceived = run.received;
    return AfterFailure(tried, run) ? TryResult::Again : TryResult::Failed;
}

// An answer came: a redirect is followed, a usable status begins or
// continues the file and its body is read.
TryResult Answered(const TryHandles& h, TriedOnce& tried, const std::string& saveName,
                   const ProgressCallback& progress, DownloadedFile& file, DownloadRun& run, DownloadFailure& failure)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(h.request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    LogAnswer(h.request.handle, status);
    tried.end = TryEnd::Status;
    tried.status = status;
    if (!run.begun && IsRedirect(status) && TakeRedirect(h.request.handle, run)) {
        if (++run.requests > kMaxRequests)
            return Failed(failure, "Too many redirects");
        return TryResult::Again;  // this try's handles close here, before the next open
    }
    const TryResult ready = run.begun ? ContinueFile(h.request.handle, status, tried, file, run, failure)
                                      : BeginFile(h.request.handle, status, tried, saveName, file, run, failure);
    if (ready != TryResult::ReadBody)
        return ready;
    return ReadBody(h, tried, progress, file, run, failure);
}

// One request to run.url and whatever its answer brings.
TryResult OneTry(DownloadRun& run, const std::string& saveName, DownloadFailure& failure,
                 const ProgressCallback& progress, DownloadedFile& file, UserProxyRoutes& proxies)
{
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseHttpsUrl(run.url, host, port, path))
        return Failed(failure, "URL parse failed");
    const UserProxy& route = proxies.Current(host, port);
    LogStep("request " + LoggedUrl(host, port, path) + " via " + RouteName(route));
    TryHandles h;
    h.waitMs = TryWaitMs(run.budget, GetTickCount64());
    if (!OpenRequest(route, host, port, path, h, failure))
        return TryResult::Failed;

    // A first request, and one for the whole file again, goes out exactly
    // as it always has.
    const std::wstring extra = run.askRest ? WidenBytes(ContinuationHeaders(run.received, run.first)) : std::wstring();
    TriedOnce tried;
    tried.begun = run.begun;
    if (!WinHttpSendRequest(h.request.handle, run.askRest ? extra.c_str() : WINHTTP_NO_ADDITIONAL_HEADERS,
                            run.askRest ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        tried.error = SecureFailureCode(GetLastError(), h.secureFailure);
        Fail(failure, "WinHttpSendRequest failed", tried.error);
        // A script's next proxy (or DIRECT) when this one cannot be
        // reached, within the time every try of the URL shares.
        if (MayTryAnotherRoute(run.budget, GetTickCount64()) && proxies.TakeNext(host, port, tried.error))
            return TryResult::Again;
    } else if (!WinHttpReceiveResponse(h.request.handle, nullptr)) {
        tried.error = GetLastError();
        Fail(failure, "WinHttpReceiveResponse failed", tried.error);
    } else {
        proxies.Answered(host, port);
        return Answered(h, tried, saveName, progress, file, run, failure);
    }
    if (!AfterFailure(tried, run))
        return TryResult::Failed;
    proxies.WalkAgain(host, port);
    return TryResult::Again;
}

bool Download(const std::string& url, const std::string& saveName, DownloadFailure& failure,
              const ProgressCallback& progress, DownloadedFile& file, UserProxyRoutes& proxies)
{
    DownloadRun run;
    run.url = url;
    run.budget.firstTryMs = run.budget.progressMs = GetTickCount64();
    for (;;) {
        const TryResult result = OneTry(run, saveName, failure, progress, file, proxies);
        if (result != TryResult::Again)
            return result == TryResult::Complete;
    }
}

// Runs the download and turns whatever escapes it into a failure: nothing may
// escape into the worker thread. The handle holders have already closed what
// they own by the time a catch runs.
bool DownloadGuarded(const std::string& url, const std::string& saveName, ProgressCallback progress,
                     DownloadedFile& file, DownloadFailure& failure, const AskSystemProxy& askProxy)
{
    // Moved into a local so the callable (and whatever it holds) is released
    // before the call returns.
    ProgressCallback onProgress = std::move(progress);
    // A break that a continuation mended is no failure: the caller's failure
    // is set only when the download fails.
    DownloadFailure found;
    try {
        UserProxyRoutes proxies(kUserAgent, askProxy);
        if (Download(url, saveName, found, onProgress, file, proxies))
            return true;
        failure = std::move(found);
    } catch (const std::bad_alloc&) {
        try { failure = DownloadFailure{"out of memory", ERROR_OUTOFMEMORY, found.length}; } catch (...) {}
    } catch (const std::exception& e) {
        try { failure = DownloadFailure{std::string("unexpected error: ") + e.what(), 0, found.length}; } catch (...) {}
    } catch (...) {
        try { failure = DownloadFailure{"unexpected error", 0, found.length}; } catch (...) {}
    }
    CloseDownloadedFile(file);  // still marked: whatever part was written goes
    return false;
}

}  // namespace

bool DownloadIntoHeldFile(const std::string& url, const std::string& saveName, ProgressCallback progress,
                          DownloadedFile& file, DownloadFailure& failure)
{
    return DownloadGuarded(url, saveName, std::move(progress), file, failure, AskWinHttpForProxy);
}

bool DownloadIntoKeptFile(const std::string& url, const std::string& saveName, ProgressCallback progress,
                          DownloadFailure& failure, const AskSystemProxy& askProxy)
{
    DownloadedFile file;
    if (!DownloadGuarded(url, saveName, std::move(progress), file, failure, askProxy))
        return false;
    if (!KeepDownloadedFile(file))
        return FailWithLastError(failure, "failed to write save file");  // closing now removes it
    if (!CloseDownloadedFile(file)) {
        FailWithLastError(failure, "failed to write save file");
        DeleteFileW(file.path.c_str());
        return false;
    }
    return true;
}
