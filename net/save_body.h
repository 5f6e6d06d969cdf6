#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/download.h"

// Reads up to `capacity` bytes of the response body into buffer and sets got;
// got 0 means the body has ended. Returns false when the read failed.
using ReadBodyChunk = std::function<bool(char* buffer, std::uint32_t capacity, std::uint32_t& got)>;

// The part of DownloadFile after a 200 response: streams the body into the
// open file in reads of at most 8192 bytes with progress(received, total) after
// each, and checks the count against total (the Content-Length, 0 when there
// was none). On failure errorText says why; the caller's file holder removes
// the partial file. Separate from DownloadFile so tests can feed it reads and
// writes that fail.
bool SaveBody(const ReadBodyChunk& read, std::uint32_t total, HANDLE file, std::string& errorText,
              const ProgressCallback& progress);
