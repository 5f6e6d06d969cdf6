#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/progress_callback.h"

// Reads up to `capacity` bytes of the response body into buffer and sets got;
// got 0 means the body has ended. Returns false when the read failed.
using ReadBodyChunk = std::function<bool(char* buffer, std::uint32_t capacity, std::uint32_t& got)>;

// How a body ended. Broken: the connection ended or failed before the
// announced length, everything received is in the file; a continuation may
// pick up from there. Failed: nothing to continue (a write failed, or a read
// went past the announced length: none of that read is written).
enum class BodyEnd { Complete, Broken, Failed };

// The part of a download after a 200 or 206 response: streams the body into
// the open file at its current position in reads of at most 8192 bytes with
// progress(received, total) after each, and checks the count against total
// (the whole file's length, 0 when unknown). `received` holds the bytes
// already in the file on entry and those in it on return. On failure
// errorText says why, and a failed write's error goes to *writeError when
// given; the caller's file holder removes the partial file.
// Separate from the download so tests can feed it reads and writes that fail.
BodyEnd SaveBody(const ReadBodyChunk& read, std::uint64_t total, HANDLE file, std::uint64_t& received,
                 std::string& errorText, const ProgressCallback& progress, DWORD* writeError = nullptr);
