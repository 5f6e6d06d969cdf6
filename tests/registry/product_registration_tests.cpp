// Registration against a profile folder of the test's own, checked byte for byte.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "registry/product_registration.h"
#include "registry/software_registry.h"
#include "registry_test_files.h"

namespace {

const char ProductRecord[] =
    "[[software]]\r\n"
    "name = \"tolvin\xE9\x9F\xB3\xE9\xA2\x91\xE6\xA0\xBC\xE5\xBC\x8F\xE8\xBD\xAC\xE6\x8D\xA2\xE5\x99\xA8\"\r\n"
    "product_id = \"1\"\r\n"
    "distributor_id = \"1\"\r\n";

std::string Record(const std::string& name, const std::string& productId, const std::string& distributorId)
{
    return "[[software]]\r\nname = \"" + name + "\"\r\nproduct_id = \"" + productId + "\"\r\ndistributor_id = \"" +
           distributorId + "\"\r\n";
}

// Tells whether any name in a folder appeared, vanished or changed: the only
// outward sign that a write was attempted and then undone.
class FolderWatch {
public:
    explicit FolderWatch(const std::wstring& folder)
        : folder_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr))
    {
        overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        watching_ = folder_.Valid() && overlapped_.hEvent &&
                    ReadDirectoryChangesW(folder_.handle, changes_, sizeof changes_, FALSE,
                                          FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped_, nullptr);
    }
    ~FolderWatch()
    {
        if (watching_) {
            CancelIo(folder_.handle);
            DWORD ignored = 0;
            GetOverlappedResult(folder_.handle, &overlapped_, &ignored, TRUE);
        }
        if (overlapped_.hEvent)
            CloseHandle(overlapped_.hEvent);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool Watching() const { return watching_; }
    bool SawChange(DWORD waitMs) const { return WaitForSingleObject(overlapped_.hEvent, waitMs) == WAIT_OBJECT_0; }

private:
    TestHandle folder_;
    OVERLAPPED overlapped_ = {};
    bool watching_ = false;
    alignas(DWORD) char changes_[4096];
};

class ProductRegistration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(RegistryFolder().c_str(), nullptr)); }

    std::wstring RegistryFolder() const { return profile_.path + L"\\.tolvin"; }
    std::wstring RegistryFile() const { return RegistryFolder() + L"\\config.toml"; }
    void Register() const { RegisterProductInProfile(profile_.path); }

    TempFolder profile_;
};

// Starts from a profile without the folder.
class FirstRegistration : public ::testing::Test {
protected:
    TempFolder profile_;
};

TEST_F(FirstRegistration, CreatesTheHiddenFolderAndTheProductRecord)
{
    RegisterProductInProfile(profile_.path);
    const std::wstring folder = profile_.path + L"\\.tolvin";
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(folder.c_str()));
    const std::string bytes = ReadBytes(folder + L"\\config.toml");
    EXPECT_EQ(92u, bytes.size());
    EXPECT_EQ(std::string(ProductRecord), bytes);
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder));
}

TEST_F(ProductRegistration, LaterRunsRewriteTheSameBytesAndHideTheFolderAgain)
{
    Register();
    ASSERT_EQ(std::string(ProductRecord), ReadBytes(RegistryFile()));

    // The user shows the folder and marks it as a system folder.
    ASSERT_TRUE(SetFileAttributesW(RegistryFolder().c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM), GetFileAttributesW(RegistryFolder().c_str()))
        << "this Wine prefix reports dot-names as hidden by itself; run through ctest, whose prefix does not";
    Register();
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(RegistryFolder().c_str()));
    EXPECT_EQ(std::string(ProductRecord), ReadBytes(RegistryFile()));
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(RegistryFolder()));
}

TEST_F(ProductRegistration, OurRecordKeepsItsNameAndPlaceAndOthersKeepTheirValues)
{
    ASSERT_TRUE(WriteBytes(RegistryFile(),
                           "\xEF\xBB\xBF# software installed for this user\n"
                           "\n"
                           "[[software]]\n"
                           "name = \"Other\" # trailing note\n"
                           "product_id = \"20\"\n"
                           "version = \"3.1\"\n"
                           "distributor_id = \"5\"\n"
                           "[[software]]\n"
                           "name = \"Renamed\"\n"
                           "product_id = 1\n"
                           "distributor_id = \"77\"\n"
                           "[settings]\n"
                           "theme = \"dark\"\n"
                           "[[software]]\n"
                           "name = \"no id, dropped\"\n"
                           "[[software]]\r\n"
                           "name = \"Third\"\r\n"
                           "product_id = \"30\"\r\n"
                           "distributor_id = \"\"\r\n"));
    Register();
    EXPECT_EQ(Record("Other # trailing note", "20", "5") + Record("Renamed", "1", "1") +
                  Record("Third", "30", ""),
              ReadBytes(RegistryFile()));
}

TEST_F(ProductRegistration, OnlyTheFirstOfTwoMatchingRecordsChanges)
{
    const std::string second = Record("Second", "1", "2");
    ASSERT_TRUE(WriteBytes(RegistryFile(), Record("First", "1", "2") + Record("Between", "3", "3") + second));
    Register();
    EXPECT_EQ(Record("First", "1", "1") + Record("Between", "3", "3") + second, ReadBytes(RegistryFile()));
}

TEST_F(ProductRegistration, IdsThatOnlyLookLikeOursGetANewRecordAppended)
{
    // A leading blank is trimmed on reading, so " 1" is ours; "1 " and "01" are not.
    ASSERT_TRUE(WriteBytes(RegistryFile(), Record("Trailing", "1 ", "4") + Record("Zero", "01", "4")));
    Register();
    const std::string expected = Record("Trailing", "1 ", "4") + Record("Zero", "01", "4") + ProductRecord;
    EXPECT_EQ(expected, ReadBytes(RegistryFile()));
    Register();
    EXPECT_EQ(expected, ReadBytes(RegistryFile())) << "the next run finds the appended record";

    ASSERT_TRUE(WriteBytes(RegistryFile(), "product_id = \" 1\"\n"));
    Register();
    EXPECT_EQ(Record("", "1", "1"), ReadBytes(RegistryFile()));
}

TEST_F(ProductRegistration, AFileThatCannotBeReadIsLeftAsItIs)
{
    const std::string before = "# hand-kept\r\n" + Record("Other", "20", "5");
    ASSERT_TRUE(WriteBytes(RegistryFile(), before));
    {
        TestHandle locked(CreateFileW(RegistryFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locked.Valid());
        FolderWatch watch(RegistryFolder());
        ASSERT_TRUE(watch.Watching());
        Register();
        // Wine refuses to rename over any open file, so the bytes alone would not
        // show an attempted write; a temporary file coming and going would.
        EXPECT_FALSE(watch.SawChange(500)) << "a write was attempted";
    }
    EXPECT_EQ(before, ReadBytes(RegistryFile()));
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(RegistryFolder()));
}

TEST_F(ProductRegistration, AFolderThatCannotBeWrittenLosesNothing)
{
    const std::string before = Record("Other", "20", "5");
    ASSERT_TRUE(WriteBytes(RegistryFile(), before));
    {
        // Readable, but the new content cannot take the file's place.
        TestHandle reader(CreateFileW(RegistryFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader.Valid());
        FolderWatch watch(RegistryFolder());
        ASSERT_TRUE(watch.Watching());
        Register();
        // Also shows that the watch above would notice an attempted write.
        EXPECT_TRUE(watch.SawChange(5000)) << "no write was attempted";
    }
    EXPECT_EQ(before, ReadBytes(RegistryFile()));
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(RegistryFolder()));
}

TEST_F(ProductRegistration, AHardLinkedFileIsLeftAloneAndItsRecordsStayInIt)
{
    // The user may link a file they cannot read; copying its records into their
    // own file would hand them over.
    TempFolder elsewhere;
    const std::wstring target = elsewhere.path + L"\\records.toml";
    const std::string before = Record("Elsewhere", "20", "5");
    ASSERT_TRUE(WriteBytes(target, before));
    ASSERT_TRUE(CreateHardLinkW(RegistryFile().c_str(), target.c_str(), nullptr));
    Register();
    EXPECT_EQ(before, ReadBytes(target));
    EXPECT_EQ(before, ReadBytes(RegistryFile()));
    TestHandle link(CreateFileW(RegistryFile().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    ASSERT_TRUE(GetFileInformationByHandle(link.handle, &info));
    EXPECT_EQ(2u, info.nNumberOfLinks) << "config.toml was replaced by a copy";
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(RegistryFolder()));
    EXPECT_EQ(std::vector<std::wstring>{L"records.toml"}, FolderNames(elsewhere.path));
}

TEST_F(FirstRegistration, AFileInPlaceOfTheFolderIsLeftAlone)
{
    const std::wstring notAFolder = profile_.path + L"\\.tolvin";
    ASSERT_TRUE(WriteBytes(notAFolder, "user data"));
    RegisterProductInProfile(profile_.path);
    EXPECT_EQ("user data", ReadBytes(notAFolder));
    EXPECT_EQ(std::vector<std::wstring>{L".tolvin"}, FolderNames(profile_.path));
}

// The real entry point, in the throwaway prefix ctest gives these tests.
TEST(ProfileRegistration, RegistersInTheCurrentUsersProfile)
{
    wchar_t prefix[1024] = {};
    if (!GetEnvironmentVariableW(L"TOLVIN_WINEPREFIX", prefix, 1024))
        GTEST_SKIP() << "runs only in the throwaway Wine prefix that ctest sets up";

    wchar_t profile[MAX_PATH] = {};
    ASSERT_GE(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile), 0);
    // Never touch a profile outside that prefix.
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    ASSERT_NE(nullptr, toUnix);
    char* unixProfile = toUnix(profile);
    ASSERT_NE(nullptr, unixProfile);
    const std::string profileOnDisk = unixProfile;
    HeapFree(GetProcessHeap(), 0, unixProfile);
    std::string prefixOnDisk;
    for (const wchar_t* c = prefix; *c; ++c)
        prefixOnDisk += static_cast<char>(*c);
    ASSERT_EQ(prefixOnDisk + "/", profileOnDisk.substr(0, prefixOnDisk.size() + 1)) << profileOnDisk;

    const std::wstring folder = std::wstring(profile) + L"\\.tolvin";
    RemoveTree(folder);
    RegisterProduct();
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(folder.c_str()));
    EXPECT_EQ(std::string(ProductRecord), ReadBytes(folder + L"\\config.toml"));
    RemoveTree(folder);
}

}  // namespace
