#pragma once
#include <windows.h>
#include <winhttp.h>

#include <functional>

// Asks for one WINHTTP_OPTION_SECURE_PROTOCOLS value; false when refused.
using SetProtocolsOption = std::function<bool(DWORD protocols)>;

// Offers TLS 1.2 and 1.3, else TLS 1.2 alone, else leaves the system's
// defaults. Returns the value that was taken, or 0 for the defaults.
DWORD ChooseSecureProtocols(const SetProtocolsOption& set);

// The same on a WinHTTP session handle.
DWORD SetSecureProtocols(HINTERNET session);
