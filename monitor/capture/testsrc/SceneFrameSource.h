#pragma once

// The Test Pattern's room handed to the detection engine directly, at the time of a virtual
// clock, without a pipeline: for measuring the detector over many runs in little time. The
// room's time starts when the source is made.

#include "TestPatternScene.h"
#include "monitor/engine/FrameSource.h"
#include "monitor/engine/Headless.h"

namespace gardivo {

class SceneFrameSource final : public FrameSource {
public:
    SceneFrameSource(const VirtualClock& clock, TestPatternScene::Timing timing)
        : m_clock(clock), m_timing(timing), m_start(clock.elapsed()) {}

    bool isGrabberConnected() const override { return true; }
    int graphState() const override { return 1; }
    void setFrameSize(int width, int height) override {
        if (!m_scene || m_scene->width() != width || m_scene->height() != height)
            m_scene = std::make_unique<TestPatternScene>(width, height, m_timing);
    }
    bool GrabFrame(std::vector<uint8_t>& slot) override {
        if (!m_scene)
            return false;
        const double seconds = static_cast<double>((m_clock.elapsed() - m_start).count()) / 1000.0;
        slot.resize(static_cast<size_t>(m_scene->width()) * static_cast<size_t>(m_scene->height()) * 2);
        // At 30 pictures a second, for the sensor noise.
        m_scene->render(seconds, static_cast<uint64_t>(seconds * 30), slot.data());
        return true;
    }
    const TestPatternScene* scene() const { return m_scene.get(); }

private:
    const VirtualClock& m_clock;
    TestPatternScene::Timing m_timing;
    std::chrono::milliseconds m_start;
    std::unique_ptr<TestPatternScene> m_scene;
};

} // namespace gardivo
