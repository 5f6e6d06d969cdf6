#pragma once
#include <windows.h>
#include <winhttp.h>

// Owns one WinHTTP handle. Holders declared in the order open, connection,
// request are destroyed, and so closed, in the order request, connection, open
// on every way out of their scope, exceptions included.
struct WinHttpHandle {
    HINTERNET handle = nullptr;

    explicit WinHttpHandle(HINTERNET h) : handle(h) {}
    ~WinHttpHandle()
    {
        if (handle)
            WinHttpCloseHandle(handle);
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;
};
