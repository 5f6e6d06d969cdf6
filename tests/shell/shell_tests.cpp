#include <gtest/gtest.h>

#include "app/main_window.h"
#include "splash/png_resource.h"
#include "res/resource_ids.h"

using namespace Gdiplus::DllExports;

namespace {

LPARAM Point(unsigned x, unsigned y) { return MAKELPARAM(x, y); }

TEST(CloseGlyph, ReleaseInsideTheGlyphAreaCloses)
{
    EXPECT_TRUE(IsCloseGlyphHit(560, Point(524, 12)));
    EXPECT_TRUE(IsCloseGlyphHit(560, Point(552, 40)));
    EXPECT_TRUE(IsCloseGlyphHit(560, Point(538, 26)));
}

TEST(CloseGlyph, ReleaseJustOutsideDoesNotClose)
{
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(523, 12)));
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(553, 12)));
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(552, 11)));
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(552, 41)));
}

TEST(CloseGlyph, CoordinatesAreUnsigned16Bit)
{
    // A release left of or above the client area arrives as a large unsigned
    // value (for example -1 as 65535) and must not wrap into the hit area.
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(0xFFFF, 20)));
    EXPECT_FALSE(IsCloseGlyphHit(560, Point(530, 0xFFFF)));
    // Bits above the low 32 of lParam play no part.
    LPARAM wide = static_cast<LPARAM>(static_cast<ULONG_PTR>(Point(530, 20)) | (ULONG_PTR(0xFFFF) << 32));
    EXPECT_TRUE(IsCloseGlyphHit(560, wide));
}

TEST(CloseGlyph, FollowsTheClientRightEdge)
{
    EXPECT_TRUE(IsCloseGlyphHit(800, Point(764, 20)));
    EXPECT_FALSE(IsCloseGlyphHit(800, Point(552, 20)));
}

TEST(CloseGlyph, ScalesWithTheDisplay)
{
    // 150 %: x from 840 - 54 to 840 - 12, y from 18 to 60, both inclusive.
    EXPECT_TRUE(IsCloseGlyphHit(840, Point(786, 18), 144));
    EXPECT_TRUE(IsCloseGlyphHit(840, Point(828, 60), 144));
    EXPECT_FALSE(IsCloseGlyphHit(840, Point(785, 30), 144));
    EXPECT_FALSE(IsCloseGlyphHit(840, Point(829, 30), 144));
    EXPECT_FALSE(IsCloseGlyphHit(840, Point(800, 17), 144));
    EXPECT_FALSE(IsCloseGlyphHit(840, Point(800, 61), 144));
}

TEST(Centring, CommonScreen)
{
    POINT origin = CenteredOrigin(1366, 768, 560, 310);
    EXPECT_EQ(403, origin.x);
    EXPECT_EQ(229, origin.y);
}

TEST(Centring, NarrowScreenGivesNegativeXTruncatedTowardZero)
{
    POINT origin = CenteredOrigin(555, 300, 560, 310);
    EXPECT_EQ(-2, origin.x);  // -5 / 2 truncates toward zero
    EXPECT_EQ(-5, origin.y);
}

class WithGdiplus : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token_, &input, nullptr));
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

TEST_F(WithGdiplus, ShippedPillsDecodeAt480By8)
{
    for (WORD id : {WORD(IDP_TRACK), WORD(IDP_FILL)}) {
        GpBitmapPtr image = LoadPngResource(id, L"PNG");
        ASSERT_TRUE(image) << id;
        UINT width = 0, height = 0;
        GdipGetImageWidth(image.get(), &width);
        GdipGetImageHeight(image.get(), &height);
        EXPECT_EQ(480u, width);
        EXPECT_EQ(8u, height);
    }
}

TEST_F(WithGdiplus, RefusesWhatIsNotAPngResource)
{
    EXPECT_FALSE(LoadPngResource(999, L"PNG")) << "missing id";
    EXPECT_FALSE(LoadPngResource(IDP_TRACK, L"BINARY")) << "existing id, other type";
    EXPECT_FALSE(LoadPngResource(303, L"PNG")) << "valid PNG bytes stored under another type";
    EXPECT_FALSE(LoadPngResource(301, L"PNG")) << "0-byte resource";
    EXPECT_FALSE(LoadPngResource(302, L"PNG")) << "undecodable bytes";
}

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(WithoutGdiplus, DecodingFailsCleanly)
{
    // Windows' GDI+ refuses to decode before GdiplusStartup; Wine's decodes anyway,
    // so there this case says nothing about the loader.
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's GDI+ does not require start-up";
    EXPECT_FALSE(LoadPngResource(IDP_TRACK, L"PNG"));
    EXPECT_FALSE(LoadPngResource(IDP_FILL, L"PNG"));
}

}  // namespace
