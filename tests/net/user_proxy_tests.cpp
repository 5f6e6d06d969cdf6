#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/user_proxy.h"

namespace {

// Each way of looking up answers as given, or fails when given nothing, and
// says it was asked.
ProxyLookup Answers(const wchar_t* name, std::vector<std::wstring>& asked, const UserProxy* answer)
{
    return [name, &asked, answer](UserProxy& out) {
        asked.push_back(name);
        if (answer)
            out = *answer;
        return answer != nullptr;
    };
}

TEST(UserProxy, ScriptThenDetectionThenNamedProxyThenTheSystemSetting)
{
    const UserProxy byScript{ProxyRoute::Named, L"script:8080", L""};
    const UserProxy direct{ProxyRoute::Direct, L"", L""};
    UserProxySettings all;
    all.autoDetect = true;
    all.autoConfigUrl = L"http://127.0.0.1/proxy.pac";
    all.proxy = L"named:3128";
    all.bypass = L"<local>";

    struct Case {
        const UserProxySettings settings;
        const UserProxy* script;
        const UserProxy* detection;
        ProxyRoute route;
        std::wstring proxy;
        std::wstring bypass;
        std::vector<std::wstring> asked;
    };
    UserProxySettings detectOnly;
    detectOnly.autoDetect = true;
    const Case cases[] = {
        {all, &byScript, &direct, ProxyRoute::Named, L"script:8080", L"", {L"script"}},
        // A DIRECT answer is an answer, not a failure to fall through.
        {all, &direct, &byScript, ProxyRoute::Direct, L"", L"", {L"script"}},
        {all, nullptr, &direct, ProxyRoute::Direct, L"", L"", {L"script", L"detection"}},
        {all, nullptr, nullptr, ProxyRoute::Named, L"named:3128", L"<local>", {L"script", L"detection"}},
        {detectOnly, &byScript, nullptr, ProxyRoute::System, L"", L"", {L"detection"}},
        {UserProxySettings(), &byScript, &byScript, ProxyRoute::System, L"", L"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<std::wstring> asked;
        UserProxy chosen =
            ChooseUserProxy(c.settings, Answers(L"script", asked, c.script), Answers(L"detection", asked, c.detection));
        EXPECT_EQ(c.route, chosen.route);
        EXPECT_EQ(c.proxy, chosen.proxy);
        EXPECT_EQ(c.bypass, chosen.bypass);
        EXPECT_EQ(c.asked, asked);
    }
}

}  // namespace
