#pragma once

// A capture session over configured test sources, with its timers, messages and reports kept
// for the test to look at and its graph events pumped by the test.

#include "monitor/capture/CaptureSession.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/Headless.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace gardivo::testing {

// Timers noted by id; the test fires them.
class NotedTimers final : public TimerHost {
public:
    std::map<int, int> active; // id -> period
    bool setTimer(int id, int period_ms) override {
        active[id] = period_ms;
        return true;
    }
    void killTimer(int id) override { active.erase(id); }
    bool isActive(int id) const { return active.count(id) > 0; }
};

inline void loadOurPlugins() {
    static bool done = [] {
        gst_init(nullptr, nullptr);
        gst_registry_scan_path(gst_registry_get(), GARDIVO_PROGRAM_DIR);
        return true;
    }();
    (void)done;
}

class CaptureFixture : public ::testing::Test {
protected:
    CaptureFixture() {
        loadOurPlugins();
        m_store = std::make_unique<SettingsStore>(ProgramKind::Gardivo, m_registry, m_reporter,
                                                  m_program.dir(), m_program.file("home"));
    }
    ~CaptureFixture() override { m_session.reset(); }

    // A sources file, then a session over it (no camera, no sound card).
    CaptureSession& session(
        const std::string& sources,
        CaptureSession::DeviceOpener opener = [](const std::string&) { return nullptr; },
        std::unique_ptr<MixerBackend> mixer = nullptr) {
        writeText(m_program.file("sources.txt"), sources);
        CaptureGraph::Environment env;
        env.reporter = &m_captureReporter;
        env.settings = m_store.get();
        env.sink = &m_sink;
        env.timers = &m_timers;
        env.clock = &m_clock;
        env.interrupt = &m_interrupt;
        env.postGraphEvent = [this] { ++m_graphEvents; };
        env.freeSpace = [this](const std::string&) -> std::optional<uint64_t> {
            return m_freeBytes < 0 ? std::nullopt
                                   : std::optional<uint64_t>(static_cast<uint64_t>(m_freeBytes));
        };
        if (m_fakeNow)
            env.now_ms = [this] { return m_now_ms; };
        env.engine = [this] { return m_engine; };
        if (m_makeRoom)
            env.makeRoom = m_makeRoom;
        env.stallTime = m_stallTime;
        m_session =
            std::make_unique<CaptureSession>(env, m_program.file("sources.txt"), opener, std::move(mixer));
        m_session->setFrameSize(m_width, m_height);
        return *m_session;
    }
    // Handles the pipeline's messages until the condition holds or the time is up.
    template <typename Condition>
    bool pumpUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (m_session)
                m_session->OnGraphEvent();
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }
    // A detection engine over the session's picture, drawing on a canvas the test can read.
    DetectionEngine& useEngine() {
        m_ownEngine = std::make_unique<DetectionEngine>(*m_store, m_canvas);
        m_ownEngine->SetVideoRect(0, 0, m_width, m_height);
        m_engine = m_ownEngine.get();
        return *m_ownEngine;
    }
    bool waitForFrame(std::vector<uint8_t>& frame) {
        return pumpUntil([&] { return m_session->GrabFrame(frame); });
    }

    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    CaptureReporter m_captureReporter{m_reporter};
    std::unique_ptr<SettingsStore> m_store;
    RecordingMessageSink m_sink;
    NotedTimers m_timers;
    VirtualClock m_clock{1796634000};
    WaitInterrupt m_interrupt;
    std::atomic<int> m_graphEvents{0};
    int64_t m_freeBytes = int64_t(1) << 40;
    bool m_fakeNow = false;
    uint64_t m_now_ms = 0;
    RecordingOverlayCanvas m_canvas;
    std::unique_ptr<DetectionEngine> m_ownEngine;
    DetectionEngine* m_engine = nullptr;
    std::chrono::milliseconds m_stallTime{5000};
    std::function<void()> m_makeRoom;
    int m_width = 160;
    int m_height = 120;
    std::unique_ptr<CaptureSession> m_session;
};

} // namespace gardivo::testing
