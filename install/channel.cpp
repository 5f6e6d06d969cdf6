#include "install/channel.h"

#include <cwchar>

#include "build_settings.h"
#include "log/support_log.h"

const wchar_t MachineWebView2Key[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t UserWebView2Key[] =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

LSTATUS OpenKeyForRead(HKEY root, const wchar_t* subKey, HKEY* key)
{
    return RegOpenKeyExW(root, subKey, 0, KEY_READ, key);
}

bool IsRuntimeVersion(const wchar_t (&pv)[256])
{
    // A value that fills the whole buffer has no NUL: measure within it.
    if (wcsnlen(pv, 256) == 0)
        return false;
    // The sentinel's NUL takes part, so "0.0.0.0" with anything after it is a version.
    static const wchar_t Sentinel[8] = L"0.0.0.0";
    for (int i = 0; i < 8; ++i) {
        if (pv[i] != Sentinel[i])
            return true;
    }
    return false;
}

namespace {

// A value as the support log shows it: printable ASCII in quotes, cut short,
// since anyone can write the per-user row.
std::string LoggedValue(const wchar_t* value)
{
    std::string text = "\"";
    for (size_t i = 0; i < 64 && i < 256 && value[i]; ++i)
        text += value[i] >= 0x20 && value[i] < 0x7F ? static_cast<char>(value[i]) : '?';
    return text + "\"";
}

// `found` says what the row held, for the support log.
bool RowHoldsVersion(KeyOpener open, HKEY root, const wchar_t* subKey, std::string& found)
{
    HKEY key = nullptr;
    if (open(root, subKey, &key) != ERROR_SUCCESS) {
        found = "no key";
        return false;
    }
    wchar_t pv[256] = {};
    DWORD type = 0;
    DWORD size = sizeof(pv);
    LSTATUS status = RegQueryValueExW(key, L"pv", nullptr, &type, reinterpret_cast<BYTE*>(pv), &size);
    RegCloseKey(key);
    // Missing, or longer than the buffer (ERROR_MORE_DATA): no version in this row.
    if (status != ERROR_SUCCESS) {
        found = "no pv (" + ErrorCodeName(static_cast<DWORD>(status)) + ")";
        return false;
    }
    found = LoggedValue(pv);
    return IsRuntimeVersion(pv);
}

bool ProbeWebView2Rows(KeyOpener open, std::string& machine, std::string& user)
{
    user = "not read";
    return RowHoldsVersion(open, HKEY_LOCAL_MACHINE, MachineWebView2Key, machine) ||
           RowHoldsVersion(open, HKEY_CURRENT_USER, UserWebView2Key, user);
}

}  // namespace

bool FindWebView2Runtime(KeyOpener open)
{
    std::string machine, user;
    return ProbeWebView2Rows(open, machine, user);
}

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version query passes the extended structure");

bool IsWindowsAtLeast(WORD major, WORD minor, WORD servicePackMajor)
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = servicePackMajor;
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

bool IsWindows7()
{
    return IsWindowsAtLeast(6, 1, 0) && !IsWindowsAtLeast(6, 2, 0);
}

Channel ChooseChannel(KeyOpener open)
{
    if (IsWindows7()) {
        LogStep("channel win7: Windows 7");
        return Channel::Win7;
    }
    std::string machine, user;
    const bool runtime = ProbeWebView2Rows(open, machine, user);
    LogStep(std::string("channel ") + (runtime ? "release" : "ebwebview") + ": not Windows 7, WebView2 pv machine " +
            machine + ", user " + user);
    return runtime ? Channel::Release : Channel::EbWebView;
}

std::string ChannelUrl(Channel channel)
{
    const char* path = "/tolvin/ebwebview";
    if (channel == Channel::Win7)
        path = "/tolvin/win7";
    else if (channel == Channel::Release)
        path = "/tolvin/release";
    return std::string("https://") + TOLVIN_DOWNLOAD_HOST + path;
}
