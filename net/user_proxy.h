#pragma once
#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/winhttp_handle.h"

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
};

// The user's settings as WinHttpGetIEProxyConfigForCurrentUser gives them.
struct UserProxySettings {
    bool autoDetect = false;
    std::wstring autoConfigUrl;
    std::wstring proxy;
    std::wstring bypass;
};

// Asks WinHttpGetProxyForUrl one way; false when that way found nothing. A
// Named answer may hold a list ("a:1;b:2;DIRECT").
using ProxyLookup = std::function<bool(UserProxy& answer)>;

// The routes to try, in order: the configuration script's answer first, then
// detection's, then the named proxy, else the system setting; a lookup runs
// only when its setting is on. A lookup's list gives one route per entry,
// each once; the named proxy is one route however it is written.
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

// One server's routes and how far its search has got.
struct HostRoutes {
    std::vector<UserProxy> routes;
    size_t current = 0;
    bool answered = false;  // a route answered: the search is over
};

// One run's proxies: one lookup session, and each server's routes, looked up
// once. A redirect to another server is looked up again.
struct UserProxyRoutes {
    const wchar_t* userAgent;
    AskSystemProxy ask;
    // Shared with a lookup thread that may outlive the run.
    std::shared_ptr<WinHttpHandle> lookupSession;
    // A lookup overran its wait: later servers are not looked up.
    bool lookupsSilent = false;
    std::map<std::wstring, HostRoutes> hosts;

    UserProxyRoutes(const wchar_t* agent, AskSystemProxy asker) : userAgent(agent), ask(std::move(asker)) {}
};

// The route for the next request to host:port.
const UserProxy& CurrentRoute(UserProxyRoutes& proxies, const std::wstring& host, int port);

// After a request to host:port failed before an answer with `error`: true when
// the route could not be connected to and the search goes on with the next
// one. A route is never tried twice, and none after one has answered.
bool TakeNextRoute(UserProxyRoutes& proxies, const std::wstring& host, int port, DWORD error);

// A request to host:port got an answer: its route carries that server from now on.
void RouteAnswered(UserProxyRoutes& proxies, const std::wstring& host, int port);

// A session that takes that route; null on failure.
HINTERNET OpenProxySession(const wchar_t* userAgent, const UserProxy& proxy);
