#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/Headless.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

using namespace gardivo;
using namespace gardivo::testing;
using Call = RecordingOverlayCanvas::Call;
using Kind = RecordingOverlayCanvas::Kind;

namespace {

class RegionTest : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    SettingsStore m_store{ProgramKind::Email, m_registry, m_reporter, m_program.dir(),
                          m_program.file("home")};
    RecordingOverlayCanvas m_canvas;
    RecordingMessageSink m_sink;
    DetectionEngine m_engine{m_store, m_canvas, EngineServices{&m_sink}};

    void drag(int x1, int y1, int x2, int y2) {
        m_engine.regionButtonDown(x1, y1);
        m_engine.regionMouseMove((x1 + x2) / 2, (y1 + y2) / 2);
        m_engine.regionButtonUp(x2, y2);
    }
    std::vector<Call> lines() const {
        std::vector<Call> found;
        for (const auto& c : m_canvas.calls())
            if (c.kind == Kind::Line)
                found.push_back(c);
        return found;
    }
};

TEST_F(RegionTest, PlacingTheVideoReportsItsSizeAndResetsTheRegion) {
    m_engine.setSelectionRect({1, 2, 3, 4});
    m_engine.SetVideoRect(10, 20, 330, 260);
    EXPECT_EQ(m_engine.selectionRect(), (SelectionRectangle{10, 20, 330, 260}));
    EXPECT_EQ(m_sink.log, std::vector<std::string>{"ControlPanel WM_APP_REPORT 320 240"});
    const auto rect = m_engine.GetVideoRect();
    EXPECT_EQ(rect.first, std::make_pair(10, 20));
    EXPECT_EQ(rect.second, std::make_pair(330, 260));
}

TEST_F(RegionTest, CancelAtTheFirstQuestionChangesNothing) {
    m_reporter.queueAnswer(MessageAnswer::Cancel);
    m_engine.BeginRegionSelection();
    EXPECT_FALSE(m_engine.isRegionDragging());
    EXPECT_EQ(m_store.settings().RegionMode, 0);
    EXPECT_TRUE(m_sink.log.empty());
    EXPECT_TRUE(m_canvas.calls().empty());
    const auto asked = m_reporter.messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text,
              "Please use mouse left button to drag   \na region for Gardivo detecting.\nPlease press OK to "
              "begin to drag or \npress Cancel to skip......");
    EXPECT_EQ(asked[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(asked[0].icon, MessageIcon::Question);
}

TEST_F(RegionTest, ADragFromBottomRightToTopLeftIsConfirmedAndNormalised) {
    m_engine.BeginRegionSelection();
    EXPECT_TRUE(m_engine.isRegionDragging());
    EXPECT_EQ(m_store.settings().RegionMode, 1);
    EXPECT_EQ(m_sink.log, std::vector<std::string>{"ControlPanel script SetRegion(1)"});
    ASSERT_GE(m_canvas.calls().size(), 2u);
    EXPECT_EQ(m_canvas.calls()[0],
              (Call{Kind::Text, {0, 0, 320, 20}, kBlue, "Please use mouse to drag a region......", 16}));
    EXPECT_EQ(m_canvas.calls()[1].kind, Kind::Save);

    m_canvas.clear();
    drag(300, 200, 100, 50);
    EXPECT_EQ(m_sink.log.back(), "Screen WM_APP_REGION_DONE");
    // Every move puts the snapshot back and draws the frame anew.
    EXPECT_EQ(m_canvas.calls()[0].kind, Kind::Restore);
    EXPECT_EQ(m_canvas.calls().back(),
              (Call{Kind::Line, {301, 49, 301, 201}, kRed, "", 2})); // left side, as dragged

    m_engine.EndRegionSelection();
    EXPECT_FALSE(m_engine.isRegionDragging());
    EXPECT_EQ(m_engine.selectionRect(), (SelectionRectangle{100, 50, 300, 200}));
    EXPECT_EQ(m_reporter.messages().back().text, "\nPress Yes to confirm, press No to re-select.");
    EXPECT_EQ(m_reporter.messages().back().buttons, MessageButtons::YesNo);
    EXPECT_EQ(m_sink.log.back(), "ControlPanel WM_APP_REGION_DONE");
    EXPECT_EQ(m_canvas.calls().back(), (Call{Kind::Fill, {0, 0, 320, 240}, kKeyColour, "", 0}));
}

TEST_F(RegionTest, ThePointsAreClampedOntoThePicture) {
    m_engine.BeginRegionSelection();
    drag(-40, 500, 900, -3);
    m_engine.EndRegionSelection();
    EXPECT_EQ(m_engine.selectionRect(), (SelectionRectangle{0, 0, 320, 240}));
}

TEST_F(RegionTest, AClickWithoutMovingOrANoStartsTheDragAgain) {
    m_engine.BeginRegionSelection();
    m_engine.regionButtonDown(50, 50);
    m_engine.regionButtonUp(50, 50);
    const size_t questions = m_reporter.messages().size();
    m_canvas.clear();
    m_engine.EndRegionSelection();
    EXPECT_EQ(m_reporter.messages().size(), questions); // nothing to confirm
    EXPECT_TRUE(m_engine.isRegionDragging());
    EXPECT_EQ(m_canvas.calls(),
              (std::vector<Call>{
                  {Kind::Fill, {0, 0, 320, 240}, kKeyColour, "", 0},
                  {Kind::Text, {0, 0, 320, 240}, kBlue, "Please use mouse to drag a region......", 16}}));

    drag(10, 10, 60, 60);
    m_reporter.queueAnswer(MessageAnswer::No);
    m_engine.EndRegionSelection();
    EXPECT_TRUE(m_engine.isRegionDragging());
    EXPECT_NE(m_sink.log.back(), "ControlPanel WM_APP_REGION_DONE");
}

TEST_F(RegionTest, MouseMessagesOutsideADragAreIgnored) {
    drag(10, 10, 60, 60);
    EXPECT_EQ(m_engine.selectionRect(), (SelectionRectangle{0, 0, 320, 240}));
    EXPECT_TRUE(m_sink.log.empty());
}

TEST_F(RegionTest, TheTargetMarkerHasBracketsAndACrossOrAPlainFrame) {
    m_engine.DrawTargetMarker(100, 100, 200, 140); // 100 x 40: brackets of 8, cross arms of 4
    EXPECT_EQ(m_canvas.calls()[0], (Call{Kind::Fill, {0, 0, 320, 240}, kKeyColour, "", 0}));
    const std::vector<CanvasRect> expected = {
        {100, 100, 108, 100}, {100, 100, 100, 108}, {200, 100, 192, 100}, {200, 100, 200, 108},
        {100, 140, 108, 140}, {100, 140, 100, 132}, {200, 140, 192, 140}, {200, 140, 200, 132},
        {146, 120, 154, 120}, {150, 116, 150, 124}};
    auto drawn = lines();
    ASSERT_EQ(drawn.size(), expected.size());
    for (size_t i = 0; i < drawn.size(); ++i)
        EXPECT_EQ(drawn[i].rect, expected[i]) << i;

    m_canvas.clear();
    m_engine.DrawTargetMarker(100, 100, 200, 105); // 5 high: a plain frame
    drawn = lines();
    ASSERT_EQ(drawn.size(), 4u);
    EXPECT_EQ(drawn[0].rect, (CanvasRect{101, 101, 199, 101}));

    // A box on the picture's edges is pulled inside it.
    m_canvas.clear();
    m_engine.DrawTargetMarker(0, 0, 320, 240);
    drawn = lines();
    EXPECT_EQ(drawn[0].rect, (CanvasRect{2, 2, 2 + 47, 2}));
    EXPECT_EQ(drawn[7].rect, (CanvasRect{319, 239, 319, 239 - 47}));
}

} // namespace
