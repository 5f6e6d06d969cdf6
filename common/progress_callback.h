#pragma once
#include <cstdint>
#include <functional>

// Called after each body chunk is saved: the bytes in the file so far and the
// file's Content-Length (0 when it had none). A continued download goes on
// from where it broke; one the server starts over counts again from 0.
// Here rather than with the download, so the splash that shows it need not
// know the engine.
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;
