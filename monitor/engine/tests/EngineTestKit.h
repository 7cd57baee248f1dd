#pragma once

// Frames made by hand and an engine wired to recording stand-ins, for the engine's tests.

#include "monitor/capture/PixelConversionLibrary.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/engine/Headless.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace gardivo::testing {

// Hands out its frames in order; past the end it keeps giving the last one, or nothing.
class ScriptedSource final : public FrameSource {
public:
    std::vector<std::vector<uint8_t>> frames;
    size_t next = 0;
    bool connected = true;
    bool repeatLast = false;
    int state = 1;
    int width = 0, height = 0;

    bool isGrabberConnected() const override { return connected; }
    int graphState() const override { return state; }
    void setFrameSize(int w, int h) override {
        width = w;
        height = h;
    }
    bool GrabFrame(std::vector<uint8_t>& slot) override {
        if (next >= frames.size()) {
            if (!repeatLast || frames.empty())
                return false;
            slot = frames.back();
            return true;
        }
        slot = frames[next++];
        return true;
    }
};

inline std::vector<uint8_t> flatFrame(int width, int height, uint8_t luma = 100) {
    std::vector<uint8_t> f(static_cast<size_t>(width) * height * 2, 128);
    for (size_t i = 1; i < f.size(); i += 2)
        f[i] = luma;
    return f;
}

inline void setLuma(std::vector<uint8_t>& frame, int width, int x, int y, uint8_t luma) {
    frame[(static_cast<size_t>(y) * width + x) * 2 + 1] = luma;
}

// Changes `pixels` pixels of block (c, r) by `delta`.
inline void touchBlock(std::vector<uint8_t>& frame, int width, int c, int r, int pixels, int delta) {
    for (int i = 0; i < pixels; ++i) {
        const int x = c * 16 + i % 16, y = r * 16 + i / 16;
        const uint8_t old = frame[(static_cast<size_t>(y) * width + x) * 2 + 1];
        setLuma(frame, width, x, y, static_cast<uint8_t>(old + delta));
    }
}

// Every pixel of blocks c0..c1 x r0..r1 changed by delta.
inline std::vector<uint8_t> withBlocks(std::vector<uint8_t> frame, int width, int c0, int r0, int c1, int r1,
                                       int delta) {
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c)
            touchBlock(frame, width, c, r, 256, delta);
    return frame;
}

// The blue byte of the pixel at (x, y) of a 24-bit bitmap file, y counted from the top.
inline int bitmapBlue(const std::vector<uint8_t>& bmp, int x, int y) {
    const auto le32 = [&](size_t o) {
        return int32_t(uint32_t(bmp[o]) | uint32_t(bmp[o + 1]) << 8 | uint32_t(bmp[o + 2]) << 16 |
                       uint32_t(bmp[o + 3]) << 24);
    };
    const int width = le32(18), height = le32(22);
    const size_t stride = static_cast<size_t>((24 * width + 31) / 32 * 4);
    return bmp.at(54 + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3);
}

// An engine over a scripted source, with every service recorded.
class EngineFixture : public ::testing::Test {
protected:
    explicit EngineFixture(bool withModule = true) {
        if (withModule)
            std::filesystem::create_symlink(GARDIVO_PROGRAM_DIR "/libdeinterlace.so",
                                            m_program.file("libdeinterlace.so"));
        m_store = std::make_unique<SettingsStore>(ProgramKind::Gardivo, m_registry, m_reporter,
                                                  m_program.dir(), m_program.file("home"));
        m_converter = std::make_unique<PixelConversionLibrary>(m_program.dir());
    }
    // Made on first use, so that a test can change the settings the engine starts with.
    DetectionEngine& engine() {
        if (!m_engine) {
            m_engine =
                std::make_unique<DetectionEngine>(*m_store, m_canvas,
                                                  EngineServices{&m_sink, &m_timers, &m_clock, &m_recorder,
                                                                 &m_sound, &m_companions, m_converter.get()});
            m_engine->setFrameSource(&m_source);
        }
        return *m_engine;
    }
    WatchdogSettings& settings() { return m_store->settings(); }
    std::string evidence(const std::string& name) const { return m_store->evidenceDirectory() + "/" + name; }
    void runTimers(std::chrono::milliseconds span) { m_timers.runFor(engine(), span); }

    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    RecordingOverlayCanvas m_canvas;
    ScriptedSource m_source;
    VirtualClock m_clock{1796634000};
    VirtualTimers m_timers{m_clock};
    RecordingMessageSink m_sink;
    RecordingRecorder m_recorder;
    CountingSoundPlayer m_sound;
    RecordingCompanions m_companions;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<PixelConversionLibrary> m_converter;
    std::unique_ptr<DetectionEngine> m_engine;
};

} // namespace gardivo::testing
