#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "net/user_proxy.h"

// Called after each body chunk is saved: the bytes in the file so far and the
// file's Content-Length (0 when it had none). A continued download goes on
// from where it broke; one the server starts over counts again from 0.
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

struct DownloadedFile;

// Fetches url over HTTPS (following at most two redirects) into saveName,
// continuing a body whose connection dropped after it began at most twice.
// Returns false with a short English reason in errorText on any failure;
// errorText is left alone on success. A failed download leaves no file.
bool DownloadFile(const std::string& url, const std::string& saveName, std::string& errorText,
                  ProgressCallback progress);

// The same, but on success the file stays open in `file`, still marked to
// delete itself (see DownloadedFile), for a caller that checks and starts it.
bool DownloadFileHeld(const std::string& url, const std::string& saveName, std::string& errorText,
                      ProgressCallback progress, DownloadedFile& file);

// DownloadFile with the system's proxy lookups answered by askProxy: tests
// stand in for a script's answer there (Wine cuts a script's list to its
// first entry).
bool DownloadFileAsking(const std::string& url, const std::string& saveName, std::string& errorText,
                        ProgressCallback progress, const AskSystemProxy& askProxy);
