// config.toml on disk: paths, sharing, and what a failed write leaves behind.
#include <gtest/gtest.h>

#include "registry/software_registry.h"
#include "registry_test_files.h"

namespace {

const char TwoRecords[] =
    "[[software]]\r\nname = \"a\"\r\nproduct_id = \"7\"\r\ndistributor_id = \"x\"\r\n"
    "[[software]]\r\nname = \"\xE9\x9F\xB3\"\r\nproduct_id = \"8\"\r\ndistributor_id = \"\"\r\n";

std::vector<SoftwareEntry> TwoEntries()
{
    return {SoftwareEntry{"a", "7", "x"}, SoftwareEntry{"\xE9\x9F\xB3", "8", ""}};
}

const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TestHandle Hold(const std::wstring& path, DWORD access, DWORD share)
{
    return TestHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(SoftwareRegistryFile, MissingAndEmptyFilesReadAsNothing)
{
    TempFolder folder;
    std::vector<SoftwareEntry> entries = TwoEntries();
    EXPECT_TRUE(TryReadSoftwareRegistry(folder.path + L"\\config.toml", entries));
    EXPECT_TRUE(entries.empty());
    entries = TwoEntries();
    EXPECT_TRUE(TryReadSoftwareRegistry(folder.path + L"\\no folder\\config.toml", entries)) << "missing folder";
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(ReadSoftwareRegistry(folder.path + L"\\config.toml").empty());

    ASSERT_TRUE(WriteBytes(folder.path + L"\\config.toml", ""));
    EXPECT_TRUE(TryReadSoftwareRegistry(folder.path + L"\\config.toml", entries));
    EXPECT_TRUE(entries.empty());
}

TEST(SoftwareRegistryFile, WritesCanonicalBytesAtTheFullUnicodePath)
{
    // Chinese characters and a character outside the BMP: neither survives a
    // narrow (ANSI) path.
    TempFolder temp;
    const std::wstring folder = temp.path + L"\\\x97F3\x9891 \xD83C\xDFB5";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring path = folder + L"\\config.toml";

    WriteSoftwareRegistry(path, TwoEntries());
    EXPECT_EQ(std::string(TwoRecords), ReadBytes(path));
    const std::vector<SoftwareEntry> back = ReadSoftwareRegistry(path);
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ("\xE9\x9F\xB3", back[1].name);
    EXPECT_EQ("8", back[1].product_id);
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder));
}

TEST(SoftwareRegistryFile, ReplacesWholeContentWithoutLeavingTemporaryFiles)
{
    TempFolder folder;
    const std::wstring path = folder.path + L"\\config.toml";
    ASSERT_TRUE(WriteBytes(path, std::string(TwoRecords) + "# a long tail that must not survive\r\n" +
                                     std::string(5000, 'z')));

    WriteSoftwareRegistry(path, {SoftwareEntry{"b", "9", "1"}});
    EXPECT_EQ("[[software]]\r\nname = \"b\"\r\nproduct_id = \"9\"\r\ndistributor_id = \"1\"\r\n", ReadBytes(path));

    WriteSoftwareRegistry(path, {});
    EXPECT_EQ("", ReadBytes(path));
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder.path));
}

TEST(SoftwareRegistryFile, ReadingSharesTheFileWithOtherReadersAndWriters)
{
    TempFolder folder;
    const std::wstring path = folder.path + L"\\config.toml";
    ASSERT_TRUE(WriteBytes(path, TwoRecords));
    // Another process has the file open for reading and writing and shares
    // both: the read must not ask for more exclusivity than that.
    TestHandle other = Hold(path, GENERIC_READ | GENERIC_WRITE, ShareAll);
    ASSERT_TRUE(other.Valid());
    std::vector<SoftwareEntry> entries;
    EXPECT_TRUE(TryReadSoftwareRegistry(path, entries));
    EXPECT_EQ(2u, entries.size());
}

TEST(SoftwareRegistryFile, AFileThatCannotBeOpenedIsToldFromAMissingOne)
{
    TempFolder folder;
    const std::wstring path = folder.path + L"\\config.toml";
    ASSERT_TRUE(WriteBytes(path, TwoRecords));
    {
        TestHandle locked = Hold(path, GENERIC_READ, 0);
        ASSERT_TRUE(locked.Valid());
        std::vector<SoftwareEntry> entries = TwoEntries();
        EXPECT_FALSE(TryReadSoftwareRegistry(path, entries)) << "locked";
        EXPECT_TRUE(entries.empty());
        EXPECT_TRUE(ReadSoftwareRegistry(path).empty());
    }

    const std::wstring folderNamedLikeTheFile = folder.path + L"\\sub";
    ASSERT_TRUE(CreateDirectoryW(folderNamedLikeTheFile.c_str(), nullptr));
    std::vector<SoftwareEntry> entries;
    EXPECT_FALSE(TryReadSoftwareRegistry(folderNamedLikeTheFile, entries)) << "a folder";
}

TEST(SoftwareRegistryFile, AFailedReplaceLeavesTheOldFileWhole)
{
    TempFolder folder;
    const std::wstring path = folder.path + L"\\config.toml";
    ASSERT_TRUE(WriteBytes(path, TwoRecords));
    {
        // Open without delete sharing: the new content cannot take the file's
        // place, so everything written so far must be thrown away.
        TestHandle reader = Hold(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(reader.Valid());
        WriteSoftwareRegistry(path, {SoftwareEntry{"new", "1", "1"}});
    }
    EXPECT_EQ(std::string(TwoRecords), ReadBytes(path));
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder.path));

    // No folder to write in: nothing appears anywhere, nothing is raised.
    WriteSoftwareRegistry(folder.path + L"\\missing\\config.toml", TwoEntries());
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder.path));
}

TEST(SoftwareRegistryFile, ReadOnlyFileIsKeptAndHiddenFileStaysHidden)
{
    TempFolder folder;
    const std::wstring path = folder.path + L"\\config.toml";
    ASSERT_TRUE(WriteBytes(path, TwoRecords));

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    WriteSoftwareRegistry(path, {});
    EXPECT_EQ(std::string(TwoRecords), ReadBytes(path)) << "read-only";
    EXPECT_EQ(std::vector<std::wstring>{L"config.toml"}, FolderNames(folder.path));

    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    WriteSoftwareRegistry(path, {});
    EXPECT_EQ("", ReadBytes(path)) << "hidden";
    const DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace
