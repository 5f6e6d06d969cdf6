#pragma once
#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// How one attempt's session reaches the server.
enum class ProxyRoute {
    System,  // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY: the machine-wide WinHTTP setting
    Named,   // through `proxy`, except for hosts on `bypass`
    Direct,  // a configuration script or detection answered DIRECT
};

struct UserProxy {
    ProxyRoute route = ProxyRoute::System;
    std::wstring proxy;
    std::wstring bypass;
    bool lookedUp = false;  // a script's or detection's answer, not the user's own setting
};

// The user's settings as WinHttpGetIEProxyConfigForCurrentUser gives them.
struct UserProxySettings {
    bool autoDetect = false;
    std::wstring autoConfigUrl;
    std::wstring proxy;
    std::wstring bypass;
};

// A list of dead proxies must not hold the splash: each is a connection
// attempt that can take the whole time-out.
const size_t kMaxListRoutes = 4;

// Asks WinHttpGetProxyForUrl one way; false when that way found nothing. A
// Named answer may hold a list ("a:1;b:2;DIRECT").
using ProxyLookup = std::function<bool(UserProxy& answer)>;

// The routes to try, in order: the configuration script's answer first, then
// detection's, then the named proxy, else the system setting; a lookup runs
// only when its setting is on. A lookup's list gives one route per entry,
// each once, the first kMaxListRoutes of them (the last of them DIRECT when
// the list ends in DIRECT); the named proxy is one route
// however it is written.
std::vector<UserProxy> ChooseUserProxy(const UserProxySettings& settings, const ProxyLookup& byScript,
                                       const ProxyLookup& byDetection);

// What a lookup is told of a server: scheme, host and port. The path and
// query are none of a script's business, and a script can leak what it is given.
std::wstring ProxyLookupUrl(const std::wstring& host, int port);

// Whether a request that failed with this error never reached the far end of
// its route (refused, not resolved, timed out before an answer).
bool CouldNotConnect(DWORD error);

// Asks the system for url's proxy: flags is WINHTTP_AUTOPROXY_CONFIG_URL (with
// scriptUrl) or WINHTTP_AUTOPROXY_AUTO_DETECT. Runs on a lookup thread.
using AskSystemProxy = std::function<bool(HINTERNET session, const std::wstring& url, DWORD flags,
                                          const std::wstring& scriptUrl, UserProxy& answer)>;

// WinHttpGetProxyForUrl, with the script run outside this process.
bool AskWinHttpForProxy(HINTERNET session, const std::wstring& url, DWORD flags, const std::wstring& scriptUrl,
                        UserProxy& answer);

struct UserProxyRoutesState;

// One run's proxies: one lookup session, and each server's routes, looked up
// once at its first request. A redirect to another server is looked up again.
class UserProxyRoutes {
public:
    UserProxyRoutes(const wchar_t* userAgent, AskSystemProxy ask);
    ~UserProxyRoutes();
    UserProxyRoutes(const UserProxyRoutes&) = delete;
    UserProxyRoutes& operator=(const UserProxyRoutes&) = delete;

    // The route for the next request to host:port. A lookup that overran its
    // wait and has answered since is taken from here on.
    const UserProxy& Current(const std::wstring& host, int port);

    // After a request to host:port failed before an answer with `error`: true
    // when the route could not be connected to and the search goes on with
    // the next one. A route is not tried twice in one walk, and none after one
    // has answered.
    bool TakeNext(const std::wstring& host, int port, DWORD error);

    // A walk that found no route is walked again from its first, for a
    // request asked again later.
    void WalkAgain(const std::wstring& host, int port);

    // A request to host:port got an answer: its route carries that server from now on.
    void Answered(const std::wstring& host, int port);

private:
    std::unique_ptr<UserProxyRoutesState> state_;
};

// A session that takes that route; null on failure.
HINTERNET OpenProxySession(const wchar_t* userAgent, const UserProxy& proxy);
