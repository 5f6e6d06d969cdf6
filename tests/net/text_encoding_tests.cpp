#include <gtest/gtest.h>

#include <string>

#include "common/text_encoding.h"
#include "product/product_name.h"

namespace {

// The record and the splash spell the one name each in its own encoding.
TEST(Utf8ToWide, ProductNameGivesTheDisplayedName)
{
    const std::string name = ProductName;
    ASSERT_EQ(27u, name.size());
    EXPECT_EQ(std::wstring(L"tolvin\u97F3\u9891\u683C\u5F0F\u8F6C\u6362\u5668"), Utf8ToWide(name));
    EXPECT_EQ(std::wstring(ProductDisplayName), Utf8ToWide(name));
}

TEST(Utf8ToWide, EmptyAndNulBoundedInputs)
{
    EXPECT_EQ(std::wstring(), Utf8ToWide(std::string()));
    // The platform reads up to the first 0 byte; the terminator is never counted.
    EXPECT_EQ(std::wstring(), Utf8ToWide(std::string("\0abc", 4)));
    EXPECT_EQ(std::wstring(L"ab"), Utf8ToWide(std::string("ab\0cd", 5)));
}

TEST(Utf8ToWide, MalformedSequencesBecomeReplacementCharacters)
{
    // Not the ANSI code page: there 0xFF would be U+00FF.
    EXPECT_EQ(std::wstring(L"a\uFFFDb"), Utf8ToWide("a\xFF" "b"));
    // A lone continuation byte and a sequence cut short at the end.
    EXPECT_EQ(std::wstring(L"\uFFFDx"), Utf8ToWide("\x80x"));
    std::wstring truncated = Utf8ToWide("x\xE9\x9F");
    ASSERT_GE(truncated.size(), 2u);
    EXPECT_EQ(L'x', truncated[0]);
    EXPECT_EQ(std::wstring(truncated.size() - 1, L'\uFFFD'), truncated.substr(1));
}

TEST(Utf8ToWide, CharactersBeyondTheBasicPlaneGiveSurrogatePairs)
{
    // U+1F3B5 (musical note) and U+20000, around plain text.
    EXPECT_EQ(std::wstring(L"a\xD83C\xDFB5" L"b"), Utf8ToWide("a\xF0\x9F\x8E\xB5" "b"));
    EXPECT_EQ(std::wstring(L"\xD840\xDC00"), Utf8ToWide("\xF0\xA0\x80\x80"));
}

}  // namespace
