#pragma once
#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <map>
#include <string>

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

// Asks WinHttpGetProxyForUrl one way; false when that way found nothing.
using ProxyLookup = std::function<bool(UserProxy& answer)>;

// The configuration script first, then detection, then the named proxy, else
// the system setting; a lookup runs only when its setting is on.
UserProxy ChooseUserProxy(const UserProxySettings& settings, const ProxyLookup& byScript,
                          const ProxyLookup& byDetection);

// The user's proxy for url, read and looked up now.
UserProxy ResolveUserProxy(const std::wstring& url, const wchar_t* userAgent);

// One lookup per host for a whole download: a redirect to another host is
// looked up again.
using UserProxyCache = std::map<std::wstring, UserProxy>;
const UserProxy& CachedUserProxy(UserProxyCache& cache, const std::wstring& host, const std::wstring& url,
                                 const wchar_t* userAgent);

// A session that takes that route; null on failure.
HINTERNET OpenProxySession(const wchar_t* userAgent, const UserProxy& proxy);
