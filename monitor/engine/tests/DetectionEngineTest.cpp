#include "EngineTestKit.h"
#include "monitor/engine/SyntheticScene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

class DetectorTest : public ::testing::Test {
protected:
    explicit DetectorTest(bool withModule = true) {
        if (withModule)
            std::filesystem::create_symlink(GARDIVO_PROGRAM_DIR "/libdeinterlace.so",
                                            m_program.file("libdeinterlace.so"));
        m_store = std::make_unique<SettingsStore>(ProgramKind::Email, m_registry, m_reporter, m_program.dir(),
                                                  m_program.file("home"));
        m_store->settings().StopRule = 1; // keep watching after a condition
        m_converter = std::make_unique<PixelConversionLibrary>(m_program.dir());
        m_engine = std::make_unique<DetectionEngine>(
            *m_store, m_canvas,
            EngineServices{&m_sink, &m_timers, &m_clock, nullptr, &m_sound, nullptr, m_converter.get()});
        m_engine->setFrameSource(&m_source);
    }
    uint32_t conditions() const { return m_engine->conditionCount(); }
    // Starts watching the way the state machine will: block map, then thresholds.
    void arm(int sensitivity) {
        m_store->settings().Sensitivity = sensitivity;
        m_engine->BuildActiveBlockMap();
        m_engine->ComputeThresholds();
    }

    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    RecordingOverlayCanvas m_canvas;
    ScriptedSource m_source;
    VirtualClock m_clock{1700000000};
    VirtualTimers m_timers{m_clock};
    RecordingMessageSink m_sink;
    CountingSoundPlayer m_sound;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PixelConversionLibrary> m_converter;
    std::unique_ptr<DetectionEngine> m_engine;
};

TEST_F(DetectorTest, StartsWithTheSmallPictureAndAWholeGrid) {
    EXPECT_TRUE(m_engine->hasConversionLibrary());
    EXPECT_EQ(m_engine->videoRect(), (VideoRectangle{0, 0, 320, 240}));
    EXPECT_EQ(m_engine->columns(), 20);
    EXPECT_EQ(m_engine->rows(), 15);
    EXPECT_EQ(m_engine->activeBlocks(), 0u);
    EXPECT_EQ(m_engine->pixelCountThreshold(), 64u);
    EXPECT_EQ(m_engine->cell(39, 29).enabled, 1);
}

TEST_F(DetectorTest, ThresholdsFollowSensitivityAndRegionSize) {
    struct Case {
        int width;
        uint32_t blocks;
        uint32_t sensitivity;
        uint32_t expected;
    };
    const Case cases[] = {
        {320, 300, 90, 11}, {640, 300, 90, 22}, {320, 300, 50, 150},  {320, 8, 50, 4},
        {320, 8, 99, 4},    {320, 5, 99, 2},    {320, 6, 10, 2},      {320, 7, 10, 4},
        {320, 10, 90, 4},   {320, 11, 90, 11},  {320, 300, 99, 2},    {320, 300, 80, 24},
        {320, 300, 89, 15}, {320, 300, 60, 80}, {320, 300, 79, 42},   {320, 300, 59, 123},
        {320, 300, 1, 297}, {640, 8, 50, 8},    {320, 1200, 30, 840},
    };
    for (const auto& c : cases) {
        m_engine->SetVideoRect(0, 0, c.width, c.width * 3 / 4);
        EXPECT_EQ(m_engine->ComputeChangedBlockThreshold(c.blocks, c.sensitivity), c.expected)
            << c.width << " px, " << c.blocks << " blocks, sensitivity " << c.sensitivity;
    }
    m_engine->SetVideoRect(0, 0, 320, 240);
    arm(90);
    EXPECT_EQ(m_engine->activeBlocks(), 300u);
    EXPECT_EQ(m_engine->pixelCountThreshold(), 60u);
    EXPECT_EQ(m_engine->lumaThreshold(), 20u);
    EXPECT_EQ(m_engine->changedBlockThreshold(), 11u);
    arm(50);
    EXPECT_EQ(m_engine->pixelCountThreshold(), 100u);
    EXPECT_EQ(m_engine->lumaThreshold(), 25u);
    EXPECT_EQ(m_engine->changedBlockThreshold(), 150u);
    arm(95);
    EXPECT_EQ(m_engine->lumaThreshold(), 15u);
    arm(60);
    EXPECT_EQ(m_engine->lumaThreshold(), 20u);
    arm(59);
    EXPECT_EQ(m_engine->lumaThreshold(), 25u);
}

TEST_F(DetectorTest, RegionEnablesBlocksWhoseCornerLiesInside) {
    m_engine->SetVideoRect(10, 20, 330, 260);
    m_store->settings().RegionMode = 1;
    // Corners at x = 10 + 16c, y = 20 + 16r. x1 = 27 cuts block 1: its corner (26) is outside.
    m_engine->setSelectionRect({27, 20, 74, 52});
    m_engine->cell(5, 5).counter = 9;
    m_engine->BuildActiveBlockMap();
    // Columns 2 (42) and 3 (58) are inside; 4 (74) is not, as x2 is exclusive. Rows 0 (20), 1 (36).
    EXPECT_EQ(m_engine->activeBlocks(), 4u);
    for (int r = 0; r < m_engine->rows(); ++r)
        for (int c = 0; c < m_engine->columns(); ++c)
            EXPECT_EQ(m_engine->cell(c, r).enabled, (c == 2 || c == 3) && r <= 1) << c << "," << r;
    EXPECT_EQ(m_engine->cell(5, 5).counter, 0);

    // Back to the whole picture: every cell enabled again.
    m_store->settings().RegionMode = 0;
    m_engine->BuildActiveBlockMap();
    EXPECT_EQ(m_engine->activeBlocks(), 300u);
    EXPECT_EQ(m_engine->cell(0, 0).enabled, 1);
}

TEST_F(DetectorTest, DraggingEitherWayGivesTheSameBlocks) {
    m_store->settings().RegionMode = 1;
    m_engine->setSelectionRect({0, 0, 100, 100});
    m_engine->BuildActiveBlockMap();
    EXPECT_EQ(m_engine->activeBlocks(), 49u); // corners 0..96 in both directions
}

TEST_F(DetectorTest, ComparisonThresholdsAreStrict) {
    const int w = 320, h = 240;
    arm(90); // luma 20, pixels 60, blocks 11
    const auto base = flatFrame(w, h);

    // A change of exactly the luma threshold counts for nothing.
    auto frame = base;
    for (int c = 0; c < 20; ++c)
        touchBlock(frame, w, c, 0, 256, 20);
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 0u);

    // Exactly 60 moved pixels leave a block unchanged; 61 change it.
    frame = base;
    touchBlock(frame, w, 0, 0, 60, 21);
    touchBlock(frame, w, 1, 0, 61, -21);
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 1u);
    EXPECT_EQ(m_engine->cell(0, 0).counter, 0);
    EXPECT_EQ(m_engine->cell(1, 0).counter, 1);

    // Exactly 11 changed blocks is no condition; 12 is.
    frame = base;
    for (int c = 0; c < 11; ++c)
        touchBlock(frame, w, c, 3, 256, 50);
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    touchBlock(frame, w, 11, 3, 256, 50);
    EXPECT_TRUE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 12u);
}

TEST_F(DetectorTest, CountersRiseWhileBlocksChangeAndDecayWhenQuiet) {
    const int w = 320, h = 240;
    arm(90);
    const auto base = flatFrame(w, h);
    auto moved = base;
    touchBlock(moved, w, 4, 4, 256, 60);
    for (int i = 0; i < 3; ++i)
        m_engine->CompareFrames(base.data(), moved.data(), 20);
    EXPECT_EQ(m_engine->cell(4, 4).counter, 3);
    m_engine->CompareFrames(base.data(), base.data(), 20);
    EXPECT_EQ(m_engine->cell(4, 4).counter, 2);
    for (int i = 0; i < 5; ++i)
        m_engine->CompareFrames(base.data(), base.data(), 20);
    EXPECT_EQ(m_engine->cell(4, 4).counter, 0); // never below zero

    // Disabled blocks are neither scanned nor counted.
    m_store->settings().RegionMode = 1;
    m_engine->setSelectionRect({100, 100, 200, 200});
    m_engine->BuildActiveBlockMap();
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), moved.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 0u);
    EXPECT_EQ(m_engine->cell(4, 4).counter, 0);
}

TEST_F(DetectorTest, RemainderPixelsBeyondTheLastWholeBlockAreIgnored) {
    const int w = 330, h = 250;
    m_engine->SetVideoRect(0, 0, w, h);
    EXPECT_EQ(m_engine->columns(), 20);
    EXPECT_EQ(m_engine->rows(), 15);
    arm(90);
    const auto base = flatFrame(w, h);
    auto frame = base;
    for (int y = 0; y < h; ++y)
        for (int x = 320; x < w; ++x)
            setLuma(frame, w, x, y, 250);
    for (int y = 240; y < h; ++y)
        for (int x = 0; x < w; ++x)
            setLuma(frame, w, x, y, 250);
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 0u);
}

TEST_F(DetectorTest, PicturesWiderThanTheGridExamineOnlyTheGrid) {
    m_engine->SetVideoRect(0, 0, 800, 600);
    EXPECT_EQ(m_engine->columns(), 40);
    EXPECT_EQ(m_engine->rows(), 30);
    arm(90);
    EXPECT_EQ(m_engine->activeBlocks(), 1200u);
    const auto base = flatFrame(800, 600);
    auto frame = base;
    touchBlock(frame, 800, 45, 0, 256, 80); // outside the grid
    EXPECT_FALSE(m_engine->CompareFrames(base.data(), frame.data(), 20));
    EXPECT_EQ(m_engine->lastChangedBlocks(), 0u);
}

TEST_F(DetectorTest, FirstTickTakesTheReferenceThenTicksCompareAgainstIt) {
    const int w = 320, h = 240;
    arm(90);
    const auto base = flatFrame(w, h);
    auto moved = base;
    for (int c = 0; c < 12; ++c)
        touchBlock(moved, w, c, 7, 256, 80);
    m_source.frames = {base, base, moved, base, moved};

    EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(m_engine->frameCount(), 1u);
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::Reference), base);
    EXPECT_EQ(conditions(), 0u);

    EXPECT_EQ(m_engine->DetectionTick(), 1); // count 1 -> FrameB
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::B), base);
    EXPECT_EQ(conditions(), 0u);
    EXPECT_EQ(m_engine->DetectionTick(), 1); // count 2 -> FrameA
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::A), moved);
    EXPECT_EQ(m_engine->frameBytes(), base.size());
    EXPECT_EQ(conditions(), 1u);
    EXPECT_EQ(m_sound.plays, 1);
    EXPECT_EQ(m_engine->frameCount(), 0u); // the next tick takes a new reference

    m_store->settings().WarningSound = 0;
    EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::Reference), base);
    EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(conditions(), 2u);
    EXPECT_EQ(m_sound.plays, 1); // no sound wanted this time

    // No frame: 0, and nothing counted.
    EXPECT_EQ(m_engine->DetectionTick(), 0);
    EXPECT_EQ(m_engine->frameCount(), 0u);
}

TEST_F(DetectorTest, TicksDrawTheStatusLabelAndTheRegionFrame) {
    m_engine->SetVideoRect(10, 20, 330, 260);
    arm(90);
    m_source.frames = {flatFrame(320, 240)};
    m_canvas.clear();
    ASSERT_EQ(m_engine->DetectionTick(), 1);
    using Call = RecordingOverlayCanvas::Call;
    using Kind = RecordingOverlayCanvas::Kind;
    const CanvasRect label{15, 21, 215, 40};
    const std::vector<Call> expected = {
        {Kind::Fill, label, kKeyColour, "", 0},         {Kind::Text, label, kRed, "Detecting......", 16},
        {Kind::Line, {11, 21, 329, 21}, kRed, "", 2},   {Kind::Line, {329, 21, 329, 259}, kRed, "", 2},
        {Kind::Line, {329, 259, 11, 259}, kRed, "", 2}, {Kind::Line, {11, 259, 11, 21}, kRed, "", 2},
    };
    EXPECT_EQ(m_canvas.calls(), expected);
}

TEST_F(DetectorTest, NoTickWithoutAWorkingGrabber) {
    m_source.frames = {flatFrame(320, 240)};
    m_source.state = FrameSource::kGraphStateBusy;
    EXPECT_EQ(m_engine->DetectionTick(), 0);
    m_source.state = 1;
    m_source.connected = false;
    EXPECT_EQ(m_engine->DetectionTick(), 0);
    EXPECT_TRUE(m_canvas.calls().empty());
    m_engine->setFrameSource(nullptr);
    EXPECT_EQ(m_engine->DetectionTick(), 0);
    EXPECT_EQ(m_engine->frameCount(), 0u);
}

TEST_F(DetectorTest, FramesOfAnotherSizeNeitherOverflowNorCompare) {
    arm(90);
    // The picture's size changed a moment ago; a frame or two still come at the old one.
    const auto intruder = withBlocks(flatFrame(320, 240), 320, 2, 2, 8, 8, 80);
    m_source.frames = {flatFrame(160, 120), flatFrame(320, 240), flatFrame(320, 240),
                       flatFrame(160, 120, 200), intruder};
    EXPECT_EQ(m_engine->DetectionTick(), 1); // a small reference
    // It cannot be compared with; the next tick takes the reference again.
    EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(m_engine->frameCount(), 0u);
    EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::Reference).size(), 320u * 240 * 2);
    EXPECT_EQ(m_engine->DetectionTick(), 1); // a small frame after a whole reference: not compared
    EXPECT_EQ(conditions(), 0u);
    EXPECT_EQ(m_engine->DetectionTick(), 1); // and the watch goes on against the right reference
    EXPECT_EQ(conditions(), 1u);
    m_engine->freeFrameBuffers();
    EXPECT_TRUE(m_engine->frame(DetectionEngine::FrameSlot::Reference).empty());
}

TEST_F(DetectorTest, ASyntheticIntruderRaisesTheAlarmOnlyOnceItMoves) {
    SyntheticScene scene(320, 240);
    m_engine->setFrameSource(&scene);
    m_engine->SetVideoRect(0, 0, 320, 240);
    arm(90);
    std::vector<size_t> alarmsAfterTick;
    for (int tick = 0; tick < 10; ++tick) {
        ASSERT_EQ(m_engine->DetectionTick(), 1);
        alarmsAfterTick.push_back(conditions());
    }
    // Four still frames: no alarm; once the square is in the picture, alarms come.
    EXPECT_EQ(alarmsAfterTick[3], 0u);
    EXPECT_GT(alarmsAfterTick[9], 0u);
}

class DetectorWithoutModuleTest : public DetectorTest {
protected:
    DetectorWithoutModuleTest() : DetectorTest(false) {}
};

TEST_F(DetectorWithoutModuleTest, WithoutTheConversionModuleNoFrameIsCounted) {
    EXPECT_FALSE(m_engine->hasConversionLibrary());
    arm(90);
    auto moved = flatFrame(320, 240, 250);
    m_source.frames = {flatFrame(320, 240), moved, moved, moved};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m_engine->DetectionTick(), 1);
    EXPECT_EQ(m_engine->frameCount(), 0u);
    EXPECT_EQ(conditions(), 0u);
    // Every grab went into the reference slot.
    EXPECT_EQ(m_engine->frame(DetectionEngine::FrameSlot::Reference), moved);
    EXPECT_TRUE(m_engine->frame(DetectionEngine::FrameSlot::A).empty());
}

TEST(ConversionModule, AModuleWithoutConvertToRgbCountsAsMissing) {
    TempDir dir;
    std::filesystem::create_symlink(GARDIVO_TEST_MODULE_WITHOUT_ENTRY, dir.file("libdeinterlace.so"));
    PixelConversionLibrary library(dir.dir());
    EXPECT_FALSE(library.isLoaded());
    const auto header = PixelConversionLibrary::bitmapHeader(3, 2);
    EXPECT_EQ(header.biSizeImage, 24u); // 9 bytes a row, padded to 12
    std::vector<uint8_t> out(24), in(12);
    EXPECT_FALSE(library.convertToRgb(header, out.data(), in.data()));
}

// The block kernels agree with each other on random blocks, thresholds and strides.
TEST(BlockKernels, SimdKernelsMatchTheScalarRule) {
    std::mt19937 rng(5);
    std::vector<blockcompare::BlockKernel> kernels = {blockcompare::kernelFor(SimdLevel::Scalar)};
    if (detectSimdLevel() >= SimdLevel::Sse2)
        kernels.push_back(blockcompare::kernelFor(SimdLevel::Sse2));
    if (detectSimdLevel() >= SimdLevel::Avx2)
        kernels.push_back(blockcompare::kernelFor(SimdLevel::Avx2));
    for (int trial = 0; trial < 4000; ++trial) {
        const size_t rowBytes = 32 + 2 * (rng() % 40);
        std::vector<uint8_t> p(rowBytes * 16), q(rowBytes * 16);
        const int spread = 1 + static_cast<int>(rng() % 80);
        for (size_t i = 0; i < p.size(); ++i) {
            p[i] = static_cast<uint8_t>(rng());
            q[i] = static_cast<uint8_t>(
                std::clamp(p[i] + static_cast<int>(rng() % (2 * spread + 1)) - spread, 0, 255));
        }
        const uint32_t luma = rng() % 4 == 0 ? 255 + rng() % 3 : rng() % 60;
        const uint32_t pixels = rng() % 260;
        const bool expected = kernels[0](p.data(), q.data(), rowBytes, luma, pixels);
        for (size_t k = 1; k < kernels.size(); ++k)
            ASSERT_EQ(kernels[k](p.data(), q.data(), rowBytes, luma, pixels), expected)
                << "kernel " << k << " luma " << luma << " pixels " << pixels;
    }
}

} // namespace
