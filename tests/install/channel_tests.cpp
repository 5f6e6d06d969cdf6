// Runs once per reported Windows version: the same executable is copied under
// one name per version and Wine's AppDefaults give each name its version.
// TOLVIN_EXPECTED_WINDOWS says which copy this is.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "install/channel.h"

namespace {

std::string ExpectedWindows()
{
    const char* name = std::getenv("TOLVIN_EXPECTED_WINDOWS");
    return name ? name : "";
}

int OpenCalls = 0;

LSTATUS CountingOpen(HKEY root, const wchar_t* subKey, HKEY* key)
{
    ++OpenCalls;
    return OpenKeyForRead(root, subKey, key);
}

// The version the system reports before any compatibility adjustment, so a
// copy whose AppDefaults entry is missing fails here rather than further down.
TEST(ReportedVersion, MatchesThisCopy)
{
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(nullptr, getVersion);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_EQ(0, getVersion(&info));
    std::string expected = ExpectedWindows();
    ASSERT_FALSE(expected.empty()) << "run with TOLVIN_EXPECTED_WINDOWS=vista|win7|win10";
    if (expected == "vista") {
        EXPECT_EQ(6u, info.dwMajorVersion);
        EXPECT_EQ(0u, info.dwMinorVersion);
    } else if (expected == "win7") {
        EXPECT_EQ(6u, info.dwMajorVersion);
        EXPECT_EQ(1u, info.dwMinorVersion);
    } else {
        EXPECT_EQ(10u, info.dwMajorVersion);
    }
}

TEST(IsWindowsAtLeast, ComparesMajorMinorServicePackInOrder)
{
    std::string expected = ExpectedWindows();
    EXPECT_TRUE(IsWindowsAtLeast(5, 1, 0));
    EXPECT_TRUE(IsWindowsAtLeast(5, 9, 9));  // a lower major wins whatever follows
    EXPECT_FALSE(IsWindowsAtLeast(11, 0, 0));
    if (expected == "vista") {
        EXPECT_TRUE(IsWindowsAtLeast(6, 0, 0));
        EXPECT_FALSE(IsWindowsAtLeast(6, 1, 0));
        EXPECT_FALSE(IsWindows7());
    } else if (expected == "win7") {
        EXPECT_TRUE(IsWindowsAtLeast(6, 1, 0));
        EXPECT_TRUE(IsWindowsAtLeast(6, 0, 9));
        EXPECT_FALSE(IsWindowsAtLeast(6, 1, 9));  // Wine's win7 reports service pack 1
        EXPECT_FALSE(IsWindowsAtLeast(6, 2, 0));
        EXPECT_TRUE(IsWindows7());
    } else {
        // Without a manifest naming Windows 10, the version check sees 6.2,
        // as on Windows; the channel choice treats every 6.2 and later alike.
        EXPECT_TRUE(IsWindowsAtLeast(6, 2, 0));
        EXPECT_FALSE(IsWindowsAtLeast(6, 3, 0));
        EXPECT_FALSE(IsWindows7());
    }
}

// Writes the two probe keys of the test prefix. The copies for the different
// versions share the prefix, so ctest runs them one at a time.
class WebView2Keys : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveKeys();
        OpenCalls = 0;
    }
    void TearDown() override { RemoveKeys(); }

    static void RemoveKeys()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, MachineWebView2Key);
        RegDeleteKeyW(HKEY_CURRENT_USER, UserWebView2Key);
    }

    // Writes the first count units (all when 0), with a NUL after them when asked.
    static void SetPv(HKEY root, const std::wstring& units, bool withNul = true, size_t count = 0)
    {
        if (count == 0)
            count = units.size();
        const wchar_t* subKey = root == HKEY_LOCAL_MACHINE ? MachineWebView2Key : UserWebView2Key;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                                 nullptr));
        DWORD bytes = static_cast<DWORD>((count + (withNul ? 1 : 0)) * sizeof(wchar_t));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(units.c_str()), bytes));
        RegCloseKey(key);
    }

    static void CreateKeyWithoutPv(HKEY root)
    {
        const wchar_t* subKey = root == HKEY_LOCAL_MACHINE ? MachineWebView2Key : UserWebView2Key;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                                 nullptr));
        RegCloseKey(key);
    }

    static bool IsWin7() { return ExpectedWindows() == "win7"; }

    // What this copy must choose when the probe would answer `found`.
    static Channel Expected(bool found)
    {
        if (IsWin7())
            return Channel::Win7;
        return found ? Channel::Release : Channel::EbWebView;
    }

    // Chooses the channel and, on 6.1, checks that no key was even tried.
    static Channel Choose()
    {
        Channel channel = ChooseChannel(CountingOpen);
        if (IsWin7()) {
            EXPECT_EQ(0, OpenCalls);
        }
        return channel;
    }
};

const wchar_t Version[] = L"120.0.2210.91";

TEST_F(WebView2Keys, NoKeys)
{
    EXPECT_EQ(Expected(false), Choose());
    if (!IsWin7()) {
        EXPECT_EQ(2, OpenCalls);  // both rows tried
    }
}

TEST_F(WebView2Keys, MachineVersionAloneIsEnoughAndStopsTheProbe)
{
    SetPv(HKEY_LOCAL_MACHINE, Version);
    EXPECT_EQ(Expected(true), Choose());
    if (!IsWin7()) {
        EXPECT_EQ(1, OpenCalls);
    }
}

TEST_F(WebView2Keys, UserVersionAloneIsEnough)
{
    SetPv(HKEY_CURRENT_USER, Version);
    EXPECT_EQ(Expected(true), Choose());
}

TEST_F(WebView2Keys, MachineSentinelWithoutUserKey)
{
    SetPv(HKEY_LOCAL_MACHINE, L"0.0.0.0");
    EXPECT_EQ(Expected(false), Choose());
}

TEST_F(WebView2Keys, MachineEmptyAndUserSentinel)
{
    SetPv(HKEY_LOCAL_MACHINE, L"");
    SetPv(HKEY_CURRENT_USER, L"0.0.0.0");
    EXPECT_EQ(Expected(false), Choose());
    if (!IsWin7()) {
        EXPECT_EQ(2, OpenCalls);
    }
}

TEST_F(WebView2Keys, AbsentOrUnusableMachineValueFallsThroughToUser)
{
    CreateKeyWithoutPv(HKEY_LOCAL_MACHINE);
    SetPv(HKEY_CURRENT_USER, Version);
    EXPECT_EQ(Expected(true), Choose());

    SetPv(HKEY_LOCAL_MACHINE, L"0.0.0.0");
    EXPECT_EQ(Expected(true), Choose());
}

TEST_F(WebView2Keys, SentinelFollowedByAnythingIsAVersion)
{
    SetPv(HKEY_LOCAL_MACHINE, L"0.0.0.0 ");
    EXPECT_EQ(Expected(true), Choose());
    SetPv(HKEY_LOCAL_MACHINE, L"0.0.0.01");
    EXPECT_EQ(Expected(true), Choose());
    // Shorter than the sentinel differs at its NUL.
    SetPv(HKEY_LOCAL_MACHINE, L"0.0.0.");
    EXPECT_EQ(Expected(true), Choose());
}

TEST_F(WebView2Keys, ValueOverTheBufferCountsAsAbsent)
{
    // 256 characters and the NUL are 514 bytes: the query of 512 fails.
    SetPv(HKEY_LOCAL_MACHINE, std::wstring(256, L'1'));
    EXPECT_EQ(Expected(false), Choose());
    SetPv(HKEY_CURRENT_USER, Version);
    EXPECT_EQ(Expected(true), Choose());
}

TEST_F(WebView2Keys, LongestValueThatFitsIsAVersion)
{
    SetPv(HKEY_LOCAL_MACHINE, std::wstring(255, L'1'));  // 510 bytes and the NUL
    EXPECT_EQ(Expected(true), Choose());
}

TEST_F(WebView2Keys, ValueFillingTheBufferWithoutNulIsAVersion)
{
    // RegSetValueExW, like Windows, counts a NUL the caller left out when one
    // follows the data; a further unit keeps the value at exactly 512 bytes.
    SetPv(HKEY_LOCAL_MACHINE, std::wstring(257, L'1'), false, 256);
    EXPECT_EQ(Expected(true), Choose());
}

}  // namespace
