#include "net/save_body.h"

#include <windows.h>

#include <vector>

namespace {

const std::uint32_t kChunkBytes = 8192;
// Chunks are gathered into writes of up to 256 KiB. Under Wine, writing
// 256 MiB took 0.20 s in 8 KiB writes, 0.09 s in 64 KiB and 0.08 s in 256 KiB
// ones (1 MiB gained nothing more), against about 1.7 s for the transfer.
const std::uint32_t kWriteBytes = 256 * 1024;

bool Fail(std::string& errorText, const std::string& message)
{
    errorText = message;
    return false;
}

// A full disk is told apart from other failures by the error left here.
bool WriteAll(HANDLE file, const char* data, std::uint32_t size, DWORD* writeError)
{
    DWORD written = 0;
    const BOOL done = WriteFile(file, data, size, &written, nullptr);
    if (done && written == size)
        return true;
    // A file written only in part has run out of room.
    if (writeError)
        *writeError = done ? ERROR_DISK_FULL : GetLastError();
    return false;
}

}  // namespace

BodyEnd SaveBody(const ReadBodyChunk& read, std::uint64_t total, HANDLE file, std::uint64_t& received,
                 std::string& errorText, const ProgressCallback& progress, DWORD* writeError)
{
    // One buffer per call, nothing allocated per chunk.
    std::vector<char> buffer(kWriteBytes);

    std::uint32_t filled = 0;
    // A failed read is a broken transfer, never a finished one: the file
    // would be run with administrator rights.
    bool readFailed = false;
    for (;;) {
        std::uint32_t got = 0;
        if (!read(buffer.data() + filled, kChunkBytes, got) || got > kChunkBytes) {
            readFailed = true;
            break;
        }
        if (got == 0)
            break;
        // Whatever comes past the announced length is not this file's, and
        // may not end: the download fails before any of it is written.
        if (total != 0 && got > total - received) {
            Fail(errorText, "download longer than announced: more than " + std::to_string(total) + " bytes");
            return BodyEnd::Failed;
        }
        filled += got;
        received += got;
        // Written out once another full chunk would not fit.
        if (kWriteBytes - filled < kChunkBytes) {
            if (!WriteAll(file, buffer.data(), filled, writeError)) {
                Fail(errorText, "failed to write save file");
                return BodyEnd::Failed;
            }
            filled = 0;
        }
        if (progress)
            progress(received, total);
    }
    // What arrived goes to the file even when the body broke, so a
    // continuation need not fetch it again.
    if (filled != 0 && !WriteAll(file, buffer.data(), filled, writeError)) {
        Fail(errorText, "failed to write save file");
        return BodyEnd::Failed;
    }
    if (readFailed) {
        Fail(errorText, "WinHttpReadData failed");
        return BodyEnd::Broken;
    }
    // Without a Content-Length (total 0) only the connection's end marks the
    // end of the body, so there is nothing to compare against.
    if (total != 0 && received < total) {
        Fail(errorText, "incomplete download: received " + std::to_string(received) + " of " +
                            std::to_string(total) + " bytes");
        return BodyEnd::Broken;
    }
    return BodyEnd::Complete;
}
