#pragma once

// What the detection engine needs from the rest of the program, as interfaces: the windows it
// posts to, its timers, the clock, the recorder, the warning sound, the companion programs and
// the pixel conversion module. The desktop program provides the real ones; the tests and the
// console monitor provide their own.

#include "deinterlace/deinterlace.h"
#include "monitor/messages/MessageSink.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace gardivo {

// Timers of the engine's thread, by id.
class TimerHost {
public:
    virtual ~TimerHost() = default;
    // (Re)starts timer id with the period; false when it cannot be created.
    virtual bool setTimer(int id, int period_ms) = 0;
    virtual void killTimer(int id) = 0;
};

// Lets another thread cut short the engine thread's blocking waits (the start delay, the 500 ms
// pauses): a Stop or the end of the program must not wait for them. Thread-safe.
class WaitInterrupt {
public:
    void interrupt() {
        {
            std::lock_guard lock(m_mutex);
            m_interrupted = true;
        }
        m_changed.notify_all();
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_interrupted = false;
    }
    bool isInterrupted() const {
        std::lock_guard lock(m_mutex);
        return m_interrupted;
    }
    // Waits the duration unless interrupted; true when the whole duration passed.
    bool waitFor(std::chrono::milliseconds duration) {
        std::unique_lock lock(m_mutex);
        return !m_changed.wait_for(lock, duration, [this] { return m_interrupted; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_interrupted = false;
};

// Wall-clock time for names and remarks, and the blocking waits of the engine thread. Tests
// advance a virtual clock instead of sleeping.
class EngineClock {
public:
    virtual ~EngineClock() = default;
    virtual std::tm localTime() = 0;
    // Waits unless the wait is interrupted; true when the whole duration passed.
    virtual bool sleep(std::chrono::milliseconds duration, WaitInterrupt& interrupt) = 0;
};

class SystemClock final : public EngineClock {
public:
    std::tm localTime() override;
    bool sleep(std::chrono::milliseconds duration, WaitInterrupt& interrupt) override {
        return interrupt.waitFor(duration);
    }
};

// What the engine did, for those outside the machine who follow it (MQTT, off-site copies).
struct EngineEvent {
    enum class Kind { Condition, Release, Reset, Mode };
    Kind kind = Kind::Mode;
    std::string time;        // "YYYY/MM/DD hh:mm:ss"
    std::string group;       // the watching run
    std::string description; // "Condition001"
    std::string remark;
    std::string imagePath; // the alarm bitmap, or the reset's picture
    std::string videoPath; // the clip being written, if any
    std::string mode;      // the mode after the event ("StandBy", "WatchDog", "Tracing")
};

inline const char* eventKindName(EngineEvent::Kind kind) {
    switch (kind) {
    case EngineEvent::Kind::Condition:
        return "condition";
    case EngineEvent::Kind::Release:
        return "release";
    case EngineEvent::Kind::Reset:
        return "reset";
    default:
        return "mode";
    }
}

// Starts an alarm clip.
class Recorder {
public:
    virtual ~Recorder() = default;
    // While a clip is being written no other can start.
    virtual bool isRecording() const = 0;
    // False when the clip could not be started; nothing was changed then.
    virtual bool StartRecording(const std::string& path) = 0;
    // Whether the detector watches (a clip may then begin with the seconds before its alarm).
    virtual void keepRecentFrames(bool /*watching*/) {}
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Starts the warning sound without waiting for it; false when it cannot be played.
    virtual bool play() = 0;
    virtual void stop() = 0;
};

// The programs an alarm starts: the user's own, the alert e-mail sender and the dialler.
class Companions {
public:
    virtual ~Companions() = default;
    // Runs the stored command line; its end is not observed.
    virtual bool StartUserProgram(const std::string& commandLine) = 0;
    // conditionNumber is passed when withCondition is set.
    virtual bool StartEmail(bool withCondition, int conditionNumber) = 0;
    virtual bool StartDial(bool withCondition, int conditionNumber) = 0;
};

// The pixel conversion module: UYVY pictures into the rows of a 24-bit bitmap.
class PixelConverter {
public:
    virtual ~PixelConverter() = default;
    virtual bool isLoaded() const = 0;
    // Converts a UYVY picture into bottom-up BGR rows for the header; false without the module.
    virtual bool convertToRgb(const GardivoBitmapInfoHeader& header, uint8_t* destination,
                              const uint8_t* source) const = 0;
};

// The header of a width x height 24-bit bottom-up bitmap, image size included.
inline GardivoBitmapInfoHeader bitmapHeaderFor(int width, int height) {
    GardivoBitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0; // BI_RGB
    const uint32_t stride = static_cast<uint32_t>(((24 * width + 31) & ~31) / 8);
    h.biSizeImage = stride * static_cast<uint32_t>(height);
    return h;
}

// The file and information headers (54 bytes, little-endian) that begin a bitmap file of a
// width x height 24-bit bottom-up picture.
std::array<uint8_t, 54> bitmapFileHeaders(int width, int height);

// The PauseTracing event: reset while the Tracing Box or the capture side works on the picture,
// set again when it is done. The tracing step skips its turn while it is reset rather than wait:
// the one holding it may need the engine thread. Any thread may set or reset it.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled) : m_signalled(signalled) {}
    void set() { m_signalled = true; }
    void reset() { m_signalled = false; }
    bool isSet() const { return m_signalled; }

private:
    std::atomic<bool> m_signalled;
};

} // namespace gardivo
