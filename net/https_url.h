#pragma once
#include <string>

// Splits an absolute https URL into host, port (443 when absent) and path ("/"
// when absent). A user part before the host (user@host) is refused. On failure
// returns false and leaves the outputs untouched.
bool ParseHttpsUrl(const std::string& url, std::wstring& host, int& port, std::wstring& path);
