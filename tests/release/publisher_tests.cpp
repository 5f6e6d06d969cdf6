// The signed release as Windows judges it: WinVerifyTrust through the
// installer's own publisher check, under Wine in this build's prefix, which
// trusts the test CA behind the throwaway signing certificate.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "install/setup_publisher.h"

namespace {

// A Z: path from the environment, with Windows separators.
std::wstring PathFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    std::string narrow = value ? value : "";
    std::replace(narrow.begin(), narrow.end(), '/', '\\');
    return std::wstring(narrow.begin(), narrow.end());
}

bool SignedByTestPublisher(const std::wstring& path, std::string& reason)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "cannot open the file";
        return false;
    }
    DWORD status = 0;
    const bool trusted = CheckSetupPublisher(file, path, L"Tolvin Test Publisher", reason, status);
    CloseHandle(file);
    return trusted;
}

TEST(SignedRelease, TrustedAndSignedByTheTestPublisher)
{
    std::string reason;
    EXPECT_TRUE(SignedByTestPublisher(PathFromEnvironment("TOLVIN_SIGNED_RELEASE"), reason)) << reason;
}

// The same program without its signature: what is trusted above is the signature.
TEST(SignedRelease, UnsignedBuildOutputRefused)
{
    std::string reason;
    EXPECT_FALSE(SignedByTestPublisher(PathFromEnvironment("TOLVIN_UNSIGNED_RELEASE"), reason));
    EXPECT_NE(std::string::npos, reason.find("not trusted")) << reason;
}

}  // namespace
