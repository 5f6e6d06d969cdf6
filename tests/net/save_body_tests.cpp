#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/downloaded_file.h"
#include "net/save_body.h"
#include "net/widen.h"

// The body loop fed by reads the local server cannot produce under Wine (a
// broken connection there ends a body with a clean end-of-data, never with a
// failed WinHttpReadData) and by writes that fail.

namespace {

class SaveBodyTest : public ::testing::Test {
protected:
    std::string saveName;
    std::string errorText;
    std::vector<std::uint64_t> progress;

    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        saveName = std::string(temp) + "tolvin-save-body-" + std::to_string(GetCurrentProcessId()) + ".exe";
        std::ofstream(saveName, std::ios::binary) << "an older download";
    }
    void TearDown() override { DeleteFileA(saveName.c_str()); }

    // Hands out `chunks` full reads, then fails.
    static ReadBodyChunk FailAfter(int chunks)
    {
        return [chunks](char* buffer, std::uint32_t capacity, std::uint32_t& got) mutable {
            if (chunks-- == 0)
                return false;
            std::memset(buffer, 'x', capacity);
            got = capacity;
            return true;
        };
    }

    // Into saveName as the download engine saves: the file held open, marked
    // to delete itself unless the body is kept.
    bool Save(const ReadBodyChunk& read, std::uint64_t total)
    {
        DownloadedFile file;
        if (!CreateDownloadedFile(WidenBytes(saveName), file))
            return false;
        std::uint64_t received = 0;
        bool saved = SaveBody(read, total, file.handle, received, errorText, Record()) == BodyEnd::Complete;
        return saved && KeepDownloadedFile(file) && CloseDownloadedFile(file);
    }

    ProgressCallback Record()
    {
        return [this](std::uint64_t received, std::uint64_t) { progress.push_back(received); };
    }
};

TEST_F(SaveBodyTest, UnevenReadsAcrossManyWritesArriveIntact)
{
    // About 670 KB in read sizes that fall on and across the boundaries of the
    // gathered file writes.
    const std::uint32_t sizes[] = {1, 8192, 5000, 8191, 8192, 3, 7000, 8192};
    const int reads = 120;
    std::string expected;
    int next = 0;
    ReadBodyChunk read = [&](char* buffer, std::uint32_t capacity, std::uint32_t& got) {
        got = 0;
        if (next < reads) {
            got = sizes[next++ % 8];
            if (got > capacity)
                return false;
            for (std::uint32_t i = 0; i < got; ++i)
                buffer[i] = static_cast<char>((expected.size() + i) * 31 % 251);
            expected.append(buffer, got);
        }
        return true;
    };
    ASSERT_TRUE(Save(read, 0)) << errorText;
    std::ifstream in(saveName, std::ios::binary);
    EXPECT_EQ(expected, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    ASSERT_EQ(static_cast<size_t>(reads), progress.size());
    EXPECT_EQ(expected.size(), progress.back());
}

TEST_F(SaveBodyTest, FailedReadFailsAndRemovesTheFile)
{
    EXPECT_FALSE(Save(FailAfter(2), 40000));
    EXPECT_EQ("WinHttpReadData failed", errorText);
    EXPECT_EQ((std::vector<std::uint64_t>{8192, 16384}), progress);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(saveName.c_str()));

    // Without a Content-Length the failed read is all there is to go on; and
    // a failure on the first read calls no progress.
    for (int chunks : {1, 0}) {
        SCOPED_TRACE(chunks);
        std::ofstream(saveName, std::ios::binary) << "an older download";
        progress.clear();
        EXPECT_FALSE(Save(FailAfter(chunks), 0));
        EXPECT_EQ("WinHttpReadData failed", errorText);
        EXPECT_EQ(static_cast<size_t>(chunks), progress.size());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(saveName.c_str()));
    }
}

TEST_F(SaveBodyTest, ReadPastTheLengthEndsTheBodyWithoutWritingIt)
{
    // Full reads without end against a length of 20000: the third goes past it.
    HANDLE file = CreateFileA(saveName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    int reads = 0;
    std::uint64_t received = 0;
    BodyEnd end = SaveBody(
        [&reads](char* buffer, std::uint32_t capacity, std::uint32_t& got) {
            std::memset(buffer, 'x', capacity);
            got = capacity;
            return ++reads < 1000;
        },
        20000, file, received, errorText, Record());
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    CloseHandle(file);
    EXPECT_EQ(BodyEnd::Failed, end);
    EXPECT_EQ("download longer than announced: more than 20000 bytes", errorText);
    EXPECT_EQ(3, reads);
    EXPECT_LE(size.QuadPart, 20000);
    EXPECT_EQ((std::vector<std::uint64_t>{8192, 16384}), progress);
}

TEST_F(SaveBodyTest, WriteErrorIsAFailureAndEndsTheBody)
{
    // A pipe whose reading end goes away after the first chunk: the first
    // gathered write fails.
    std::string pipeName = "\\\\.\\pipe\\tolvin-save-body-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0,
                                   1024 * 1024, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    HANDLE writer = CreateFileA(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    std::uint64_t received = 0;
    BodyEnd end = SaveBody(FailAfter(245), 0, writer, received, errorText, [&](std::uint64_t, std::uint64_t) {
        if (pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
        }
    });
    CloseHandle(writer);
    // Not worth continuing: the file would miss what failed to arrive in it.
    EXPECT_EQ(BodyEnd::Failed, end);
    EXPECT_EQ("failed to write save file", errorText);
}

}  // namespace
