#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "splash/paint.h"
#include "splash/progress.h"
#include "splash/taskbar_progress.h"
#include "splash/window_paint.h"

namespace {

TEST(PercentText, RoundsHalfUpAndClamps)
{
    EXPECT_EQ(L"33%", PercentText(ProgressRatio(1, 3)));
    EXPECT_EQ(L"67%", PercentText(ProgressRatio(2, 3)));
    EXPECT_EQ(L"100%", PercentText(ProgressRatio(199, 200)));  // 99.5 + 0.5 reaches 100
    EXPECT_EQ(L"0%", PercentText(ProgressRatio(1, 201)));
    EXPECT_EQ(L"100%", PercentText(ProgressRatio(5000, 4000)));
    EXPECT_EQ(L"0%", PercentText(ProgressRatio(12345, 0)));  // no length from the server
    EXPECT_EQ(L"0%", PercentText(ProgressRatio(0, 0)));
}

TEST(ProgressRatio, StaysWithinZeroAndOne)
{
    EXPECT_DOUBLE_EQ(0.0, ProgressRatio(7, 0));
    EXPECT_DOUBLE_EQ(0.25, ProgressRatio(1, 4));
    EXPECT_DOUBLE_EQ(1.0, ProgressRatio(UINT64_MAX, 1));
    EXPECT_DOUBLE_EQ(1.0, ProgressRatio(4, 4));
}

// Each field at both ends of its range comes back as it went in; past them it
// comes back at the end it passed, never wrapped into another number.
TEST(BarPlace, RoundTripsAtItsLimitsAndClampsBeyond)
{
    auto roundTrip = [](int x, int y, int width, int height, int dpi) {
        const BarGeometry back = UnpackBarPlace(PackBarPlace(BarGeometry{x, y, width, height, x + width, 0, dpi}));
        return std::make_tuple(back.x, back.y, back.width, back.height, back.right, back.dpi);
    };
    EXPECT_EQ(std::make_tuple(-4096, 4095, -4096, 4095, -8192, 4095), roundTrip(-4096, 4095, -4096, 4095, 4095));
    EXPECT_EQ(std::make_tuple(4095, -4096, 4095, -4096, 8190, 1), roundTrip(4095, -4096, 4095, -4096, 1));
    EXPECT_EQ(std::make_tuple(4095, -4096, 4095, -4096, 8190, 4095),
              roundTrip(4096, -4097, 1 << 20, INT_MIN, 4096));
    // A painted word is never the "no paint yet" 0, even for a bar at 0 with no DPI.
    EXPECT_EQ(std::make_tuple(0, 0, 0, 0, 0, 1), roundTrip(0, 0, 0, 0, 0));
}

// The taskbar button shows what the splash shows, turns to the error state
// with the notice whatever the counts, and shows nothing while the window is
// hidden, notice or not.
TEST(TaskbarState, FollowsTheSplashAndTheNotice)
{
    struct Case {
        bool shown;
        bool failed;
        std::uint64_t received;
        std::uint64_t total;
        TaskbarShow show;
        int percent;
    };
    const Case cases[] = {
        {true, false, 0, 0, TaskbarShow::Indeterminate, 0},
        {true, false, 5000, 0, TaskbarShow::Indeterminate, 0},  // no length from the server
        {true, false, 0, 1000, TaskbarShow::Fraction, 0},
        {true, false, 333, 1000, TaskbarShow::Fraction, 33},
        {true, true, 333, 1000, TaskbarShow::Error, 33},
        {true, true, 0, 1000, TaskbarShow::Error, 100},  // an empty red bar would not be seen
        {true, true, 5000, 0, TaskbarShow::Error, 100},
        {false, false, 333, 1000, TaskbarShow::Nothing, 0},
        {false, true, 333, 1000, TaskbarShow::Nothing, 0},
    };
    for (const Case& c : cases) {
        const TaskbarState state = TaskbarStateFor(c.shown, c.failed, c.received, c.total);
        EXPECT_EQ(std::make_tuple(int(c.show), c.percent), std::make_tuple(int(state.show), state.percent))
            << "shown " << c.shown << ", failed " << c.failed << ", " << c.received << " of " << c.total;
    }
}

TEST(SpeedText, KilobytesBelow1024ThenMegabytes)
{
    EXPECT_EQ(L"0 KB/s", SpeedText(0.0));
    EXPECT_EQ(L"0 KB/s", SpeedText(-5.0));
    EXPECT_EQ(L"0 KB/s", SpeedText(511));
    EXPECT_EQ(L"1 KB/s", SpeedText(513));
    EXPECT_EQ(L"98 KB/s", SpeedText(100000));
    EXPECT_EQ(L"1024 KB/s", SpeedText(1048575));  // just under the threshold, rounded by the format
    EXPECT_EQ(L"1.00 MB/s", SpeedText(1048576));
    EXPECT_EQ(L"4.77 MB/s", SpeedText(5000000));
    EXPECT_EQ(L"775 KB/s", SpeedText(793446.4));
}

TEST(RecordProgress, FirstCallSetsTheBaselineOnly)
{
    DownloadProgressState state;
    state.bytesPerSecond = 42.0;  // whatever was there, the first call starts from zero
    RecordProgress(state, 8192, 65536, 10000);
    EXPECT_EQ(8192u, state.receivedBytes.load());
    EXPECT_EQ(65536u, state.totalBytes.load());
    EXPECT_EQ(0.0, state.bytesPerSecond.load());
    EXPECT_EQ(10000u, state.lastSampleTick.load());
    EXPECT_EQ(8192u, state.lastSampleBytes.load());
    EXPECT_EQ(L"0 KB/s", SpeedText(state.bytesPerSecond.load()));
}

TEST(RecordProgress, SamplesAtMostOncePer1000Ms)
{
    DownloadProgressState state;
    RecordProgress(state, 8192, 2000000, 10000);

    // 999 ms after the baseline: counts follow, the speed and the sample do not.
    RecordProgress(state, 500000, 2000000, 10999);
    EXPECT_EQ(500000u, state.receivedBytes.load());
    EXPECT_EQ(0.0, state.bytesPerSecond.load());
    EXPECT_EQ(10000u, state.lastSampleTick.load());
    EXPECT_EQ(8192u, state.lastSampleBytes.load());

    // The worked example: 991808 bytes over 1.25 s.
    RecordProgress(state, 1000000, 2000000, 11250);
    EXPECT_DOUBLE_EQ(793446.4, state.bytesPerSecond.load());
    EXPECT_EQ(L"775 KB/s", SpeedText(state.bytesPerSecond.load()));
    EXPECT_EQ(11250u, state.lastSampleTick.load());
    EXPECT_EQ(1000000u, state.lastSampleBytes.load());

    // Two calls 999 ms apart from the new sample leave the speed alone...
    RecordProgress(state, 1100000, 2000000, 11800);
    RecordProgress(state, 1200000, 2000000, 12249);
    EXPECT_DOUBLE_EQ(793446.4, state.bytesPerSecond.load());
    // ...and exactly 1000 ms after it the interval is measured from the sample.
    RecordProgress(state, 2000000, 2000000, 12250);
    EXPECT_DOUBLE_EQ(1000000.0, state.bytesPerSecond.load());
    EXPECT_EQ(2000000u, state.receivedBytes.load());
}

TEST(RecordProgress, SpeedStaysAfterTheLastCall)
{
    DownloadProgressState state;
    RecordProgress(state, 0, 0, 5000);
    RecordProgress(state, 3000, 0, 7000);  // no length: the speed still works
    EXPECT_DOUBLE_EQ(1500.0, state.bytesPerSecond.load());
    RecordProgress(state, 3000, 0, 7001);
    EXPECT_DOUBLE_EQ(1500.0, state.bytesPerSecond.load());
    EXPECT_EQ(L"0%", PercentText(ProgressRatio(state.receivedBytes, state.totalBytes)));
}

TEST(RecordProgress, AStartOverMeasuresFromTheNewCount)
{
    // A server that starts the file over sends the count back towards 0,
    // within a second of the last sample and past it.
    DownloadProgressState state;
    RecordProgress(state, 8192, 50000, 10000);
    RecordProgress(state, 20000, 50000, 11000);
    EXPECT_DOUBLE_EQ(11808.0, state.bytesPerSecond.load());
    RecordProgress(state, 8192, 50000, 11500);
    RecordProgress(state, 16384, 50000, 12000);
    EXPECT_DOUBLE_EQ(11808.0, state.bytesPerSecond.load());
    EXPECT_EQ(16384u, state.receivedBytes.load());
    RecordProgress(state, 40960, 50000, 12500);
    EXPECT_DOUBLE_EQ(32768.0, state.bytesPerSecond.load());

    RecordProgress(state, 8192, 50000, 14000);
    EXPECT_DOUBLE_EQ(32768.0, state.bytesPerSecond.load());
    RecordProgress(state, 24576, 50000, 15000);
    EXPECT_DOUBLE_EQ(16384.0, state.bytesPerSecond.load());
    EXPECT_EQ(L"16 KB/s", SpeedText(state.bytesPerSecond.load()));
}

TEST(ProgressCallback, RecordsIntoTheSharedStateAndInvalidatesTheWindowThenTheProgressArea)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    // Start from a validated window so the update region can only come from the callback.
    UpdateWindow(window);
    ValidateRect(window, nullptr);
    RECT update;
    ASSERT_FALSE(GetUpdateRect(window, &update, FALSE));

    // Other tests in this process have already fed the shared state.
    DownloadProgress.lastSampleTick = 0;
    DownloadProgress.bytesPerSecond = 0.0;
    DownloadProgress.barPlace = 0;
    DownloadProgress.paintRequest = PaintIdle;
    ProgressCallback callback = MakeProgressCallback(window);
    ASSERT_TRUE(callback);
    callback(1234, 5678);
    EXPECT_EQ(1234u, DownloadProgress.receivedBytes.load());
    EXPECT_EQ(5678u, DownloadProgress.totalBytes.load());
    EXPECT_NE(0u, DownloadProgress.lastSampleTick.load());
    EXPECT_EQ(1234u, DownloadProgress.lastSampleBytes.load());

    // Before any paint has placed the bar, the whole client area is marked for repaint...
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    EXPECT_EQ(0, update.left);
    EXPECT_EQ(0, update.top);
    EXPECT_EQ(200, update.right);
    EXPECT_EQ(100, update.bottom);

    // Until a paint has read the counts, a further step asks for nothing more:
    // the paint on its way will show it.
    ValidateRect(window, nullptr);
    const BarGeometry bar = ComputeBarGeometry(RECT{0, 0, 200, 100}, false, 0, 0, 0.0);
    DownloadProgress.barPlace = PackBarPlace(bar);
    callback(2345, 5678);
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));

    // ...after one, only the bar and its texts.
    DownloadProgress.paintRequest = PaintIdle;  // as the paint clock leaves it
    callback(5678, 5678);
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    const RECT area = ProgressArea(bar);
    EXPECT_TRUE(EqualRect(&area, &update)) << update.left << "," << update.top << " " << update.right << ","
                                           << update.bottom;
    EXPECT_LT(area.bottom - area.top, 100);
    DestroyWindow(window);
}

TEST(ProgressCallback, AtTwiceTheScaleAsksForTheProgressAreaTwiceAsLarge)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 1120, 620, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    UpdateWindow(window);
    ValidateRect(window, nullptr);
    DownloadProgress.lastSampleTick = 0;
    DownloadProgress.paintRequest = PaintIdle;
    // As a paint at 192 DPI hands the bar over: 960 x 16 at (80, 550).
    DownloadProgress.barPlace = PackBarPlace(ComputeBarGeometry(RECT{0, 0, 1120, 620}, true, 480, 8, 0.0, 192));
    MakeProgressCallback(window)(1234, 5678);
    RECT update;
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    // The texts stand 8 above the bar and are 20 high at 96 DPI: 56 above it here.
    EXPECT_EQ((std::vector<LONG>{80, 494, 1040, 566}),
              (std::vector<LONG>{update.left, update.top, update.right, update.bottom}));
    DestroyWindow(window);
}

// What the splash shows, read from the state as the paint reads it.
struct Frame {
    std::wstring percent;
    int fillWidth;
    std::wstring speed;
    bool operator<(const Frame& other) const
    {
        return std::tie(percent, fillWidth, speed) < std::tie(other.percent, other.fillWidth, other.speed);
    }
    bool operator==(const Frame& other) const { return !(*this < other) && !(other < *this); }
};

TEST(ProgressCallback, AsksToRepaintEachShownStateAndTheLastNotEachChunk)
{
    const RECT client = {0, 0, 560, 310};
    const int trackWidth = 480;  // the shipped track picture's
    const int trackHeight = 8;
    auto painted = [&](const DownloadProgressState& state) {
        SplashProgress progress = ReadSplashProgress(state);
        return Frame{progress.percentText,
                     ComputeBarGeometry(client, true, trackWidth, trackHeight, progress.ratio).fillWidth,
                     progress.speedText};
    };

    struct Body {
        std::uint64_t size;
        bool announced;  // a Content-Length came with it
    };
    for (Body body : {Body{256ull << 20, true}, Body{24ull << 20, false}}) {
        SCOPED_TRACE(body.announced ? "256 MiB with a length" : "24 MiB without a length");
        DownloadProgressState state;
        // As the window's first paint leaves it.
        state.barPlace = PackBarPlace(ComputeBarGeometry(client, true, trackWidth, trackHeight, 0.0));
        std::uint64_t clock = 7000;
        std::vector<Frame> requested;
        ProgressCallback callback =
            MakeProgressCallback(state, [&] { return clock; }, [&] { requested.push_back(painted(state)); });

        std::vector<Frame> shown;  // each distinct frame once, in order
        int samples = 0;
        for (std::uint64_t received = 8192; received <= body.size; received += 8192) {
            // 1, 2 or 3 ms a chunk in turns of 1000 chunks, so the speed text
            // changes between samples, and a stall before the last chunk, so
            // the last call takes a sample of its own and shows a state no
            // earlier call showed.
            clock += received == body.size ? 1500 : 1 + (received / 8192 / 1000) % 3;
            std::uint64_t sampledBefore = state.lastSampleTick;
            callback(received, body.announced ? body.size : 0);
            samples += state.lastSampleTick != sampledBefore;
            Frame frame = painted(state);
            if (shown.empty() || !(shown.back() == frame))
                shown.push_back(frame);
        }

        // One request per change of what is shown, plus at most one per speed
        // sample that left the speed text as it was: not one per chunk.
        EXPECT_LE(requested.size(), shown.size() + samples);
        std::vector<Frame> missing;
        std::vector<Frame> asked = requested;
        std::sort(asked.begin(), asked.end());
        for (const Frame& frame : shown)
            if (!std::binary_search(asked.begin(), asked.end(), frame))
                missing.push_back(frame);
        EXPECT_TRUE(missing.empty()) << missing.size() << " of " << shown.size()
                                     << " shown states never asked for, the first at fill "
                                     << (missing.empty() ? 0 : missing.front().fillWidth);
        ASSERT_FALSE(requested.empty());
        EXPECT_TRUE(requested.back() == shown.back()) << "the last state is the last one asked for";
    }
}

}  // namespace
