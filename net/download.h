#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/progress_callback.h"
#include "net/user_proxy.h"

struct DownloadedFile;

// Why a download failed: for the notice, the exit code and the support log.
struct DownloadFailure {
    std::string reason;        // the engine's short English reason
    DWORD code = 0;            // the Win32 or WinHTTP error code behind it; 0 when there is none (a status, a refused check)
    std::uint64_t length = 0;  // the file's announced length when it was known, else 0; for a full
                               // disk without one, the bytes that had arrived when it filled
};

// Fetches url over HTTPS (following at most two redirects) into saveName.
// On success the file stays open in `file`, still marked to delete itself
// (see DownloadedFile), for a caller that checks and starts it. On failure
// `failure` says why and no file is left; it is left alone on success.
bool DownloadIntoHeldFile(const std::string& url, const std::string& saveName, ProgressCallback progress,
                          DownloadedFile& file, DownloadFailure& failure);

// The same for tests and benchmarks, which read the result from disk: the
// file is kept and closed, and the system's proxy lookups are answered by
// askProxy, so a test can stand in for a script's answer (Wine cuts a
// script's list to its first entry).
bool DownloadIntoKeptFile(const std::string& url, const std::string& saveName, ProgressCallback progress,
                          DownloadFailure& failure, const AskSystemProxy& askProxy = AskWinHttpForProxy);
