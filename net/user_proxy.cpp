#include "net/user_proxy.h"

#include <atomic>
#include <cwctype>

#include <map>

#include "common/bounded_call.h"
#include "net/secure_protocols.h"
#include "net/winhttp_handle.h"

namespace {

// How long the run waits for one lookup, configuration script and detection
// together, from when that lookup starts. A fixed wait, whatever the
// process's age: one cut short by a slow start skips the script (and on a
// network reached only through it, fails the install).
const DWORD kLookupWaitMs = 3000;

// A lookup's answer, filled by its thread; read only once `done` is set.
struct LookupAnswer {
    std::vector<UserProxy> routes;
    std::atomic<bool> done{false};
};

// One server's routes and how far its search has got.
struct HostRoutes {
    std::vector<UserProxy> routes;
    size_t current = 0;
    bool answered = false;  // a route answered: the search is over
    // A lookup that overran its wait and may still answer; its routes then
    // replace the ones used meanwhile, from the next try on.
    std::shared_ptr<LookupAnswer> late;
};

}  // namespace

struct UserProxyRoutesState {
    const wchar_t* userAgent;
    AskSystemProxy ask;
    // Shared with a lookup thread that may outlive the run.
    std::shared_ptr<WinHttpHandle> lookupSession;
    // A lookup overran its wait: later servers are not looked up.
    bool lookupsSilent = false;
    std::map<std::wstring, HostRoutes> hosts;
};

namespace {

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

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// A lookup's answer as routes: each entry of a list ("a:1; b:2 DIRECT",
// separated by semicolons or white space) once, in order.
std::vector<UserProxy> Routes(const UserProxy& answer)
{
    if (answer.route != ProxyRoute::Named) {
        UserProxy only = answer;
        only.lookedUp = true;
        return {only};
    }
    std::vector<UserProxy> routes;
    std::vector<std::wstring> seen;
    const std::wstring& list = answer.proxy;
    for (size_t at = 0; at < list.size();) {
        size_t end = at;
        while (end < list.size() && list[end] != L';' && !std::iswspace(list[end]))
            ++end;
        const std::wstring entry = list.substr(at, end - at);
        at = end + 1;
        if (entry.empty())
            continue;
        const std::wstring key = Lower(entry);
        bool again = false;
        for (const std::wstring& earlier : seen)
            again = again || earlier == key;
        if (again)
            continue;
        seen.push_back(key);
        UserProxy route;
        route.lookedUp = true;
        if (key == L"direct") {
            route.route = ProxyRoute::Direct;
        } else {
            route.route = ProxyRoute::Named;
            route.proxy = entry;
            route.bypass = answer.bypass;
        }
        routes.push_back(route);
    }
    if (routes.size() > kMaxListRoutes) {
        // A list that ends in DIRECT says the server may be reached without
        // a proxy at all: that way out stays, after the first proxies.
        const UserProxy last = routes.back();
        routes.resize(kMaxListRoutes);
        if (last.route == ProxyRoute::Direct)
            routes.back() = last;
    }
    return routes;
}

bool ReadUserProxySettings(UserProxySettings& settings)
{
    UserSettingsHolder user;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user.config))
        return false;
    settings.autoDetect = user.config.fAutoDetect != FALSE;
    settings.autoConfigUrl = Text(user.config.lpszAutoConfigUrl);
    settings.proxy = Text(user.config.lpszProxy);
    settings.bypass = Text(user.config.lpszProxyBypass);
    return true;
}

bool NoAnswer(UserProxy&) { return false; }

// The lookups' own session never goes through a proxy (a script is fetched
// directly); opened only when a lookup is asked for, once per run.
std::shared_ptr<WinHttpHandle> OpenLookupSession(const wchar_t* userAgent)
{
    // The holder first, so no handle is left unowned if it cannot be made.
    auto session = std::make_shared<WinHttpHandle>(nullptr);
    session->handle =
        WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session->handle) {
        // A configuration script may come over HTTPS too.
        SetSecureProtocols(session->handle);
        // Where the system honours them, a script download ends by itself
        // about when the run stops waiting for it.
        WinHttpSetTimeouts(session->handle, kLookupWaitMs, kLookupWaitMs, kLookupWaitMs, kLookupWaitMs);
    }
    return session;
}

std::vector<UserProxy> LookUpRoutes(UserProxyRoutesState& proxies, const std::wstring& lookupUrl,
                                    std::shared_ptr<LookupAnswer>& late)
{
    UserProxySettings settings;
    if (!ReadUserProxySettings(settings))
        return {UserProxy()};
    if ((settings.autoDetect || !settings.autoConfigUrl.empty()) && !proxies.lookupsSilent) {
        if (!proxies.lookupSession)
            proxies.lookupSession = OpenLookupSession(proxies.userAgent);
        // The lookup thread holds its own share of everything it touches: it
        // may still be waiting for a script long after this run has ended.
        auto found = std::make_shared<LookupAnswer>();
        std::shared_ptr<WinHttpHandle> session = proxies.lookupSession;
        AskSystemProxy ask = proxies.ask;
        auto lookUp = [found, session, ask, settings, lookupUrl]() {
            HINTERNET handle = session->handle;
            // Two calls, not both flags in one: Wine refuses the pair.
            found->routes = ChooseUserProxy(
                settings,
                [&](UserProxy& answer) {
                    return handle &&
                           ask(handle, lookupUrl, WINHTTP_AUTOPROXY_CONFIG_URL, settings.autoConfigUrl, answer);
                },
                [&](UserProxy& answer) {
                    return handle && ask(handle, lookupUrl, WINHTTP_AUTOPROXY_AUTO_DETECT, std::wstring(), answer);
                });
            found->done = true;
        };
        if (RunWithin(lookUp, kLookupWaitMs))
            return found->routes;
        // A script or detection that did not answer in time would hold every
        // later server up as well.
        proxies.lookupsSilent = true;
        late = found;
    }
    return ChooseUserProxy(settings, NoAnswer, NoAnswer);
}

HostRoutes& RoutesFor(UserProxyRoutesState& proxies, const std::wstring& host, int port)
{
    const std::wstring url = ProxyLookupUrl(host, port);
    auto found = proxies.hosts.find(url);
    if (found == proxies.hosts.end()) {
        HostRoutes routes;
        routes.routes = LookUpRoutes(proxies, url, routes.late);
        if (routes.routes.empty())
            routes.routes.push_back(UserProxy());
        found = proxies.hosts.emplace(url, routes).first;
    }
    return found->second;
}

// The user's settings meant the script's routes: a try that begins after its
// late answer came takes them, even from a route that answered meanwhile.
void TakeLateAnswer(HostRoutes& routes)
{
    if (!routes.late || !routes.late->done)
        return;
    if (!routes.late->routes.empty()) {
        routes.routes = routes.late->routes;
        routes.current = 0;
        routes.answered = false;
    }
    routes.late.reset();
}

}  // namespace

std::vector<UserProxy> ChooseUserProxy(const UserProxySettings& settings, const ProxyLookup& byScript,
                                       const ProxyLookup& byDetection)
{
    UserProxy answer;
    if (!settings.autoConfigUrl.empty() && byScript(answer)) {
        std::vector<UserProxy> routes = Routes(answer);
        if (!routes.empty())
            return routes;
    }
    answer = UserProxy();
    if (settings.autoDetect && byDetection(answer)) {
        std::vector<UserProxy> routes = Routes(answer);
        if (!routes.empty())
            return routes;
    }
    answer = UserProxy();
    if (!settings.proxy.empty()) {
        answer.route = ProxyRoute::Named;
        answer.proxy = settings.proxy;
        answer.bypass = settings.bypass;
    }
    return {answer};
}

std::wstring ProxyLookupUrl(const std::wstring& host, int port)
{
    return L"https://" + host + (port == 443 ? std::wstring() : L":" + std::to_wstring(port)) + L"/";
}

bool CouldNotConnect(DWORD error)
{
    return error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
           error == ERROR_WINHTTP_TIMEOUT;
}

bool AskWinHttpForProxy(HINTERNET session, const std::wstring& url, DWORD flags, const std::wstring& scriptUrl,
                        UserProxy& answer)
{
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    // A script from the network never runs inside this elevated process;
    // where the system refuses that, the call fails and counts as no answer.
    options.dwFlags = flags | WINHTTP_AUTOPROXY_RUN_OUTPROCESS_ONLY;
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

UserProxyRoutes::UserProxyRoutes(const wchar_t* userAgent, AskSystemProxy ask)
    : state_(new UserProxyRoutesState{userAgent, std::move(ask), nullptr, false, {}})
{
}

UserProxyRoutes::~UserProxyRoutes() = default;

const UserProxy& UserProxyRoutes::Current(const std::wstring& host, int port)
{
    HostRoutes& routes = RoutesFor(*state_, host, port);
    TakeLateAnswer(routes);
    return routes.routes[routes.current];
}

bool UserProxyRoutes::TakeNext(const std::wstring& host, int port, DWORD error)
{
    HostRoutes& routes = RoutesFor(*state_, host, port);
    if (routes.answered || !CouldNotConnect(error) || routes.current + 1 >= routes.routes.size())
        return false;
    ++routes.current;
    return true;
}

void UserProxyRoutes::WalkAgain(const std::wstring& host, int port)
{
    HostRoutes& routes = RoutesFor(*state_, host, port);
    if (!routes.answered)
        routes.current = 0;
}

void UserProxyRoutes::Answered(const std::wstring& host, int port)
{
    RoutesFor(*state_, host, port).answered = true;
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
