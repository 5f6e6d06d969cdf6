#pragma once
#include <windows.h>

#include <string>

// Which build of the setup program to fetch.
enum class Channel { Win7, Release, EbWebView };

// Opens root\subKey for reading; returns a Win32 error code (0 when opened).
// Replaceable so tests can see which keys the probe touches.
using KeyOpener = LSTATUS (*)(HKEY root, const wchar_t* subKey, HKEY* key);
LSTATUS OpenKeyForRead(HKEY root, const wchar_t* subKey, HKEY* key);

extern const wchar_t MachineWebView2Key[];  // under HKEY_LOCAL_MACHINE
extern const wchar_t UserWebView2Key[];     // under HKEY_CURRENT_USER

// True when a zero-filled 256-unit buffer holding a "pv" value names a
// version: not empty and not exactly "0.0.0.0". A value filling all 256 units
// without a NUL counts as a version.
bool IsRuntimeVersion(const wchar_t (&pv)[256]);

// The WebView2 runtime probe: machine-wide key first, then the per-user one.
bool FindWebView2Runtime(KeyOpener open = OpenKeyForRead);

// True when the running system's version is at least major.minor with the
// given service pack.
bool IsWindowsAtLeast(WORD major, WORD minor, WORD servicePackMajor);

// True when the system reports version 6.1 (any service pack).
bool IsWindows7();

// Windows 7 gets its own build without any registry read; other systems get
// the build matching the WebView2 runtime.
Channel ChooseChannel(KeyOpener open = OpenKeyForRead);

// "https://" + the download host + "/tolvin/win7" | "/tolvin/release" | "/tolvin/ebwebview".
std::string ChannelUrl(Channel channel);
