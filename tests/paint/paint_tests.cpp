#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "splash/gdi_holders.h"
#include "splash/paint.h"
#include "splash/png_resource.h"
#include "splash/progress.h"
#include "splash/window_paint.h"
#include "product/product_name.h"
#include "splash/contrast.h"
#include "res/resource_ids.h"
#include "tests/paint/render_helpers.h"

using namespace Gdiplus::DllExports;

namespace {

const RECT StandardClient = {0, 0, 560, 310};

struct Rgb {
    int r;
    int g;
    int b;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb FromColorRef(COLORREF c) { return Rgb{GetRValue(c), GetGValue(c), GetBValue(c)}; }
Rgb FromArgb(Gdiplus::ARGB c) { return Rgb{int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)}; }

int Distance(const Rgb& a, const Rgb& b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

::testing::AssertionResult Near(const Rgb& actual, const Rgb& expected, int tolerance = 6)
{
    if (Distance(actual, expected) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual << " is not within " << tolerance << " of " << expected;
}

::testing::AssertionResult CloserTo(const Rgb& actual, const Rgb& wanted, const Rgb& other)
{
    if (Distance(actual, wanted) < Distance(actual, other))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual << " is not closer to " << wanted << " than to " << other;
}

bool IsWhite(const Rgb& c) { return c.r >= 200 && c.g >= 200 && c.b >= 200; }

bool Inside(const RECT& r, int x, int y) { return r.left <= x && x < r.right && r.top <= y && y < r.bottom; }

std::uint32_t ToPixel(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// A memory context holding a DIB section: the paint's target, read pixel by pixel.
class Canvas {
public:
    Canvas(int width, int height, COLORREF initial) : width_(width), height_(height)
    {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = MakeDib(width, height, &bits_);
        previous_ = SelectObject(dc_, bitmap_);
        std::fill(bits_, bits_ + width * height, ToPixel(initial));
    }
    ~Canvas()
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }

    Rgb At(int x, int y) const
    {
        GdiFlush();
        std::uint32_t p = bits_[y * width_ + x];
        return Rgb{int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)};
    }

    bool SameAs(const Canvas& other) const
    {
        GdiFlush();
        return std::equal(bits_, bits_ + width_ * height_, other.bits_);
    }

    // For looking at a render.
    void Save(const std::string& path) const
    {
        GdiFlush();
        SaveBitmapFile(path, width_, height_, bits_);
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

// A GDI bitmap drawn pixel by pixel, standing in for bitmap 102.
HBITMAP MakeBitmap(int width, int height, const std::function<COLORREF(int, int)>& colourAt)
{
    std::uint32_t* pixels = nullptr;
    HBITMAP bitmap = MakeDib(width, height, &pixels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[y * width + x] = ToPixel(colourAt(x, y));
    return bitmap;
}

// A GDI+ picture drawn pixel by pixel (ARGB), standing in for the track or fill.
struct TestImage {
    std::vector<Gdiplus::ARGB> pixels;  // the bitmap reads these for as long as it lives
    GpBitmapPtr bitmap;
};

std::unique_ptr<TestImage> MakeImage(int width, int height, const std::function<Gdiplus::ARGB(int, int)>& colourAt)
{
    auto image = std::make_unique<TestImage>();
    image->pixels.resize(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image->pixels[std::size_t(y) * width + x] = colourAt(x, y);
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                              reinterpret_cast<BYTE*>(image->pixels.data()), &bitmap);
    image->bitmap.reset(bitmap);
    return image;
}

struct Scene {
    SplashPictures pictures = {nullptr, nullptr, nullptr};
    double ratio = 0.0;
    std::wstring percent = L"0%";
    std::wstring speed = L"0 KB/s";
    RECT client = StandardClient;
    int dpi = 96;
    ContrastScheme contrast;
};

// Paints a scene into a fresh canvas. With TOLVIN_PAINT_DUMP set to a folder,
// every render is also saved there as <test>-<n>.bmp to be looked at.
std::unique_ptr<Canvas> Render(const Scene& scene, int canvasWidth = 560, int canvasHeight = 310,
                               COLORREF initial = RGB(255, 0, 255))
{
    auto canvas = std::make_unique<Canvas>(canvasWidth, canvasHeight, initial);
    SplashProgress progress{scene.ratio, scene.percent, scene.speed};
    PaintSplash(canvas->dc(), scene.client, scene.client, scene.pictures, progress, nullptr, scene.dpi,
                scene.contrast);

    if (const char* folder = std::getenv("TOLVIN_PAINT_DUMP")) {
        static int counter = 0;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "render";
        canvas->Save(std::string(folder) + "\\" + name + "-" + std::to_string(++counter) + ".bmp");
    }
    return canvas;
}

// ---------------------------------------------------------------------------
// Bar geometry: pure arithmetic.

TEST(BarGeometry, TakesTheTrackPictureSizeWithinTheClient)
{
    auto placement = [](const BarGeometry& b) { return std::vector<int>{b.x, b.y, b.width, b.height, b.right}; };
    EXPECT_EQ((std::vector<int>{40, 275, 480, 8, 520}), placement(ComputeBarGeometry(StandardClient, true, 480, 8, 0)));

    // Wider than W - 40: limited; exactly W - 40 is kept.
    EXPECT_EQ((std::vector<int>{20, 275, 520, 8, 540}), placement(ComputeBarGeometry(StandardClient, true, 600, 8, 0)));
    EXPECT_EQ(520, ComputeBarGeometry(StandardClient, true, 520, 8, 0.0).width);

    // From the client's own edges: 35 above its bottom, not its height; an odd
    // leftover truncates.
    BarGeometry bar = ComputeBarGeometry(RECT{100, 50, 660, 360}, true, 480, 8, 0.0);
    EXPECT_EQ(140, bar.x);
    EXPECT_EQ(325, bar.y);
    EXPECT_EQ(40, ComputeBarGeometry(RECT{0, 0, 561, 310}, true, 480, 8, 0.0).x);
}

TEST(BarGeometry, WithoutTrackFollowsTheClientWidth)
{
    BarGeometry bar = ComputeBarGeometry(StandardClient, false, 0, 0, 0.0);
    EXPECT_EQ((std::vector<int>{60, 275, 440, 12, 500}),
              (std::vector<int>{bar.x, bar.y, bar.width, bar.height, bar.right}));
    // W - 120 while that leaves at least 260, else W - 80.
    EXPECT_EQ(260, ComputeBarGeometry(RECT{0, 0, 380, 310}, false, 0, 0, 0.0).width);
    bar = ComputeBarGeometry(RECT{0, 0, 379, 310}, false, 0, 0, 0.0);
    EXPECT_EQ(299, bar.width);
    EXPECT_EQ(40, bar.x);
}

TEST(BarGeometry, FillWidthRoundsHalfUpAndStaysWithinTheBar)
{
    auto fill = [](double ratio) { return ComputeBarGeometry(StandardClient, true, 480, 8, ratio).fillWidth; };
    EXPECT_EQ(0, fill(0.0));
    EXPECT_EQ(0, fill(0.001));  // 0.48 + 0.5 truncates to 0
    EXPECT_EQ(1, fill(1.0 / 480));
    EXPECT_EQ(8, fill(8.0 / 480));
    EXPECT_EQ(9, fill(9.0 / 480));
    EXPECT_EQ(240, fill(0.5));
    EXPECT_EQ(480, fill(1.0));
    EXPECT_EQ(480, fill(1.002));  // 481 before the limit
}

TEST(Heading, ProductNameOrTheWindowTitle)
{
    std::wstring heading = SplashHeading(ProductDisplayName);
    EXPECT_EQ(0u, heading.find(L"tolvin"));
    EXPECT_NE(std::wstring::npos, heading.find(L"\u97f3\u9891"));  // 音频
    EXPECT_EQ(L"Tolvin Installer", SplashHeading(L""));
}

// ---------------------------------------------------------------------------
// Rendering with GDI+ running, the shipped pictures loaded and stand-ins made
// by the tests.

class Paint : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token_, &input, nullptr));
        background_ = static_cast<HBITMAP>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0));
        track_ = LoadPngResource(IDP_TRACK, L"PNG");
        fill_ = LoadPngResource(IDP_FILL, L"PNG");
        ASSERT_TRUE(background_);
        ASSERT_TRUE(track_);
        ASSERT_TRUE(fill_);
        // The solid middle of each pill.
        Gdiplus::ARGB colour = 0;
        GdipBitmapGetPixel(track_.get(), 240, 4, &colour);
        trackColour_ = FromArgb(colour);
        GdipBitmapGetPixel(fill_.get(), 240, 4, &colour);
        fillColour_ = FromArgb(colour);
        ASSERT_GT(Distance(trackColour_, fillColour_), 40) << "the pills must be told apart";
    }

    void TearDown() override
    {
        images_.clear();
        track_.reset();
        fill_.reset();
        if (background_)
            DeleteObject(background_);
        if (token_)
            Gdiplus::GdiplusShutdown(token_);
    }

    Scene Shipped(double ratio) const
    {
        Scene scene;
        scene.pictures = SplashPictures{background_, track_.get(), fill_.get()};
        scene.ratio = ratio;
        return scene;
    }

    HBITMAP Keep(HBITMAP bitmap)
    {
        bitmaps_.emplace_back(std::make_unique<GdiObject>(bitmap));
        return bitmap;
    }

    GpBitmap* Keep(std::unique_ptr<TestImage> image)
    {
        images_.push_back(std::move(image));
        return images_.back()->bitmap.get();
    }

    HBITMAP Solid(COLORREF colour)
    {
        return Keep(MakeBitmap(4, 4, [colour](int, int) { return colour; }));
    }

    // The shipped background's own pixel, read straight from the bitmap.
    Rgb BackgroundAt(int x, int y) const
    {
        MemoryDc dc(nullptr);
        Selection selected(dc.get(), background_);
        return FromColorRef(GetPixel(dc.get(), x, y));
    }

    HBITMAP background_ = nullptr;
    GpBitmapPtr track_;
    GpBitmapPtr fill_;
    Rgb trackColour_ = {};
    Rgb fillColour_ = {};

private:
    ULONG_PTR token_ = 0;
    std::vector<std::unique_ptr<TestImage>> images_;
    std::vector<std::unique_ptr<GdiObject>> bitmaps_;
};

const Rgb GradientLeft = {94, 160, 206};
const Rgb GradientRight = {209, 225, 233};
const Rgb GdiTrack = {204, 220, 230};

// --- background ---

TEST_F(Paint, ShippedBackgroundIsCopiedOneToOneInOneClientSizedCopy)
{
    // A target larger than the client: only the client's 560 x 310 is written.
    auto canvas = Render(Shipped(0.5), 600, 350, RGB(255, 0, 255));
    for (POINT p : {POINT{0, 0}, POINT{5, 5}, POINT{559, 0}, POINT{280, 100}, POINT{100, 200}, POINT{0, 309},
                    POINT{559, 309}, POINT{280, 300}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), BackgroundAt(p.x, p.y), 2)) << p.x << "," << p.y;
    for (POINT p : {POINT{560, 0}, POINT{599, 349}, POINT{0, 310}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), Rgb{255, 0, 255}, 0)) << p.x << "," << p.y;
}

TEST_F(Paint, SmallerBackgroundIsStretchedOverTheWholeClient)
{
    const COLORREF quadrant[4] = {RGB(200, 0, 0), RGB(0, 160, 0), RGB(0, 0, 200), RGB(120, 120, 0)};
    Scene scene = Shipped(0.0);
    scene.pictures.background = Keep(MakeBitmap(2, 2, [&](int x, int y) { return quadrant[y * 2 + x]; }));
    auto canvas = Render(scene);
    EXPECT_TRUE(Near(canvas->At(10, 60), FromColorRef(quadrant[0]), 0));
    EXPECT_TRUE(Near(canvas->At(549, 60), FromColorRef(quadrant[1]), 0));
    EXPECT_TRUE(Near(canvas->At(10, 300), FromColorRef(quadrant[2]), 0));
    EXPECT_TRUE(Near(canvas->At(549, 300), FromColorRef(quadrant[3]), 0));
}

TEST_F(Paint, MissingBackgroundGivesTheWindowColour)
{
    Scene scene = Shipped(0.0);
    scene.pictures.background = nullptr;
    auto canvas = Render(scene);
    const Rgb window = FromColorRef(GetSysColor(COLOR_WINDOW));
    for (POINT p : {POINT{0, 0}, POINT{559, 0}, POINT{280, 150}, POINT{0, 309}, POINT{559, 309}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), window, 0)) << p.x << "," << p.y;
}

// --- bar with the shipped pictures ---

TEST_F(Paint, ShippedBarIs480By8At40_275_TrackAtZeroFillAtOne)
{
    for (double ratio : {0.0, 1.0}) {
        auto canvas = Render(Shipped(ratio));
        const Rgb expected = ratio == 0.0 ? trackColour_ : fillColour_;
        // Solid from the top row to the bottom row and end to end.
        for (int y : {275, 279, 282})
            for (int x = 44; x <= 515; ++x)
                ASSERT_TRUE(Near(canvas->At(x, y), expected)) << "ratio " << ratio << " at " << x << "," << y;
        // One pixel outside is the background.
        for (POINT p : {POINT{280, 274}, POINT{280, 283}, POINT{39, 279}, POINT{520, 279}})
            EXPECT_TRUE(Near(canvas->At(p.x, p.y), BackgroundAt(p.x, p.y), 2)) << p.x << "," << p.y;
    }
}

TEST_F(Paint, FillEndsAtFillWidthWithARoundEnd)
{
    auto canvas = Render(Shipped(0.5));  // fillW 240: the fill ends at x 280
    for (int x = 44; x <= 276; ++x)
        ASSERT_TRUE(Near(canvas->At(x, 279), fillColour_)) << "x " << x;
    for (int x = 281; x <= 515; ++x)
        ASSERT_TRUE(Near(canvas->At(x, 279), trackColour_)) << "x " << x;
    // The end is a half circle of radius 4: its top corner shows the track.
    EXPECT_TRUE(Near(canvas->At(279, 275), trackColour_));
    EXPECT_TRUE(Near(canvas->At(274, 275), fillColour_));
}

TEST_F(Paint, TinyFills)
{
    auto empty = Render(Shipped(0.0));
    // 0.001 of 480 rounds to nothing.
    EXPECT_TRUE(Render(Shipped(0.001))->SameAs(*empty));

    // fillW 1: the picture is drawn 1 pixel wide inside the end circle.
    auto sliver = Render(Shipped(1.0 / 480));
    int changed = 0;
    for (int y = 270; y < 290; ++y)
        for (int x = 30; x < 530; ++x) {
            if (Distance(sliver->At(x, y), empty->At(x, y)) == 0)
                continue;
            ++changed;
            EXPECT_EQ(40, x) << "changed outside the sliver at " << x << "," << y;
            EXPECT_TRUE(y >= 276 && y <= 281) << "changed outside the circle at " << x << "," << y;
        }
    EXPECT_GT(changed, 0) << "the sliver shows";
}

TEST_F(Paint, FillPictureIsSqueezedIntoTheFillWidth)
{
    // Green with a red last tenth: squeezed, the red ends up at the end of the
    // fill; cropped, only green would show.
    Scene scene = Shipped(0.5);
    scene.pictures.fill = Keep(MakeImage(480, 8, [](int x, int) { return x < 432 ? 0xFF00C800u : 0xFFDC0000u; }));
    auto canvas = Render(scene);
    EXPECT_TRUE(Near(canvas->At(250, 279), Rgb{0, 200, 0}));
    EXPECT_TRUE(Near(canvas->At(265, 279), Rgb{220, 0, 0}));
}

TEST_F(Paint, TrackWiderThanTheClientAllowsIsSqueezed)
{
    // 600 wide with a blue last twentieth: drawn 520 wide from x 20.
    Scene scene = Shipped(0.0);
    scene.pictures.track = Keep(MakeImage(600, 8, [](int x, int) { return x < 570 ? 0xFFDC0000u : 0xFF0000DCu; }));
    auto canvas = Render(scene);
    EXPECT_TRUE(Near(canvas->At(20, 279), Rgb{220, 0, 0}));
    EXPECT_TRUE(Near(canvas->At(500, 279), Rgb{220, 0, 0}));
    EXPECT_TRUE(Near(canvas->At(535, 279), Rgb{0, 0, 220}));
    EXPECT_TRUE(Near(canvas->At(539, 279), Rgb{0, 0, 220}));
    EXPECT_TRUE(Near(canvas->At(19, 279), BackgroundAt(19, 279), 2));
    EXPECT_TRUE(Near(canvas->At(540, 279), BackgroundAt(540, 279), 2));
}

// --- circle and capsule rules ---

TEST_F(Paint, FillAsWideAsTheBarIsHighIsTheEndCircle)
{
    // fillW 8 = barH: the circle spans x 40..47; fillW 9 takes the capsule,
    // which reaches x 48.
    auto empty = Render(Shipped(0.0));
    auto circle = Render(Shipped(8.0 / 480));
    auto capsule = Render(Shipped(9.0 / 480));
    EXPECT_TRUE(Near(circle->At(44, 279), fillColour_));
    EXPECT_TRUE(Near(circle->At(48, 279), empty->At(48, 279), 0));
    EXPECT_TRUE(Near(circle->At(44, 275), empty->At(44, 275), 20)) << "top of a circle, not a square";
    EXPECT_TRUE(CloserTo(capsule->At(48, 279), fillColour_, trackColour_));
    EXPECT_TRUE(Near(capsule->At(49, 279), empty->At(49, 279), 0));
}

// --- fallbacks of the bar ---

TEST_F(Paint, GradientFillFillsTheWholeEndCircleForAnyTinyFillButNotForNone)
{
    Scene scene = Shipped(1.0 / 480);
    scene.pictures.fill = nullptr;
    auto sliver = Render(scene);
    // The middle of the circle carries the gradient, not the track.
    EXPECT_TRUE(CloserTo(sliver->At(44, 279), Rgb{151, 192, 219}, trackColour_)) << sliver->At(44, 279);
    EXPECT_TRUE(Near(sliver->At(49, 279), trackColour_));
    // fillW 1 and fillW 8 draw the same circle with the same gradient.
    scene.ratio = 8.0 / 480;
    EXPECT_TRUE(sliver->SameAs(*Render(scene)));
    // Nothing to fill, no circle.
    scene.ratio = 0.0;
    EXPECT_TRUE(Near(Render(scene)->At(44, 279), trackColour_));
}

TEST_F(Paint, GradientRunsAcrossTheFillNotTheBar)
{
    Scene scene = Shipped(1.0);
    scene.pictures.fill = nullptr;
    auto full = Render(scene);
    EXPECT_TRUE(Near(full->At(44, 279), GradientLeft, 6));
    EXPECT_TRUE(Near(full->At(280, 279), Rgb{151, 192, 219}, 6));
    EXPECT_TRUE(Near(full->At(515, 279), GradientRight, 6));

    scene.ratio = 0.5;
    auto half = Render(scene);
    EXPECT_TRUE(Near(half->At(44, 279), GradientLeft, 6));
    EXPECT_TRUE(Near(half->At(275, 279), GradientRight, 8));
    EXPECT_TRUE(Near(half->At(285, 279), trackColour_));
}

TEST_F(Paint, WithoutTrackPictureAGdiTrack440By12At60_275)
{
    Scene scene = Shipped(0.0);
    scene.pictures.track = nullptr;
    auto canvas = Render(scene);
    for (POINT p : {POINT{62, 281}, POINT{280, 275}, POINT{280, 285}, POINT{497, 281}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), GdiTrack, 0)) << p.x << "," << p.y;
    for (POINT p : {POINT{59, 281}, POINT{500, 281}, POINT{280, 274}, POINT{280, 287}, POINT{60, 275}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), BackgroundAt(p.x, p.y), 2)) << p.x << "," << p.y;

    scene.pictures.fill = nullptr;
    scene.ratio = 0.5;  // a gradient 220 wide over the 440 track: ends at x 280
    auto half = Render(scene);
    EXPECT_TRUE(Near(half->At(66, 281), GradientLeft, 8));
    EXPECT_TRUE(Near(half->At(274, 281), GradientRight, 8));
    EXPECT_TRUE(Near(half->At(285, 281), GdiTrack, 0));
}

// --- texts ---

class Texts : public Paint {
protected:
    // Shipped pill pictures on a plain dark ground, so that any white is text.
    Scene Dark(const std::wstring& percent, const std::wstring& speed)
    {
        Scene scene = Shipped(0.25);
        scene.pictures.background = Solid(Ground);
        scene.percent = percent;
        scene.speed = speed;
        return scene;
    }

    // The bounding box of white pixels inside r, or an empty rectangle.
    static RECT WhiteBox(const Canvas& canvas, const RECT& r)
    {
        RECT box = {r.right, r.bottom, r.left, r.top};
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (IsWhite(canvas.At(x, y))) {
                    box.left = std::min<LONG>(box.left, x);
                    box.top = std::min<LONG>(box.top, y);
                    box.right = std::max<LONG>(box.right, x + 1);
                    box.bottom = std::max<LONG>(box.bottom, y + 1);
                }
        if (box.left >= box.right)
            return RECT{0, 0, 0, 0};
        return box;
    }

    // How many pixels other than `ground` lie outside the texts' and the
    // bar's rectangles (at `scale` times their size); the first few are
    // reported; `edge` pixels at the border are left out.
    int DrawnOutside(const Canvas& canvas, int width, int height, const Rgb& ground, int scale = 1,
                     int edge = 0) const
    {
        auto inside = [scale](const RECT& r, int x, int y) {
            return Inside(RECT{scale * r.left, scale * r.top, scale * r.right, scale * r.bottom}, x, y);
        };
        int outside = 0;
        for (int y = edge; y < height - edge; ++y)
            for (int x = edge; x < width - edge; ++x) {
                if (inside(heading_, x, y) || inside(glyph_, x, y) || inside(percent_, x, y) ||
                    inside(speed_, x, y) || inside(bar_, x, y))
                    continue;
                if (Distance(canvas.At(x, y), ground) != 0 && ++outside <= 5)
                    ADD_FAILURE() << "drawn at " << x << "," << y << ": " << canvas.At(x, y);
            }
        return outside;
    }

    static constexpr COLORREF Ground = RGB(20, 30, 60);
    const RECT heading_ = {20, 8, 460, 46};
    const RECT glyph_ = {524, 8, 552, 46};
    const RECT percent_ = {40, 247, 200, 267};
    const RECT speed_ = {360, 247, 520, 267};
    const RECT bar_ = {40, 275, 520, 283};
};

TEST_F(Texts, EachTextIsWhiteAndPlacedInItsRectangle)
{
    auto canvas = Render(Dark(L"42%", L"775 KB/s"));

    RECT heading = WhiteBox(*canvas, heading_);
    ASSERT_LT(heading.left, heading.right) << "heading drawn";
    EXPECT_LE(heading.left, 23) << "left-aligned";
    EXPECT_GT(heading.right - heading.left, 100) << "the whole name, not one letter";
    EXPECT_NEAR((heading.top + heading.bottom) / 2.0, 27, 4) << "vertically centred";

    RECT glyph = WhiteBox(*canvas, glyph_);
    ASSERT_LT(glyph.left, glyph.right) << "close glyph drawn";
    EXPECT_NEAR((glyph.left + glyph.right) / 2.0, 538, 3) << "horizontally centred";
    EXPECT_NEAR((glyph.top + glyph.bottom) / 2.0, 27, 6) << "vertically centred";

    RECT percent = WhiteBox(*canvas, percent_);
    ASSERT_LT(percent.left, percent.right) << "percentage drawn";
    EXPECT_LE(percent.left, 43) << "starts at the bar's left end";
    EXPECT_GE(percent.bottom, 260) << "bottom-aligned";

    RECT speed = WhiteBox(*canvas, speed_);
    ASSERT_LT(speed.left, speed.right) << "speed drawn";
    EXPECT_GE(speed.right, 517) << "ends at the bar's right end";
    EXPECT_GE(speed.bottom, 260) << "bottom-aligned";
}

TEST_F(Texts, NothingIsDrawnOutsideTheTextsAndTheBar)
{
    // Texts far longer than their rectangles are cut at the rectangle.
    std::wstring longText(60, L'W');
    auto canvas = Render(Dark(longText, longText));
    EXPECT_EQ(0, DrawnOutside(*canvas, 560, 310, FromColorRef(Ground)));
    // The long texts reach both ends of their rectangles.
    EXPECT_LE(WhiteBox(*canvas, percent_).left, 43);
    EXPECT_GE(WhiteBox(*canvas, percent_).right, 197);
    EXPECT_LE(WhiteBox(*canvas, speed_).left, 363);
}

TEST_F(Texts, ShowTheGivenProgressTexts)
{
    auto shortTexts = Render(Dark(L"0%", L"0 KB/s"));
    auto longTexts = Render(Dark(L"100%", L"4.77 MB/s"));
    EXPECT_GT(WhiteBox(*longTexts, percent_).right, WhiteBox(*shortTexts, percent_).right + 10);
    EXPECT_LT(WhiteBox(*longTexts, speed_).left, WhiteBox(*shortTexts, speed_).left - 10);
}

// --- display scale ---

RECT Doubled(const RECT& r) { return RECT{2 * r.left, 2 * r.top, 2 * r.right, 2 * r.bottom}; }

Scene AtTwiceTheScale(Scene scene)
{
    scene.client = Doubled(scene.client);
    scene.dpi = 192;
    return scene;
}

TEST_F(Texts, At192DpiEveryTextIsDrawnTwiceAsLargeAtTwiceItsPlaceAndNothingElse)
{
    const Scene scene = Dark(L"42%", L"775 KB/s");
    auto single = Render(scene);
    auto twice = Render(AtTwiceTheScale(scene), 1120, 620);
    for (const RECT& r : {heading_, glyph_, percent_, speed_}) {
        const RECT a = WhiteBox(*single, r);
        const RECT b = WhiteBox(*twice, Doubled(r));
        ASSERT_LT(b.left, b.right) << "a text at " << r.left << "," << r.top << " is missing";
        // Fonts made twice as high: the ink is twice as tall, and as wide give
        // or take the hinting of each size (a few pixels in a hundred).
        const int slack = 3 + (b.right - b.left) / 20;
        EXPECT_NEAR(b.left, 2 * a.left, slack) << r.left << "," << r.top;
        EXPECT_NEAR(b.right, 2 * a.right, slack) << r.left << "," << r.top;
        EXPECT_NEAR(b.top, 2 * a.top, 3) << r.left << "," << r.top;
        EXPECT_NEAR(b.bottom, 2 * a.bottom, 3) << r.left << "," << r.top;
    }
    EXPECT_EQ(0, DrawnOutside(*twice, 1120, 620, FromColorRef(Ground), 2));
}

TEST_F(Paint, At192DpiTheShippedSplashIsTheSameSceneTwiceAsLargeWithSmoothEdges)
{
    const Scene scene = Shipped(0.5);
    auto twice = Render(AtTwiceTheScale(scene), 1120, 620);
    // The background spread over the whole client: the picture's own pixel at
    // half the coordinates, away from the wave glyph's edges.
    for (POINT p : {POINT{5, 5}, POINT{100, 150}, POINT{500, 200}, POINT{280, 300}, POINT{554, 304}})
        EXPECT_TRUE(Near(twice->At(2 * p.x + 1, 2 * p.y + 1), BackgroundAt(p.x, p.y), 4)) << p.x << "," << p.y;
    // The bar is 960 x 16 at (80, 550), filled to x 560 with ends of radius
    // 8: solid from its top row to its bottom row between the ends, the
    // pictures' edges not faded by the scaling.
    for (int y : {550, 558, 565}) {
        for (int x = 96; x <= 544; ++x)
            ASSERT_TRUE(Near(twice->At(x, y), fillColour_)) << x << "," << y;
        for (int x = 576; x <= 1024; ++x)
            ASSERT_TRUE(Near(twice->At(x, y), trackColour_)) << x << "," << y;
    }
    for (POINT p : {POINT{600, 549}, POINT{600, 566}, POINT{79, 558}, POINT{1040, 558}})
        EXPECT_TRUE(Near(twice->At(p.x, p.y), BackgroundAt(p.x / 2, p.y / 2), 6)) << p.x << "," << p.y;
    // Scaled smoothly, not the small pictures' pixels repeated: blocks of 2 x
    // 2 pixels across an edge are not all one colour, both along the track
    // picture's right end and along the background's wave glyph.
    auto mixedBlocks = [&](const RECT& r) {
        int mixed = 0;
        for (int y = r.top; y < r.bottom; y += 2)
            for (int x = r.left; x < r.right; x += 2) {
                const Rgb c = twice->At(x, y);
                if (Distance(twice->At(x + 1, y), c) > 8 || Distance(twice->At(x, y + 1), c) > 8 ||
                    Distance(twice->At(x + 1, y + 1), c) > 8)
                    ++mixed;
            }
        return mixed;
    };
    EXPECT_GE(mixedBlocks(RECT{1024, 548, 1042, 568}), 6) << "blocky end of the bar";
    EXPECT_GE(mixedBlocks(RECT{440, 120, 680, 300}), 40) << "blocky background";
}

// --- high contrast ---

const Rgb Black = {0, 0, 0};
const Rgb Yellow = {255, 255, 0};
const Rgb Cyan = {0, 255, 255};

TEST_F(Texts, InHighContrastTheSchemesColoursTakeThePicturesPlaces)
{
    const Scene ordinary = Dark(L"42%", L"775 KB/s");
    Scene scene = ordinary;
    scene.pictures.background = background_;
    scene.contrast = YellowOnBlack();
    auto canvas = Render(scene);

    // No background picture: the window colour wherever no text, bar or
    // frame (in the text colour: the splash has no border) is.
    EXPECT_EQ(0, DrawnOutside(*canvas, 560, 310, Black, 1, 1));
    for (POINT p : {POINT{0, 0}, POINT{300, 309}, POINT{559, 150}, POINT{0, 150}})
        EXPECT_TRUE(Near(canvas->At(p.x, p.y), Yellow, 0)) << p.x << "," << p.y;
    // Every text pixel has as much of the text colour over the window colour
    // as the ordinary splash has of white over its ground: the same font,
    // place and smoothing (the heading's and the glyph's edges are blended).
    auto usual = Render(ordinary);
    const Rgb ground = FromColorRef(Ground);
    auto cover = [](int value, int groundValue) { return (value - groundValue) * 255 / (255 - groundValue); };
    for (const RECT& r : {heading_, glyph_, percent_, speed_})
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const Rgb white = usual->At(x, y);
                const Rgb yellow = {cover(white.r, ground.r), cover(white.g, ground.g), 0};
                ASSERT_TRUE(Near(canvas->At(x, y), yellow, 2)) << x << "," << y;
            }
    // The shipped bar's place: filled to x 160 in the highlight colour, beyond
    // it a one-pixel outline in the text colour around the window colour.
    for (int x = 44; x <= 156; ++x)
        ASSERT_TRUE(Near(canvas->At(x, 279), Cyan, 0)) << x;
    for (int x = 166; x <= 515; ++x) {
        ASSERT_TRUE(Near(canvas->At(x, 275), Yellow, 0)) << x;
        ASSERT_TRUE(Near(canvas->At(x, 282), Yellow, 0)) << x;
        for (int y = 276; y <= 281; ++y)
            ASSERT_TRUE(Near(canvas->At(x, y), Black, 0)) << x << "," << y;
    }

    // Through a cache made for the scheme, a whole paint and a step give the
    // same pixels.
    SplashCache cache(DefaultDpi, scene.contrast);
    auto cached = std::make_unique<Canvas>(560, 310, RGB(255, 0, 255));
    SplashProgress progress{scene.ratio, scene.percent, scene.speed};
    PaintSplash(cached->dc(), scene.client, scene.client, scene.pictures, progress, &cache, DefaultDpi,
                scene.contrast);
    scene.ratio = 0.75;
    scene.percent = L"75%";
    progress = SplashProgress{scene.ratio, scene.percent, scene.speed};
    PaintSplash(cached->dc(), scene.client, ProgressArea(ComputeBarGeometry(scene.client, true, 480, 8, 0.75)),
                scene.pictures, progress, &cache, DefaultDpi, scene.contrast);
    EXPECT_TRUE(cached->SameAs(*Render(scene)));

    // At 200 % the outline and the frame are two pixels wide.
    auto twice = Render(AtTwiceTheScale(scene), 1120, 620);
    for (int y : {550, 551, 564, 565, 0, 1, 618, 619})
        EXPECT_TRUE(Near(twice->At(900, y), Yellow, 0)) << y;
    for (int y : {552, 563, 2, 617})
        EXPECT_TRUE(Near(twice->At(900, y), Black, 0)) << y;
}

// --- a download step ---

TEST_F(Paint, ADownloadStepRepaintsTheProgressAreaAloneAndLeavesTheRestAsItWas)
{
    // From the first state to the last: the fill, both texts and their widths change.
    Scene before = Shipped(0.0);
    Scene after = Shipped(1.0);
    after.percent = L"100%";
    after.speed = L"1023 KB/s";
    auto expected = Render(after);

    auto window = Render(before);
    SplashProgress progress{after.ratio, after.percent, after.speed};
    const RECT area = ProgressArea(ComputeBarGeometry(after.client, true, 480, 8, after.ratio));
    PaintSplash(window->dc(), after.client, area, after.pictures, progress);
    EXPECT_TRUE(window->SameAs(*expected)) << "what the step changed lies outside the progress area, or the area"
                                              " was painted differently from a whole paint";
    EXPECT_LT(area.bottom - area.top, 100);

    // The same with the window's cache: a whole paint takes its fonts, then
    // the steps go up and back down through a capsule, the end circle, a
    // sliver and none, and one updates the bar alone.
    SplashCache cache;
    auto cached = std::make_unique<Canvas>(560, 310, RGB(255, 0, 255));
    SplashProgress first{before.ratio, before.percent, before.speed};
    PaintSplash(cached->dc(), before.client, before.client, before.pictures, first, &cache);
    EXPECT_TRUE(cached->SameAs(*Render(before))) << "whole paint with the cached fonts";
    int step = 0;
    for (double ratio : {0.37, 1.0, 8.0 / 480, 1.0 / 480, 0.0, 0.5}) {
        Scene scene = Shipped(ratio);
        scene.percent = std::to_wstring(int(ratio * 100.0 + 0.5)) + L"%";
        scene.speed = std::to_wstring(100 + 37 * step) + L" KB/s";
        const BarGeometry bar = ComputeBarGeometry(scene.client, true, 480, 8, ratio);
        RECT update = ProgressArea(bar);
        if (++step == 6)
            update = RECT{bar.x, bar.y, bar.right, bar.y + bar.height};
        SplashProgress progress{scene.ratio, scene.percent, scene.speed};
        PaintSplash(cached->dc(), scene.client, update, scene.pictures, progress, &cache);
        if (step == 6) {
            // The texts are not in the update: they stay as the step before left them.
            scene.percent = L"0%";
            scene.speed = std::to_wstring(100 + 37 * 4) + L" KB/s";
        }
        EXPECT_TRUE(cached->SameAs(*Render(scene))) << "cached step to " << ratio;
    }
}

// --- resources ---

// Live GDI objects of this process, counted by probing every handle-table slot.
// Wine accepts a handle without its generation bits; Windows does not, and
// there the count stays 0 and the test below skips.
int LiveGdiObjects()
{
    int live = 0;
    for (ULONG_PTR slot = 1; slot < 0x10000; ++slot)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0)
            ++live;
    return live;
}

TEST_F(Paint, ReleasesEveryGdiObjectItMakes)
{
    Scene shipped = Shipped(0.5);
    Scene fallbacks = Shipped(1.0 / 480);
    fallbacks.pictures = SplashPictures{nullptr, nullptr, nullptr};
    Scene capsule = fallbacks;
    capsule.ratio = 0.7;
    Scene contrast = shipped;
    contrast.contrast = YellowOnBlack();
    auto paintAll = [&] {
        for (const Scene* scene : {&shipped, &fallbacks, &capsule, &contrast}) {
            Canvas canvas(560, 310, RGB(0, 0, 0));
            SplashProgress progress{scene->ratio, scene->percent, scene->speed};
            PaintSplash(canvas.dc(), scene->client, scene->client, scene->pictures, progress, nullptr, DefaultDpi,
                        scene->contrast);
            // A window's cache, made, used for a whole paint and two steps, and dropped.
            SplashCache cache(DefaultDpi, scene->contrast);
            const RECT area = ProgressArea(ComputeBarGeometry(scene->client, scene->pictures.track != nullptr,
                                                              480, 8, scene->ratio));
            for (const RECT& update : {scene->client, area, area})
                PaintSplash(canvas.dc(), scene->client, update, scene->pictures, progress, &cache, DefaultDpi,
                            scene->contrast);
        }
    };
    // The system makes its window-colour brush on first use and keeps it.
    paintAll();

    const int before = LiveGdiObjects();
    {
        GdiObject probe(CreateSolidBrush(RGB(1, 2, 3)));
        if (LiveGdiObjects() != before + 1)
            GTEST_SKIP() << "GDI objects cannot be counted on this system";
    }
    ASSERT_EQ(before, LiveGdiObjects());
    for (int i = 0; i < 5; ++i)
        paintAll();
    EXPECT_EQ(before, LiveGdiObjects());
}

// ---------------------------------------------------------------------------
// Without GDI+ running there are no pictures: the GDI parts still draw.

TEST(PaintWithoutGdiplus, BackgroundTextsAndGdiTrack)
{
    HBITMAP ground = MakeBitmap(4, 4, [](int, int) { return RGB(20, 30, 60); });
    GdiObject groundHolder(ground);
    Scene scene;
    scene.pictures.background = ground;
    scene.percent = L"0%";
    auto canvas = Render(scene);
    EXPECT_TRUE(Near(canvas->At(10, 100), Rgb{20, 30, 60}, 0));
    EXPECT_TRUE(Near(canvas->At(280, 281), GdiTrack, 0));
    bool white = false;
    for (int y = 247; y < 267 && !white; ++y)
        for (int x = 60; x < 220 && !white; ++x)
            white = IsWhite(canvas->At(x, y));
    EXPECT_TRUE(white) << "percentage drawn";
}

// ---------------------------------------------------------------------------
// The window's paint clock, driven by the installer's own callback.

StepPaintPacing ClockPacing;
int ClockPaints = 0;
std::uint64_t LastPaintedBytes = 0;  // as of the last paint that covered the whole progress area

LRESULT CALLBACK ClockedSplash(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        ++ClockPaints;
        RECT update = {};
        RECT covered = {};
        const RECT area = ProgressArea(UnpackBarPlace(DownloadProgress.barPlace.load()));
        if (GetUpdateRect(hwnd, &update, FALSE) && IntersectRect(&covered, &update, &area) && EqualRect(&covered, &area))
            LastPaintedBytes = DownloadProgress.receivedBytes.load();
        PaintSplashWindow(hwnd, DownloadProgress, SplashPictures{nullptr, nullptr, nullptr}, nullptr, ClockPacing);
        return 0;
    }
    if (message == WM_TIMER && wParam == StepPaintClockId) {
        TickStepPaintClock(hwnd, DownloadProgress, ClockPacing);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void PumpMessagesWhile(const std::function<bool()>& keepGoing)
{
    while (keepGoing()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

// Shown and painted once, which places the bar as the shown splash does.
HWND ShowClockedSplash()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ClockedSplash;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ClockedSplash";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"ClockedSplash", L"", WS_POPUP | WS_VISIBLE, 0, 0, 560, 310, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window)
        UpdateWindow(window);
    return window;
}

TEST(PaintClock, AFastDownloadIsPaintedAtMostOncePerTickToItsLastStepAndTheClockStopsWhenIdleOrHidden)
{
    HWND window = ShowClockedSplash();
    ASSERT_NE(nullptr, window);
    ASSERT_NE(0u, DownloadProgress.barPlace.load());
    const int paintsBefore = ClockPaints;

    // 256 MiB in 8 KiB steps, 480 fill widths and 100 percents among them,
    // spread over some tens of milliseconds.
    const std::uint64_t size = 256ull << 20;
    std::atomic<bool> done{false};
    const ULONGLONG start = GetTickCount64();
    std::thread worker([&] {
        ProgressCallback callback = MakeProgressCallback(window);
        for (std::uint64_t received = 8192; received <= size; received += 8192) {
            callback(received, size);
            if (received % (4 << 20) == 0)
                Sleep(1);
        }
        done = true;
    });
    ULONGLONG quietSince = 0;
    PumpMessagesWhile([&] {
        if (done && !quietSince)
            quietSince = GetTickCount64();
        return !quietSince || GetTickCount64() - quietSince < 200;
    });
    worker.join();
    const ULONGLONG ticks = (quietSince - start) / StepPaintClockMs + 1;

    EXPECT_EQ(size, LastPaintedBytes) << "the last step was never painted";
    // A paint per tick, and one more whenever a step wakes the resting window.
    EXPECT_LE(ClockPaints - paintsBefore, int(2 * ticks + 1)) << "over " << quietSince - start << " ms";
    EXPECT_FALSE(ClockPacing.clockRunning) << "the clock ticks on with nothing to paint";
    EXPECT_EQ(PaintIdle, DownloadProgress.paintRequest.load());

    // A step asked for while the clock runs, and the window hidden before the
    // tick, as the worker hides it to start the setup program: the tick gets
    // no paint and the clock stops rather than tick on while the setup runs.
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    ASSERT_TRUE(ClockPacing.clockRunning);
    MakeProgressCallback(window)(size / 2, size);
    ShowWindow(window, SW_HIDE);
    const int paintsHidden = ClockPaints;
    const ULONGLONG hidden = GetTickCount64();
    PumpMessagesWhile([&] { return GetTickCount64() - hidden < 100; });
    EXPECT_EQ(paintsHidden, ClockPaints);
    EXPECT_FALSE(ClockPacing.clockRunning) << "the clock ticks on for a hidden window";
    DestroyWindow(window);
}

TEST(PaintClock, AStepAskedForBeforeAnExposeOfTheHeadingAloneIsPaintedOnTheNextTicks)
{
    HWND window = ShowClockedSplash();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(ClockPacing.clockRunning);
    const std::uint64_t step = 3 << 18;  // 75 % of 1 MiB, shown by no earlier paint
    const std::uint64_t size = 1 << 20;
    // Asked for while the clock runs, so only its tick would paint it; then a
    // window dragged off the heading, on a screen without a compositor.
    MakeProgressCallback(window)(step, size);
    const RECT heading = {20, 8, 460, 46};  // where the heading goes
    InvalidateRect(window, &heading, FALSE);
    UpdateWindow(window);
    const ULONGLONG exposed = GetTickCount64();
    PumpMessagesWhile([&] { return GetTickCount64() - exposed < 100; });
    EXPECT_EQ(step, LastPaintedBytes) << "the expose of the heading used up the step";
    EXPECT_FALSE(ClockPacing.clockRunning);
    DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// A change of the colour scheme while the splash shows, the scheme answered
// by the test.

ContrastScheme AnsweredScheme;
ContrastScheme AnswerScheme() { return AnsweredScheme; }

// What the installer's window keeps for its paint.
const SplashPictures* SchemeSplashPictures = nullptr;
std::unique_ptr<SplashCache> SchemeSplashCache;
DownloadProgressState SchemeSplashProgress;
StepPaintPacing SchemeSplashPacing;

LRESULT CALLBACK SchemeFollowingSplash(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        PaintSplashWindow(hwnd, SchemeSplashProgress, *SchemeSplashPictures, SchemeSplashCache.get(),
                          SchemeSplashPacing);
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        FollowContrastScheme(hwnd, message, wParam, SchemeSplashCache);
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Gone with the test, failed or not: the window, then its cache (before GDI+
// shuts down), and the system's answer back in place.
struct SchemeSplash {
    HWND window = nullptr;
    ~SchemeSplash()
    {
        if (window)
            DestroyWindow(window);
        SchemeSplashCache.reset();
        ReadContrastScheme = SystemContrastScheme;
    }
};

TEST_F(Paint, ASchemeChangeRepaintsTheShownSplashAtOnceInTheOtherScheme)
{
    SchemeSplash splash;
    ReadContrastScheme = AnswerScheme;
    AnsweredScheme = ContrastScheme();
    const SplashPictures pictures{background_, track_.get(), fill_.get()};
    SchemeSplashPictures = &pictures;
    SchemeSplashProgress.totalBytes = 1 << 20;
    SchemeSplashProgress.receivedBytes = 1 << 19;
    SchemeSplashCache = std::make_unique<SplashCache>(DefaultDpi, ReadContrastScheme());

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SchemeFollowingSplash;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SchemeFollowingSplash";
    RegisterClassW(&windowClass);
    splash.window = CreateWindowExW(0, L"SchemeFollowingSplash", L"", WS_POPUP | WS_VISIBLE, 0, 0, 560, 310,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, splash.window);
    UpdateWindow(splash.window);
    RECT placed = {};
    GetWindowRect(splash.window, &placed);

    // What the window shows now, read back from its context.
    auto shown = [&] {
        auto canvas = std::make_unique<Canvas>(560, 310, RGB(255, 0, 255));
        WindowDc dc(splash.window);
        BitBlt(canvas->dc(), 0, 0, 560, 310, dc.get(), 0, 0, SRCCOPY);
        return canvas;
    };
    auto ordinary = shown();
    ASSERT_TRUE(Near(ordinary->At(280, 150), BackgroundAt(280, 150), 2)) << "the window cannot be read back";

    // No message is pumped after each change: the repaint comes with it.
    AnsweredScheme = YellowOnBlack();
    SendMessageW(splash.window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    auto contrast = shown();
    EXPECT_TRUE(Near(contrast->At(280, 150), Black, 0)) << "background picture";
    EXPECT_TRUE(Near(contrast->At(100, 279), Cyan, 0)) << "fill";
    EXPECT_TRUE(Near(contrast->At(400, 279), Black, 0)) << "track";
    EXPECT_TRUE(Near(contrast->At(400, 275), Yellow, 0)) << "track's outline";

    AnsweredScheme = ContrastScheme();
    SendMessageW(splash.window, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_TRUE(shown()->SameAs(*ordinary)) << "back in the ordinary scheme";
    RECT now = {};
    GetWindowRect(splash.window, &now);
    EXPECT_TRUE(EqualRect(&placed, &now)) << "the splash moved";
}

}  // namespace
