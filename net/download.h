#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Called after each body chunk is saved: cumulative bytes and the response's
// Content-Length (0 when it had none).
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

struct DownloadedFile;

// Fetches url over HTTPS (following at most two redirects) into saveName.
// Returns false with a short English reason in errorText on any failure;
// errorText is left alone on success. A failed download leaves no file.
bool DownloadFile(const std::string& url, const std::string& saveName, std::string& errorText,
                  ProgressCallback progress);

// The same, but on success the file stays open in `file`, still marked to
// delete itself (see DownloadedFile), for a caller that checks and starts it.
bool DownloadFileHeld(const std::string& url, const std::string& saveName, std::string& errorText,
                      ProgressCallback progress, DownloadedFile& file);
