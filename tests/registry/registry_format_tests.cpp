// The config.toml line rules on bytes, without touching the disk.
#include <gtest/gtest.h>

#include "registry/registry_format.h"

namespace {

using Records = std::vector<SoftwareEntry>;

SoftwareEntry Entry(const std::string& name, const std::string& productId, const std::string& distributorId)
{
    return SoftwareEntry{name, productId, distributorId};
}

void ExpectRecords(const Records& expected, const Records& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].name, actual[i].name) << "record " << i;
        EXPECT_EQ(expected[i].product_id, actual[i].product_id) << "record " << i;
        EXPECT_EQ(expected[i].distributor_id, actual[i].distributor_id) << "record " << i;
    }
}

const char ProductRecordBytes[] =
    "[[software]]\r\n"
    "name = \"tolvin\xE9\x9F\xB3\xE9\xA2\x91\xE6\xA0\xBC\xE5\xBC\x8F\xE8\xBD\xAC\xE6\x8D\xA2\xE5\x99\xA8\"\r\n"
    "product_id = \"1\"\r\n"
    "distributor_id = \"1\"\r\n";

TEST(RegistryLayout, WritesFourCrLfLinesPerRecordAndNothingElse)
{
    const SoftwareEntry product = Entry(
        "tolvin\xE9\x9F\xB3\xE9\xA2\x91\xE6\xA0\xBC\xE5\xBC\x8F\xE8\xBD\xAC\xE6\x8D\xA2\xE5\x99\xA8", "1", "1");
    EXPECT_EQ(std::string(ProductRecordBytes), FormatSoftwareRegistry({product}));
    EXPECT_EQ(92u, FormatSoftwareRegistry({product}).size());

    EXPECT_EQ("", FormatSoftwareRegistry({}));

    // Field bytes go out as they are: no escaping of backslashes, quotes or
    // control bytes, empty fields stay empty, and records follow each other directly.
    const std::string twoRecords = std::string("[[software]]\r\nname = \"a\\b\"\r\nproduct_id = \"x\"y\"\r\n"
                                               "distributor_id = \"\"\r\n"
                                               "[[software]]\r\nname = \"\"\r\nproduct_id = \"7\"\r\n"
                                               "distributor_id = \"\t") +
                                   std::string(1, '\0') + "\"\r\n";
    EXPECT_EQ(twoRecords,
              FormatSoftwareRegistry({Entry("a\\b", "x\"y", ""), Entry("", "7", std::string("\t\0", 2))}));
}

TEST(RegistryLines, LineEndsFollowTextModeReading)
{
    const Records expected = {Entry("A", "1", "d"), Entry("B", "2", "")};
    const std::string crlf = "[[software]]\r\nname = \"A\"\r\nproduct_id = \"1\"\r\ndistributor_id = \"d\"\r\n"
                             "[[software]]\r\nname = \"B\"\r\nproduct_id = \"2\"";
    std::string lf = crlf;
    for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at))
        lf.erase(at, 1);
    ExpectRecords(expected, ParseSoftwareRegistry(crlf));
    ExpectRecords(expected, ParseSoftwareRegistry(lf));

    // Only the CR of a CR LF pair goes; any other CR is an ordinary byte, also one
    // right before the end of the input.
    ExpectRecords({Entry("a\rb", "5\r", "")}, ParseSoftwareRegistry("name = \"a\rb\"\r\nproduct_id = 5\r\r\n"));
    ExpectRecords({Entry("", "5\r", "")}, ParseSoftwareRegistry("product_id = 5\r"));
    ExpectRecords({Entry("", "5\r", "")}, ParseSoftwareRegistry("product_id = 5\r\x1A\n"));
}

TEST(RegistryLines, ByteOneAEndsTheInput)
{
    ExpectRecords({Entry("", "12", "")},
                  ParseSoftwareRegistry("product_id = \"12\x1A" "3\"\r\n[[software]]\r\nproduct_id = \"9\"\r\n"));
    ExpectRecords({}, ParseSoftwareRegistry("\x1A[[software]]\r\nproduct_id = \"9\"\r\n"));
}

TEST(RegistryLines, ByteOrderMarkChangesNothing)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string withHeader = "[[software]]\r\nname = \"n\"\r\nproduct_id = \"1\"\r\n";
    const std::string keyFirst = "product_id = \"1\"\r\n[[software]]\r\nproduct_id = \"2\"\r\n";
    const std::string commentFirst = "# made by hand\r\nproduct_id = \"3\"\r\n";
    for (const std::string& text : {withHeader, keyFirst, commentFirst})
        ExpectRecords(ParseSoftwareRegistry(text), ParseSoftwareRegistry(bom + text));
    ExpectRecords({Entry("n", "1", "")}, ParseSoftwareRegistry(bom + withHeader));
    ExpectRecords({Entry("", "1", ""), Entry("", "2", "")}, ParseSoftwareRegistry(bom + keyFirst));
}

TEST(RegistryValues, EverythingAfterTheFirstEqualsSignWithQuotesRemovedAndOnlyTheStartTrimmed)
{
    ExpectRecords({Entry("a=b", "7 # seven", "x \t")},
                  ParseSoftwareRegistry("name = \"a=b\"\n"
                                        "product_id = \"7\" # seven\n"
                                        "distributor_id = \t\" \tx\" \t\n"));
    // Unquoted, quotes in odd places, a backslash that escapes nothing.
    ExpectRecords({Entry("ab\\c", "42", "")},
                  ParseSoftwareRegistry("name=a\"b\\\"c\nproduct_id = 42\ndistributor_id = \"  \"\n"));
    // A key twice in one record keeps its last value.
    ExpectRecords({Entry("second", "1", "")},
                  ParseSoftwareRegistry("name = \"first\"\nname = \"second\"\nproduct_id = \"1\"\n"));
}

TEST(RegistryValues, KeyLineWithoutEqualsSignKeepsTheField)
{
    ExpectRecords({Entry("kept", "1", "")},
                  ParseSoftwareRegistry("[[software]]\nname = \"kept\"\nname \"lost\"\nproduct_id = \"1\"\n"
                                        "distributor_id\n"));
}

TEST(RegistryRecords, RecordsWithoutProductIdAreDropped)
{
    ExpectRecords({Entry("kept", "3", "c")},
                  ParseSoftwareRegistry("[[software]]\nname = \"no id\"\ndistributor_id = \"a\"\n"
                                        "[[software]]\nname = \"empty id\"\nproduct_id = \"\"\ndistributor_id = \"b\"\n"
                                        "[[software]]\nname = \"blank id\"\nproduct_id = \" \t \"\n"
                                        "[[software]]\nname = \"kept\"\nproduct_id = \"3\"\ndistributor_id = \"c\"\n"
                                        "[[software]]\nname = \"trailing, no id\"\n"));
}

TEST(RegistryRecords, KeyLinesBeforeTheFirstHeaderFormARecord)
{
    ExpectRecords({Entry("early", "0", "e"), Entry("", "1", "")},
                  ParseSoftwareRegistry("title = \"x\"\nname = \"early\"\ndistributor_id = \"e\"\nproduct_id = \"0\"\n"
                                        "[[software]]\nproduct_id = \"1\"\n"));
}

TEST(RegistryRecords, FirstMatchingTextAnywhereInTheLineWins)
{
    ExpectRecords({Entry("surname", "9", "d")},
                  ParseSoftwareRegistry("username = \"u\"\nproduct_id = \"surname\"\ndistributor_id = \"d\"\n"
                                        "product_id = 9\n"));
    ExpectRecords({Entry("", "4", "")},
                  ParseSoftwareRegistry("  old_product_id_2 = 4\n"));
    // A value holding the header text starts a new record; the pending one ends there.
    ExpectRecords({Entry("n", "5", "")},
                  ParseSoftwareRegistry("name = \"n\"\nproduct_id = \"5\"\ndistributor_id = \"[[software]]\"\n"));
    // Case matters.
    ExpectRecords({Entry("", "6", "")},
                  ParseSoftwareRegistry("Name = \"N\"\nPRODUCT_ID = \"X\"\nproduct_id = \"6\"\nDistributor_Id = \"D\"\n"));
}

TEST(RegistryRecords, OtherTablesNeitherEndNorStartRecords)
{
    ExpectRecords({Entry("a", "1", "d"), Entry("a", "1", "d")},
                  ParseSoftwareRegistry("[[software]]\nname = \"a\"\n[settings]\n# comment\n\nproduct_id = \"1\"\n"
                                        "[[plugins]]\ndistributor_id = \"d\"\n"
                                        "[[software]]\nname = \"a\"\nproduct_id = \"1\"\ndistributor_id = \"d\"\n"));
}

TEST(RegistryRoundTrip, RecordsMeetingTheConditionsComeBackUnchanged)
{
    // Awkward but allowed: '=', CRs, NUL, trailing blanks, key texts that their
    // own line or a later rule already implies, empty name and distributor.
    const Records records = {
        Entry("tolvin\xE9\x9F\xB3", "1", "1"),
        Entry("a = b\r", "\r2 ", "x\t"),
        Entry(std::string("nul\0name", 8) + " product_id distributor_id", "id product_id distributor_id", "distributor_id"),
        Entry("", "3", ""),
        Entry("", "3", ""),
    };
    ExpectRecords(records, ParseSoftwareRegistry(FormatSoftwareRegistry(records)));
    ExpectRecords({}, ParseSoftwareRegistry(FormatSoftwareRegistry({})));
}

}  // namespace
