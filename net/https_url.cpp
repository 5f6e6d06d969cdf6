#include "net/https_url.h"

// Placeholder until the URL splitter lands: rejects everything.
bool ParseHttpsUrl(const std::string&, std::wstring&, int&, std::wstring&) { return false; }
