#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "net/download.h"

// Reads up to `capacity` bytes of the response body into buffer and sets got;
// got 0 means the body has ended. Returns false when the read failed.
using ReadBodyChunk = std::function<bool(char* buffer, std::uint32_t capacity, std::uint32_t& got)>;

// The part of DownloadFile after a 200 response: creates saveName, streams the
// body into it in reads of at most 8192 bytes with progress(received, total)
// after each, and checks the count against total (the Content-Length, 0 when
// there was none). On any failure the file is closed and removed and errorText
// says why. Separate from DownloadFile so tests can feed it reads that fail.
bool SaveBody(const ReadBodyChunk& read, std::uint32_t total, const std::string& saveName, std::string& errorText,
              const ProgressCallback& progress);
