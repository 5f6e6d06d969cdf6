// Times DownloadIntoKeptFile against a bare WinHTTP loop with the same 8 KiB reads,
// one after the other against the same server; see tools/bench-download.sh.
//   bench_download.exe URL WARMUP_URL SAVE_NAME ORDER
// WARMUP_URL (a small body) is fetched once by each kind of loop before any
// timing: the first TLS connection of a Wine process costs far more than the
// later ones and would otherwise land on whichever loop runs first.
// ORDER is a sequence of 'a' (DownloadIntoKeptFile into SAVE_NAME), 'b' (the bare
// loop, data dropped), and, to tell the file's share of the time, 'w' (the bare
// loop with a WriteFile per chunk into SAVE_NAME), such as "abw" or "wba".
// Prints "download|bare|bare+write SECONDS BYTES" per run, then the
// process's memory figures in bytes.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "net/download.h"
#include "net/https_url.h"
#include "net/winhttp_handle.h"

namespace {

double Now()
{
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What the installer's meter does per chunk: two atomic stores.
std::atomic<std::uint64_t> g_received{0};
std::atomic<std::uint64_t> g_total{0};

// The least a WinHTTP client can do: one request, 8 KiB reads, data dropped
// unless a file is given.
std::uint64_t BareLoop(const std::string& url, HANDLE file)
{
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseHttpsUrl(url, host, port, path))
        return 0;
    WinHttpHandle session(WinHttpOpen(L"TolvinInstaller/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WinHttpHandle connection(WinHttpConnect(session.handle, host.c_str(), static_cast<INTERNET_PORT>(port), 0));
    WinHttpHandle request(WinHttpOpenRequest(connection.handle, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request.handle || !WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr))
        return 0;
    static char buffer[8192];
    std::uint64_t received = 0;
    DWORD got = 0;
    while (WinHttpReadData(request.handle, buffer, sizeof(buffer), &got) && got > 0) {
        received += got;
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && !WriteFile(file, buffer, got, &written, nullptr))
            return 0;
    }
    return received;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_download URL WARMUP_URL SAVE_NAME ORDER\n");
        return 2;
    }
    // ASCII arguments: URLs and a Z: path from the script.
    std::string url(argv[1], argv[1] + wcslen(argv[1]));
    std::string warmupUrl(argv[2], argv[2] + wcslen(argv[2]));
    std::string saveName(argv[3], argv[3] + wcslen(argv[3]));
    std::wstring order = argv[4];

    PROCESS_MEMORY_COUNTERS before = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));

    int status = 0;
    DownloadFailure warmupFailure;
    if (!DownloadIntoKeptFile(warmupUrl, saveName, nullptr, warmupFailure) ||
        BareLoop(warmupUrl, INVALID_HANDLE_VALUE) == 0) {
        std::fprintf(stderr, "warm-up failed: %s\n", warmupFailure.reason.c_str());
        status = 1;
    }
    for (wchar_t run : order) {
        double start = Now();
        if (run == L'a') {
            DownloadFailure failure;
            bool ok = DownloadIntoKeptFile(
                url, saveName,
                [](std::uint64_t received, std::uint64_t total) {
                    g_received.store(received);
                    g_total.store(total);
                },
                failure);
            double seconds = Now() - start;
            if (!ok) {
                std::fprintf(stderr, "DownloadIntoKeptFile failed: %s\n", failure.reason.c_str());
                status = 1;
            }
            std::printf("download %.6f %llu\n", seconds,
                        static_cast<unsigned long long>(g_received.load()));
        } else if (run == L'b' || run == L'w') {
            HANDLE file = INVALID_HANDLE_VALUE;
            if (run == L'w')
                file = CreateFileA(saveName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            std::uint64_t received = BareLoop(url, file);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            double seconds = Now() - start;
            if (received == 0)
                status = 1;
            std::printf("%s %.6f %llu\n", run == L'b' ? "bare" : "bare+write", seconds,
                        static_cast<unsigned long long>(received));
        }
        std::fflush(stdout);
    }

    PROCESS_MEMORY_COUNTERS after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    std::printf("start_working_set %llu\npeak_working_set %llu\npeak_pagefile %llu\n",
                static_cast<unsigned long long>(before.WorkingSetSize),
                static_cast<unsigned long long>(after.PeakWorkingSetSize),
                static_cast<unsigned long long>(after.PeakPagefileUsage));
    return status;
}
