#pragma once

// The engine's services without any window: a virtual clock, timers fired in order of time, and
// a sink that keeps every message. The console monitor runs on them, and so do the tests.

#include "DetectionEngine.h"
#include "EngineServices.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace gardivo {

// Time that only moves when someone sleeps or the timer loop advances it.
class VirtualClock final : public EngineClock {
public:
    explicit VirtualClock(std::time_t start) : m_start(start) {}
    std::tm localTime() override;
    // An interrupted wait takes no time at all.
    bool sleep(std::chrono::milliseconds duration, WaitInterrupt& interrupt) override {
        if (interrupt.isInterrupted())
            return false;
        m_elapsed += duration;
        return true;
    }
    void advance(std::chrono::milliseconds duration) { m_elapsed += duration; }
    std::chrono::milliseconds elapsed() const { return m_elapsed; }

private:
    std::time_t m_start;
    std::chrono::milliseconds m_elapsed{0};
};

// Timers by id, fired by runFor() in the order they fall due.
class VirtualTimers final : public TimerHost {
public:
    explicit VirtualTimers(VirtualClock& clock) : m_clock(clock) {}
    bool setTimer(int id, int period_ms) override;
    void killTimer(int id) override { m_timers.erase(id); }
    bool isActive(int id) const { return m_timers.count(id) > 0; }
    int period(int id) const;
    // Refuse to create timers from now on (to try the engine's failure path).
    void failNextTimers(bool fail) { m_fail = fail; }
    // Advances the clock by `duration`, firing the timers that fall due on the engine in order.
    // Returns the number of ticks fired.
    int runFor(DetectionEngine& engine, std::chrono::milliseconds duration);

private:
    struct Timer {
        int period_ms;
        std::chrono::milliseconds due;
    };
    VirtualClock& m_clock;
    std::map<int, Timer> m_timers;
    bool m_fail = false;
};

// Keeps every message, script and window request, in order, as readable lines.
class RecordingMessageSink final : public MessageSink {
public:
    std::set<std::string> windows = {"ControlPanel", "Screen"};
    std::vector<std::string> log;

    bool windowExists(const std::string& name) const override { return windows.count(name) > 0; }
    void postMessage(const std::string& window, uint32_t message, intptr_t wParam, intptr_t lParam) override;
    void runScript(const std::string& window, const std::string& script) override {
        log.push_back(window + " script " + script);
    }
    void minimizeToTray() override { log.push_back("tray"); }
    void openTracingBox() override { log.push_back("open TracingBox"); }
    void closeTracingBox() override { log.push_back("close TracingBox"); }
    // The entries naming this message, e.g. "ControlPanel WM_APP_MODE_CHANGED".
    std::vector<std::string> messages(const std::string& name) const;
};

// Notes each clip asked for, for tests that do not run the capture pipeline.
class RecordingRecorder final : public Recorder {
public:
    std::vector<std::string> paths;
    bool busy = false;
    bool refuse = false;
    bool isRecording() const override { return busy; }
    bool StartRecording(const std::string& path) override {
        if (refuse || busy)
            return false;
        paths.push_back(path);
        return true;
    }
};

// Notes the companion programs an alarm starts, in order.
class RecordingCompanions final : public Companions {
public:
    std::vector<std::string> calls;
    bool StartUserProgram(const std::string& commandLine) override {
        calls.push_back("program " + commandLine);
        return true;
    }
    bool StartEmail(bool withCondition, int conditionNumber) override {
        calls.push_back(withCondition ? "email " + std::to_string(conditionNumber) : "email");
        return true;
    }
    bool StartDial(bool withCondition, int conditionNumber) override {
        calls.push_back(withCondition ? "dial " + std::to_string(conditionNumber) : "dial");
        return true;
    }
};

class CountingSoundPlayer final : public SoundPlayer {
public:
    int plays = 0;
    int stops = 0;
    bool play() override {
        ++plays;
        return true;
    }
    void stop() override { ++stops; }
};

const char* messageName(uint32_t message);

} // namespace gardivo
