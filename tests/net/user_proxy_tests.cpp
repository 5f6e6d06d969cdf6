#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/user_proxy.h"

namespace {

using Asked = std::shared_ptr<std::vector<std::wstring>>;

// Each way of looking up answers as given, or fails when given nothing, and
// says it was asked. It owns what it touches, as a lookup on its own thread must.
ProxyLookup Answers(const wchar_t* name, const Asked& asked, const UserProxy* answer)
{
    const bool answers = answer != nullptr;
    const UserProxy given = answers ? *answer : UserProxy();
    return [name, asked, answers, given](UserProxy& out) {
        asked->push_back(name);
        if (answers)
            out = given;
        return answers;
    };
}

std::vector<std::wstring> Names(const std::vector<UserProxy>& routes)
{
    std::vector<std::wstring> names;
    for (const UserProxy& r : routes)
        names.push_back(r.route == ProxyRoute::Direct   ? L"DIRECT"
                        : r.route == ProxyRoute::System ? L"system"
                                                        : r.proxy + L" bypass " + r.bypass);
    return names;
}

TEST(UserProxy, ScriptThenDetectionThenNamedProxyThenTheSystemSetting)
{
    const UserProxy byScript{ProxyRoute::Named, L"script:8080", L""};
    const UserProxy direct{ProxyRoute::Direct, L"", L""};
    // As a script's list comes back: each entry once, in order, DIRECT among them.
    const UserProxy list{ProxyRoute::Named, L"a:1; b:2 DIRECT;;a:1\tdirect B:2", L"<local>"};
    const UserProxy empty{ProxyRoute::Named, L" ; ", L""};
    // A list of dead proxies would hold the splash a time-out each.
    const UserProxy longList{ProxyRoute::Named, L"a:1;b:2;c:3;d:4;DIRECT", L""};
    const UserProxy longNoDirect{ProxyRoute::Named, L"a:1;b:2;c:3;d:4;e:5", L""};
    UserProxySettings all;
    all.autoDetect = true;
    all.autoConfigUrl = L"http://127.0.0.1/proxy.pac";
    all.proxy = L"named:3128;other:3128";
    all.bypass = L"<local>";

    struct Case {
        const UserProxySettings settings;
        const UserProxy* script;
        const UserProxy* detection;
        std::vector<std::wstring> routes;
        std::vector<std::wstring> asked;
    };
    UserProxySettings detectOnly;
    detectOnly.autoDetect = true;
    const Case cases[] = {
        {all, &byScript, &direct, {L"script:8080 bypass "}, {L"script"}},
        // A DIRECT answer is an answer, not a failure to fall through.
        {all, &direct, &byScript, {L"DIRECT"}, {L"script"}},
        {all, nullptr, &direct, {L"DIRECT"}, {L"script", L"detection"}},
        {all, &list, nullptr, {L"a:1 bypass <local>", L"b:2 bypass <local>", L"DIRECT"}, {L"script"}},
        {all, &empty, &list, {L"a:1 bypass <local>", L"b:2 bypass <local>", L"DIRECT"}, {L"script", L"detection"}},
        {all, &longList, nullptr, {L"a:1 bypass ", L"b:2 bypass ", L"c:3 bypass ", L"DIRECT"}, {L"script"}},
        {all, &longNoDirect, nullptr, {L"a:1 bypass ", L"b:2 bypass ", L"c:3 bypass ", L"d:4 bypass "}, {L"script"}},
        // The user's own proxy goes to WinHTTP as written.
        {all, nullptr, nullptr, {L"named:3128;other:3128 bypass <local>"}, {L"script", L"detection"}},
        {detectOnly, &byScript, nullptr, {L"system"}, {L"detection"}},
        {UserProxySettings(), &byScript, &byScript, {L"system"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        const Asked asked = std::make_shared<std::vector<std::wstring>>();
        std::vector<UserProxy> chosen =
            ChooseUserProxy(c.settings, Answers(L"script", asked, c.script), Answers(L"detection", asked, c.detection));
        EXPECT_EQ(c.routes, Names(chosen));
        EXPECT_EQ(c.asked, *asked);
    }
}

}  // namespace
