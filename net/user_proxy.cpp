#include "net/user_proxy.h"

#include "net/secure_protocols.h"
#include "net/winhttp_handle.h"

namespace {

// Bounds a script download on Windows as the download's own time-outs do.
const int kLookupTimeoutMs = 30000;

// WinHTTP hands these strings out with GlobalAlloc; each holder frees them.
struct UserSettingsHolder {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    UserSettingsHolder() = default;
    UserSettingsHolder(const UserSettingsHolder&) = delete;
    UserSettingsHolder& operator=(const UserSettingsHolder&) = delete;
    ~UserSettingsHolder()
    {
        for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
            if (text)
                GlobalFree(text);
    }
};

struct ProxyInfoHolder {
    WINHTTP_PROXY_INFO info = {};
    ProxyInfoHolder() = default;
    ProxyInfoHolder(const ProxyInfoHolder&) = delete;
    ProxyInfoHolder& operator=(const ProxyInfoHolder&) = delete;
    ~ProxyInfoHolder()
    {
        for (LPWSTR text : {info.lpszProxy, info.lpszProxyBypass})
            if (text)
                GlobalFree(text);
    }
};

std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

bool LookUp(HINTERNET session, const std::wstring& url, DWORD flags, const std::wstring& scriptUrl,
            UserProxy& answer)
{
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    options.dwFlags = flags;
    if (flags & WINHTTP_AUTOPROXY_AUTO_DETECT)
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    else
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    ProxyInfoHolder found;
    if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &found.info))
        return false;
    if (found.info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY) {
        answer.route = ProxyRoute::Direct;
        return true;
    }
    if (found.info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || Text(found.info.lpszProxy).empty())
        return false;
    answer.route = ProxyRoute::Named;
    answer.proxy = found.info.lpszProxy;
    answer.bypass = Text(found.info.lpszProxyBypass);
    return true;
}

}  // namespace

UserProxy ChooseUserProxy(const UserProxySettings& settings, const ProxyLookup& byScript,
                          const ProxyLookup& byDetection)
{
    UserProxy answer;
    if (!settings.autoConfigUrl.empty() && byScript(answer))
        return answer;
    answer = UserProxy();
    if (settings.autoDetect && byDetection(answer))
        return answer;
    answer = UserProxy();
    if (!settings.proxy.empty()) {
        answer.route = ProxyRoute::Named;
        answer.proxy = settings.proxy;
        answer.bypass = settings.bypass;
    }
    return answer;
}

UserProxy ResolveUserProxy(const std::wstring& url, const wchar_t* userAgent)
{
    UserSettingsHolder user;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user.config))
        return UserProxy();
    UserProxySettings settings;
    settings.autoDetect = user.config.fAutoDetect != FALSE;
    settings.autoConfigUrl = Text(user.config.lpszAutoConfigUrl);
    settings.proxy = Text(user.config.lpszProxy);
    settings.bypass = Text(user.config.lpszProxyBypass);

    // The lookups' own session never goes through a proxy (a script is
    // fetched directly); opened only when a lookup is asked for.
    WinHttpHandle lookups(nullptr);
    auto session = [&lookups, userAgent]() {
        if (!lookups.handle) {
            lookups.handle =
                WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
            if (lookups.handle) {
                // A configuration script may come over HTTPS too.
                SetSecureProtocols(lookups.handle);
                WinHttpSetTimeouts(lookups.handle, kLookupTimeoutMs, kLookupTimeoutMs, kLookupTimeoutMs,
                                   kLookupTimeoutMs);
            }
        }
        return lookups.handle;
    };
    // Two calls, not both flags in one: Wine refuses the pair.
    return ChooseUserProxy(
        settings,
        [&](UserProxy& answer) {
            HINTERNET s = session();
            return s && LookUp(s, url, WINHTTP_AUTOPROXY_CONFIG_URL, settings.autoConfigUrl, answer);
        },
        [&](UserProxy& answer) {
            HINTERNET s = session();
            return s && LookUp(s, url, WINHTTP_AUTOPROXY_AUTO_DETECT, std::wstring(), answer);
        });
}

const UserProxy& CachedUserProxy(UserProxyCache& cache, const std::wstring& host, const std::wstring& url,
                                 const wchar_t* userAgent)
{
    auto found = cache.find(host);
    if (found == cache.end())
        found = cache.emplace(host, ResolveUserProxy(url, userAgent)).first;
    return found->second;
}

HINTERNET OpenProxySession(const wchar_t* userAgent, const UserProxy& proxy)
{
    switch (proxy.route) {
    case ProxyRoute::Named:
        return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.proxy.c_str(),
                           proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.bypass.c_str(), 0);
    case ProxyRoute::Direct:
        return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    case ProxyRoute::System:
        break;
    }
    return WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                       0);
}
