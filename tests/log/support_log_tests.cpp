// The support log written into a profile folder of the test's own.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "build_settings.h"
#include "log/support_log.h"
#include "registry_test_files.h"

namespace {

// "2026-12-09T05:30:00.123Z " before every line's text.
const size_t StampLength = 25;
const std::regex StampPattern("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z $");

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Text(const std::string& line)
{
    return line.size() < StampLength ? line : line.substr(StampLength);
}

bool IsHeader(const std::string& line)
{
    return Text(line).rfind("tolvin-installer ", 0) == 0;
}

// The file's runs, each its lines from the header on.
std::vector<std::vector<std::string>> Runs(const std::string& bytes)
{
    std::vector<std::vector<std::string>> runs;
    for (const std::string& line : Lines(bytes)) {
        if (IsHeader(line) || runs.empty())
            runs.emplace_back();
        runs.back().push_back(line);
    }
    return runs;
}

class SupportLog : public ::testing::Test {
protected:
    std::wstring LogFile() const { return profile_.path + L"\\.tolvin\\installer.log"; }

    // One run of `steps` steps of about 100 bytes each, numbered by the run.
    void Run(int run, int steps)
    {
        OpenSupportLogIn(profile_.path, 96);
        for (int step = 0; step < steps; ++step)
            LogStep("run " + std::to_string(run) + " step " + std::to_string(step) + " " + std::string(60, 'x'));
        CloseSupportLog(run);
    }

    TempFolder profile_;
};

TEST_F(SupportLog, TheRunBeginsWithTheHeaderThenTheStepsKeptFromBeforeTheFileOpened)
{
    LogStep("before the file");
    LogStep("a reason\r\nthat spans lines");
    OpenSupportLogIn(profile_.path, 144);
    LogStep("after the file");
    CloseSupportLog(1603);

    const std::vector<std::string> lines = Lines(ReadBytes(LogFile()));
    ASSERT_EQ(5u, lines.size()) << ReadBytes(LogFile());
    const std::regex header(std::string("^tolvin-installer ") + TOLVIN_VERSION +
                            ", Windows \\d+\\.\\d+\\.\\d+, (x64|arm64|x86), 144 dpi$");
    EXPECT_TRUE(std::regex_match(Text(lines[0]), header)) << lines[0];
    EXPECT_EQ("before the file", Text(lines[1]));
    EXPECT_EQ("a reason  that spans lines", Text(lines[2]));
    EXPECT_EQ("after the file", Text(lines[3]));
    EXPECT_EQ("exit code 1603", Text(lines[4]));
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line.substr(0, StampLength), StampPattern)) << line;
    // Stamped in the order the steps happened, the header with the start.
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_LE(lines[i - 1].substr(0, StampLength), lines[i].substr(0, StampLength));
}

TEST_F(SupportLog, KeepsTheNewestWholeRunsWithinTheBound)
{
    // Small runs, one larger than its half of the log, then small ones again.
    const int steps[] = {100, 100, 100, 500, 30, 30, 250, 10, 500};
    for (int run = 0; run < 9; ++run) {
        Run(run, steps[run]);
        const std::string bytes = ReadBytes(LogFile());
        ASSERT_LE(bytes.size(), SupportLogBound) << "after run " << run;
        const auto runs = Runs(bytes);
        ASSERT_GE(runs.size(), run == 0 ? 1u : 2u) << "after run " << run;
        // Whole runs, oldest first and without gaps, up to this one.
        for (size_t i = 0; i < runs.size(); ++i) {
            const int expected = run - static_cast<int>(runs.size() - 1 - i);
            ASSERT_TRUE(IsHeader(runs[i].front())) << runs[i].front();
            ASSERT_EQ(0u, Text(runs[i][1]).rfind("run " + std::to_string(expected) + " step 0 ", 0))
                << "after run " << run << ": " << runs[i][1];
            EXPECT_EQ("exit code " + std::to_string(expected), Text(runs[i].back()));
        }
    }
    // A run past its half keeps its first steps, says so and still ends with its
    // code; beside another such run nothing older fits.
    Run(9, 500);
    const auto runs = Runs(ReadBytes(LogFile()));
    ASSERT_EQ(2u, runs.size());
    const std::vector<std::string>& big = runs.back();
    EXPECT_EQ("later steps left out: this run's part of the log is full", Text(big[big.size() - 2]));
    EXPECT_LT(big.size(), 500u);
    EXPECT_EQ("exit code 9", Text(big.back()));
}

TEST_F(SupportLog, AHardLinkedLogIsLeftAloneAndThePlainOneWritten)
{
    TempFolder otherProfile;
    TempFolder elsewhere;
    const std::string before = "someone else's lines\r\n";
    const std::wstring target = elsewhere.path + L"\\kept.txt";
    ASSERT_TRUE(WriteBytes(target, before));
    ASSERT_TRUE(CreateDirectoryW((profile_.path + L"\\.tolvin").c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW(LogFile().c_str(), target.c_str(), nullptr));
    Run(1, 3);
    EXPECT_EQ(before, ReadBytes(target));
    EXPECT_EQ(std::vector<std::wstring>{L"installer.log"}, FolderNames(profile_.path + L"\\.tolvin"));
    TestHandle link(CreateFileW(LogFile().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    ASSERT_TRUE(GetFileInformationByHandle(link.handle, &info));
    EXPECT_EQ(2u, info.nNumberOfLinks) << "installer.log was replaced";

    // The same run in a profile without the link is written.
    OpenSupportLogIn(otherProfile.path, 96);
    CloseSupportLog(0);
    EXPECT_EQ(2u, Lines(ReadBytes(otherProfile.path + L"\\.tolvin\\installer.log")).size());
}

}  // namespace
