#pragma once

// What the detection engine needs from the rest of the program, as interfaces: the windows it
// posts to, its timers, the clock, the recorder and the warning sound. The desktop program
// provides the real ones; the tests and the console monitor provide their own.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace gardivo {

// Messages to the skin windows by registered name, and the few window actions the engine asks for.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual bool windowExists(const std::string& name) const = 0;
    virtual void postMessage(const std::string& window, uint32_t message, intptr_t wParam,
                             intptr_t lParam) = 0;
    virtual void runScript(const std::string& window, const std::string& script) = 0;
    // Hide the main window and show the tray icon (tip "Tavrin Gardivo").
    virtual void minimizeToTray() = 0;
    virtual void openTracingBox() = 0;
    virtual void closeTracingBox() = 0;
};

// Timers of the engine's thread, by id.
class TimerHost {
public:
    virtual ~TimerHost() = default;
    // (Re)starts timer id with the period; false when it cannot be created.
    virtual bool setTimer(int id, int period_ms) = 0;
    virtual void killTimer(int id) = 0;
};

// Wall-clock time for names and remarks, and the blocking waits of the engine thread. Tests
// advance a virtual clock instead of sleeping.
class EngineClock {
public:
    virtual ~EngineClock() = default;
    virtual std::tm localTime() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public EngineClock {
public:
    std::tm localTime() override;
    void sleep(std::chrono::milliseconds duration) override;
};

// Starts an alarm clip.
class Recorder {
public:
    virtual ~Recorder() = default;
    virtual bool StartRecording(const std::string& path) = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Starts the warning sound without waiting for it; false when it cannot be played.
    virtual bool play() = 0;
    virtual void stop() = 0;
};

// A manual-reset event: the tracing step waits while the Tracing Box holds it reset.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled) : m_signalled(signalled) {}
    void set() {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_changed.notify_all();
    }
    void reset() {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_signalled; });
    }
    bool isSet() const {
        std::lock_guard lock(m_mutex);
        return m_signalled;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;
};

} // namespace gardivo
