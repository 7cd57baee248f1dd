// A lamp switched on or off is no intruder; the figure that comes in after it, or with it, is.
// The Test Pattern's room is handed to the engine at the time of its virtual clock.

#include "EngineTestKit.h"

#include "monitor/capture/testsrc/SceneFrameSource.h"

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

constexpr double kNever = 1e6;

class LightingRule : public EngineFixture {
protected:
    // Watches the room for the given time and returns the conditions raised meanwhile.
    uint32_t watch(const TestPatternScene::Timing& timing, std::chrono::milliseconds span,
                   int sensitivity = 90) {
        const uint32_t before = engine().conditionCount();
        m_lightingBefore = engine().lightingChanges();
        settings().Sensitivity = sensitivity;
        settings().StopRule = 1; // watching goes on after a condition
        settings().TracingMode = 0;
        settings().ActionFlags = 0;
        SceneFrameSource source(m_clock, timing);
        engine().setFrameSource(&source);
        engine().SetVideoRect(0, 0, 320, 240);
        engine().StartWatching();
        runTimers(span);
        engine().StopWatching(true);
        engine().setFrameSource(nullptr);
        return engine().conditionCount() - before;
    }
    uint32_t lightingChanges() { return engine().lightingChanges() - m_lightingBefore; }
    static TestPatternScene::Timing lamp(double on, double off, double figure = kNever, double gain = 1.35) {
        TestPatternScene::Timing t;
        t.stillSeconds = figure;
        t.moveSeconds = 1.5;
        t.loop = false;
        t.lampOnSeconds = on;
        t.lampOffSeconds = off;
        t.lampGain = gain;
        return t;
    }
    uint32_t m_lightingBefore = 0;
};

TEST_F(LightingRule, ALampSwitchedOnAndOffTakesANewReferenceAndRaisesNothing) {
    EXPECT_EQ(watch(lamp(2.0, 5.0), 8s), 0u);
    EXPECT_EQ(lightingChanges(), 2u);
    // A lamp that dims the room (a cloud) is a change of light as well.
    EXPECT_EQ(watch(lamp(1.0, kNever, kNever, 0.75), 4s), 0u);
}

TEST_F(LightingRule, TheFigureASecondAfterTheLampOrWithItIsAnAlarm) {
    EXPECT_GE(watch(lamp(2.0, kNever, 3.0), 6s), 1u);
    EXPECT_EQ(lightingChanges(), 1u);
    // Coming in at the moment the lamp goes on: what light does not explain is still seen, if
    // not at once then as the figure walks on.
    EXPECT_GE(watch(lamp(2.0, kNever, 2.0), 6s), 1u);
}

TEST_F(LightingRule, WithTheRuleOffTheLampIsAnAlarm) {
    EvidenceOptions options;
    options.lightingRule = false;
    m_store->setEvidenceOptions(options);
    EXPECT_GE(watch(lamp(2.0, kNever), 4s), 1u);
    EXPECT_EQ(lightingChanges(), 0u);
}

TEST_F(LightingRule, AFigureAloneIsNeverTakenForLight) {
    // The figure fills the picture's middle; however many blocks it changes, they are not an even
    // shift of brightness.
    EXPECT_GE(watch(lamp(kNever, kNever, 1.0), 4s, 95), 1u);
    EXPECT_EQ(lightingChanges(), 0u);
}

} // namespace
