#include "net/https_url.h"

#include "net/widen.h"

namespace {

// Leading zeros are allowed ("08443"); anything outside 1-65535 cannot reach
// WinHttpConnect's 16-bit port, and a long digit run must neither overflow
// nor raise.
bool ParsePortDigits(const std::string& url, size_t begin, size_t end, int& port)
{
    long value = 0;
    for (size_t i = begin; i < end; ++i) {
        value = value * 10 + (url[i] - '0');
        if (value > 65535)
            return false;
    }
    if (value < 1)
        return false;
    port = static_cast<int>(value);
    return true;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Accepts exactly what the ECMAScript expression https://([^/:@]+)(:(\d+))?(/.*)?
// accepts as a full match (tests compare the two), walked by hand: std::regex
// recurses once per character, and a redirect target of a few thousand
// characters overflowed a thread's stack and ended the process without a word.
bool ParseHttpsUrl(const std::string& url, std::wstring& host, int& port, std::wstring& path)
{
    static const char kScheme[] = "https://";
    const size_t schemeLength = sizeof(kScheme) - 1;
    if (url.compare(0, schemeLength, kScheme) != 0)
        return false;

    // Host: one or more characters up to a slash, a colon or the end. A user
    // part before it is refused: it would be taken for the host, and its
    // token could end up in the support log.
    size_t hostEnd = url.find_first_of("/:", schemeLength);
    if (hostEnd == std::string::npos)
        hostEnd = url.size();
    if (hostEnd == schemeLength || url.find('@', schemeLength) < hostEnd)
        return false;

    size_t at = hostEnd;
    int parsedPort = 443;
    if (at < url.size() && url[at] == ':') {
        size_t digitsEnd = at + 1;
        while (digitsEnd < url.size() && IsAsciiDigit(url[digitsEnd]))
            ++digitsEnd;
        if (digitsEnd == at + 1 || !ParsePortDigits(url, at + 1, digitsEnd, parsedPort))
            return false;
        at = digitsEnd;
    }

    // Path: a slash and the rest, which the expression's dot lets hold
    // anything but a line feed or carriage return.
    bool hasPath = at < url.size();
    if (hasPath && (url[at] != '/' || url.find_first_of("\r\n", at) != std::string::npos))
        return false;

    // Built before any output is touched, so a rejected URL leaves them as they were.
    std::wstring parsedHost = WidenBytes(url.substr(schemeLength, hostEnd - schemeLength));
    std::wstring parsedPath = hasPath ? WidenBytes(url.substr(at)) : std::wstring(L"/");
    host.swap(parsedHost);
    port = parsedPort;
    path.swap(parsedPath);
    return true;
}
