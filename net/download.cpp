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
const int kTimeoutMs = 30000;
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

// Asks the rules whether to try again after `tried` and waits out their
// pause; false when the download has failed.
bool TryAgain(const TriedOnce& tried, RetryBudget& budget)
{
    const RetryDecision decision = DecideRetry(tried, budget, GetTickCount64());
    if (!decision.again)
        return false;
    if (decision.pauseMs) {
        LogStep("retry in " + std::to_string(decision.pauseMs / 1000) + " s: " + decision.why);
        Sleep(decision.pauseMs);
    }
    return true;
}

bool Download(const std::string& url, const std::string& saveName, DownloadFailure& failure,
              const ProgressCallback& progress, DownloadedFile& file, UserProxyRoutes& proxies)
{
    std::string currentUrl = url;
    // Once the file is begun: what the answer that began it said, how many
    // of its bytes are in the file, and the most it has held after a try.
    bool begun = false;
    FirstAnswer first;
    std::uint64_t received = 0;
    std::uint64_t mostReceived = 0;
    RetryBudget budget;
    budget.firstTryMs = GetTickCount64();
    // Whether the next request of a begun file asks for the rest of it, or
    // for the whole file with a plain request.
    bool askRest = false;
    for (int attempt = 0;;) {
        std::wstring host;
        std::wstring path;
        int port = 0;
        if (!ParseHttpsUrl(currentUrl, host, port, path))
            return Fail(failure, "URL parse failed");

        const UserProxy& route = proxies.Current(host, port);
        LogStep("request " + LoggedUrl(host, port, path) + " via " + RouteName(route));
        WinHttpHandle session(OpenProxySession(kUserAgent, route));
        if (!session.handle)
            return FailWithLastError(failure, "WinHttpOpen failed");
        SetSecureProtocols(session.handle);
        WinHttpSetTimeouts(session.handle, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);

        // ParseHttpsUrl only hands out ports 1-65535.
        WinHttpHandle connection(WinHttpConnect(session.handle, host.c_str(), static_cast<INTERNET_PORT>(port), 0));
        if (!connection.handle)
            return FailWithLastError(failure, "WinHttpConnect failed");

        // Declared before the request, so it outlives the handle that writes it.
        DWORD secureFailure = 0;
        WinHttpHandle request(WinHttpOpenRequest(connection.handle, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        if (!request.handle)
            return FailWithLastError(failure, "WinHttpOpenRequest failed");
        WatchSecureFailure(request.handle, &secureFailure);

        // WinHTTP would otherwise follow redirects inside WinHttpReceiveResponse
        // (seen: five in a row, and a relative one), so the three-request
        // limit and the rejection of relative and http targets would never apply.
        DWORD disable = WINHTTP_DISABLE_REDIRECTS;
        if (!WinHttpSetOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable)))
            return FailWithLastError(failure, "WinHttpSetOption failed");

        // Under Wine the receive time-out above does not bound the wait for the
        // response headers (seen: over 150 s against a silent server); this
        // option does, there and on Windows. Best effort, like the time-outs.
        DWORD responseTimeout = kTimeoutMs;
        WinHttpSetOption(request.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                         sizeof(responseTimeout));

        // A first request, and one for the whole file again, goes out exactly
        // as it always has.
        const std::wstring extra = askRest ? WidenBytes(ContinuationHeaders(received, first)) : std::wstring();
        TriedOnce tried;
        tried.begun = begun;
        bool answered = WinHttpSendRequest(request.handle, askRest ? extra.c_str() : WINHTTP_NO_ADDITIONAL_HEADERS,
                                           askRest ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                           0) != FALSE;
        if (!answered) {
            tried.error = SecureFailureCode(GetLastError(), secureFailure);
            Fail(failure, "WinHttpSendRequest failed", tried.error);
            // A script's next proxy (or DIRECT) when this one cannot be
            // reached, within the time every try of the URL shares.
            if (MayTryAnotherRoute(budget, GetTickCount64()) && proxies.TakeNext(host, port, tried.error))
                continue;
        } else if (!(answered = WinHttpReceiveResponse(request.handle, nullptr) != FALSE)) {
            tried.error = GetLastError();
            Fail(failure, "WinHttpReceiveResponse failed", tried.error);
        }
        if (!answered) {
            if (!TryAgain(tried, budget))
                return false;
            proxies.WalkAgain(host, port);
            continue;
        }
        proxies.Answered(host, port);

        DWORD status = 0;
        DWORD size = sizeof(status);
        WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        LogAnswer(request.handle, status);
        tried.end = TryEnd::Status;
        tried.status = status;

        if (!begun && IsRedirect(status)) {
            wchar_t location[kLocationUnits] = {};
            DWORD locationBytes = sizeof(location);
            // Missing or too long: falls through and fails as a status that is not OK.
            if (WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location,
                                    &locationBytes, WINHTTP_NO_HEADER_INDEX)) {
                // Used as it stands: a relative or http target fails the next parse.
                currentUrl = WideToUtf8(location);
                if (++attempt == kMaxRequests)
                    return Fail(failure, "Too many redirects");
                // A new URL, with tries of its own.
                budget.firstTryMs = GetTickCount64();
                budget.waits = 0;
                continue;  // this attempt's handles close here, before the next open
            }
        }
        if (begun) {
            const Continuation judged = JudgeAnswer(request.handle, status, askRest, received, first);
            if (judged == Continuation::Refuse || judged == Continuation::AskWhole) {
                Fail(failure, "continuation refused: HTTP status " + std::to_string(status));
                if (judged == Continuation::AskWhole)
                    tried.end = TryEnd::WholeAsked;
                else
                    tried.retryAfter = QueryText(request.handle, WINHTTP_QUERY_RETRY_AFTER);
                if (!TryAgain(tried, budget))
                    return false;
                // Its bytes may be another file's: none of them is used.
                if (judged == Continuation::AskWhole) {
                    askRest = false;
                    LogStep("ask whole file");
                }
                continue;
            }
            if (!ReadyForBody(judged, request.handle, file.handle, received, first))
                return FailWithLastError(failure, "failed to write save file");
        } else {
            if (status != 200) {
                Fail(failure, "HTTP status not OK: " + std::to_string(status));
                tried.retryAfter = QueryText(request.handle, WINHTTP_QUERY_RETRY_AFTER);
                if (!TryAgain(tried, budget))
                    return false;
                continue;
            }
            first = ReadFirstAnswer(request.handle);
            // The save file is created only now, so every earlier failure leaves
            // the disk untouched; so does one the disk has no room for.
            if (!HasRoomFor(WidenBytes(saveName), first.length)) {
                failure.length = first.length;
                return Fail(failure, "no room on the disk for " + std::to_string(first.length) + " bytes",
                            ERROR_DISK_FULL);
            }
            if (!CreateDownloadedFile(WidenBytes(saveName), file))
                return FailWithLastError(failure, "failed to create save file");
            begun = true;
        }
        failure.length = first.length;
        HINTERNET body = request.handle;
        // The read or write that failed leaves its error for the failure.
        DWORD readError = 0;
        std::string reason;
        const std::uint64_t bodyFrom = received;
        const ULONGLONG bodyStart = GetTickCount64();
        const BodyEnd end = SaveBody(
            [body, &readError](char* buffer, std::uint32_t capacity, std::uint32_t& got) {
                DWORD read = 0;
                BOOL ok = WinHttpReadData(body, buffer, capacity, &read);
                got = read;
                if (!ok)
                    readError = GetLastError();
                return ok != FALSE;
            },
            first.length, file.handle, received, reason, progress, &readError);
        LogStep("body " + std::to_string(received - bodyFrom) + " bytes in " +
                std::to_string(GetTickCount64() - bodyStart) + " ms");
        if (end == BodyEnd::Complete)
            return true;
        Fail(failure, reason, readError);
        // Without an announced length, what had arrived when the disk filled
        // is the least the file needs.
        if (IsDiskFull(readError) && failure.length == 0)
            failure.length = received;
        if (end == BodyEnd::Failed)
            return false;
        // Only a body that broke after some of it arrived is continued; without
        // a length there is no telling a continuation matches. The last
        // failure's text stands.
        tried.end = TryEnd::BodyBroken;
        tried.resumable = received > 0 && first.length > 0;
        tried.forward = received > mostReceived;
        if (received > mostReceived)
            mostReceived = received;
        if (!TryAgain(tried, budget))
            return false;
        // A file whose answer named no version is asked for whole: the rest
        // of a newer file could not be told apart.
        askRest = CanAskForTheRest(first);
        LogStep(askRest ? "continue from " + std::to_string(received) + " (try " +
                              std::to_string(budget.continuations) + " of " + std::to_string(kMaxContinuations) + ")"
                        : std::string("ask whole file"));
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
