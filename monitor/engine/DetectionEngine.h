#pragma once

#include "BlockCompare.h"
#include "EngineServices.h"
#include "FrameSource.h"
#include "OverlayCanvas.h"
#include "monitor/history/HistoryStore.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace gardivo {

struct VideoRectangle {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const VideoRectangle&) const = default;
};

struct SelectionRectangle {
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
    bool operator==(const SelectionRectangle&) const = default;
};

struct BlockCell {
    int32_t counter = 0; // how often the block was seen changed, less one per quiet look
    int32_t enabled = 1; // inside the detection region
    int32_t mark = 0;    // used while tracing a target
};

// Everything the engine calls out to; any of them may be missing (the engine then skips that
// step), except the clock, which defaults to the system's. Without a loaded pixel converter no
// frame is counted and no bitmap is written, as without the conversion module.
struct EngineServices {
    MessageSink* sink = nullptr;
    TimerHost* timers = nullptr;
    EngineClock* clock = nullptr;
    Recorder* recorder = nullptr;
    SoundPlayer* sound = nullptr;
    Companions* companions = nullptr;
    PixelConverter* converter = nullptr;
};

// Gardivo's one detection engine: the motion detector, the alarm and tracing state machine, the
// evidence and alarm actions, and the drawing over the video. Everything runs on the engine
// thread; only the pause event is shared with the Tracing Box.
class DetectionEngine {
public:
    static constexpr int kGridColumns = 40;
    static constexpr int kGridRows = 30;
    static constexpr int kBlockSize = 16;
    static constexpr int kTimerAlarmCode = 1004;
    static constexpr int kConditionAlarmCode = 1100;
    static constexpr int kDetectionTimer = 2;
    static constexpr int kTracingTimer = 3;
    static constexpr int kRingSlots = 101; // slot 0 is never used

    enum class FrameSlot { Reference, A, B };

    DetectionEngine(SettingsStore& settings, OverlayCanvas& canvas, EngineServices services = {});
    ~DetectionEngine();
    DetectionEngine(const DetectionEngine&) = delete;
    DetectionEngine& operator=(const DetectionEngine&) = delete;

    void setFrameSource(FrameSource* source) { m_source = source; }
    FrameSource* frameSource() const { return m_source; }

    // --- video placement and region selection ---

    // Places the video picture in the window; the frame size follows it and the detection region
    // becomes the whole picture again. The main page is told the picture size.
    void SetVideoRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
    std::pair<std::pair<int32_t, int32_t>, std::pair<int32_t, int32_t>> GetVideoRect() const;
    void BeginRegionSelection();
    void EndRegionSelection();
    void regionButtonDown(int x, int y);
    void regionMouseMove(int x, int y);
    void regionButtonUp(int x, int y);
    bool isRegionDragging() const { return m_regionDragging; }
    void DrawTargetMarker(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

    // --- user commands and timers ---

    // Start: from the skin page, or from the menu (the delay notice is worded differently).
    void StartCommand(bool fromMenu = false);
    void StopCommand();
    // A timer of the engine thread expired.
    void OnTimer(int id);

    // --- the state machine ---

    void StartWatching();
    void StopWatching(bool final);
    // A new place and size for the video (a skin switch, a page's SetWindowRegion): watching
    // that was under way goes on, from a fresh reference of the new picture, so that the mode,
    // the pages and the tray stay in step with what the engine does.
    void MoveVideoRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void RaiseAlarm(int code);
    void StartTracing();
    int TracingTick();
    int TraceUpdate();
    bool MarkTargetBlocks();
    void Release();

    // Cuts short the start delay and the 500 ms pauses of the engine thread; safe from any thread.
    // The shell calls it before it queues a Stop, and when the program ends.
    void interruptWaits() { m_waitInterrupt.interrupt(); }
    // A Start waits out its delay; safe from any thread. The menus offer Stop meanwhile.
    bool startWaiting() const { return m_startWaiting.load(); }

    // --- evidence ---

    bool CreateEvidenceDirectory();
    bool RecordEvent();
    // The reference picture below the given frame, in one bitmap twice the picture's height.
    bool WriteEvidenceBitmap(const std::string& path, FrameSlot current);
    bool PlayWarningSound();

    // Thresholds for the settings' sensitivity; called when watching starts, after the block map.
    void ComputeThresholds();
    uint32_t ComputeChangedBlockThreshold(uint32_t activeBlocks, uint32_t sensitivity) const;
    void BuildActiveBlockMap();
    bool CompareFrames(const uint8_t* earlier, const uint8_t* later, uint32_t lumaThreshold);
    // Most watched blocks changed by an even shift of brightness, and what that does not explain
    // would raise no alarm: a lamp, not an intruder (when the settings' lighting rule is on).
    bool IsLightingChange(const uint8_t* earlier, const uint8_t* later) const;
    // Called after a condition's evidence was written (the evidence may then be kept in limits).
    std::function<void()> onEvidenceWritten;
    // Every condition, release, reset and change of mode, as it happens.
    std::function<void(const EngineEvent&)> onEvent;
    // Changes of light that took a new reference instead of an alarm, since the engine was made.
    uint32_t lightingChanges() const { return m_lightingChanges; }
    // One tick of watching: 0 when no frame could be taken, 1 otherwise.
    int DetectionTick();

    bool GrabFrame(FrameSlot slot);
    void FrameArrived(const uint8_t* frame, size_t bytes);
    // Watching starts over: the next frame becomes the reference.
    void resetFrameCount() { m_frameCount = 0; }
    // Detection stopped for good: the frame buffers go.
    void freeFrameBuffers();

    void DrawStatusLabel(std::string_view text, Colour colour, int fontSize, int xOffset, int yOffset,
                         int width);
    void DrawRegionFrame(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

    const VideoRectangle& videoRect() const { return m_videoRect; }
    const SelectionRectangle& selectionRect() const { return m_selectionRect; }
    void setSelectionRect(const SelectionRectangle& rect) { m_selectionRect = rect; }
    int frameWidth() const { return m_frameWidth; }
    // Where a point of the grabbed picture lies on the video window: the same place while the
    // picture is grabbed at the window's size, scaled when it is grabbed smaller.
    int32_t videoX(int frameX) const {
        return m_videoRect.left +
               static_cast<int32_t>(int64_t(frameX) *
                                    std::abs(int64_t(m_videoRect.right) - m_videoRect.left) /
                                    std::max(m_frameWidth, 1));
    }
    int32_t videoY(int frameY) const {
        return m_videoRect.top +
               static_cast<int32_t>(int64_t(frameY) *
                                    std::abs(int64_t(m_videoRect.bottom) - m_videoRect.top) /
                                    std::max(m_frameHeight, 1));
    }
    int frameHeight() const { return m_frameHeight; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    uint32_t activeBlocks() const { return m_activeBlocks; }
    uint32_t lumaThreshold() const { return m_lumaThreshold; }
    uint32_t pixelCountThreshold() const { return m_pixelCountThreshold; }
    uint32_t changedBlockThreshold() const { return m_changedBlockThreshold; }
    uint32_t frameCount() const { return m_frameCount; }
    size_t frameBytes() const { return m_frameBytes; }
    // Blocks found changed by the last comparison.
    uint32_t lastChangedBlocks() const { return m_lastChangedBlocks; }
    const BlockCell& cell(int column, int row) const {
        return m_grid[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    BlockCell& cell(int column, int row) {
        return m_grid[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    const std::vector<uint8_t>& frame(FrameSlot slot) const { return slotBuffer(slot); }
    bool hasConversionLibrary() const { return m_services.converter && m_services.converter->isLoaded(); }
    SettingsStore& settingsStore() { return m_settings; }
    OverlayCanvas& canvas() { return m_canvas; }
    HistoryStore& history() { return m_history; }
    ManualResetEvent& pauseTracingEvent() { return m_pauseTracing; }

    int mode() const { return m_settings.mode(); }
    uint32_t conditionCount() const { return m_conditionCount; }
    uint32_t stopCounter() const { return m_stopCounter; }
    uint32_t stillTicks() const { return m_stillTicks; }
    uint32_t releaseTicks() const { return m_releaseTicks; }
    int tracingPeriod_ms() const { return m_tracingPeriod_ms; }
    uint32_t conditionBitmapNumber() const { return m_conditionBitmapNumber; }
    const SelectionRectangle& targetBox() const { return m_targetBox; }
    bool isTracingBoxOpen() const { return m_tracingBoxOpen; }
    // The event of the current condition and any slot of the ring.
    size_t currentSlot() const;
    const EventEntry& event(size_t slot) const { return m_events.at(slot); }

private:
    void postModeChanged();
    void tell(EngineEvent::Kind kind, const EventEntry& entry, std::string imagePath = {});
    // After a condition only when the program is not in the tray; after a release always.
    void postNewRecord(bool evenInTray);
    bool waitOnEngineThread(std::chrono::milliseconds duration);
    // Starts the event's clip; an event whose clip cannot be started keeps no clip path.
    void startEventRecording(EventEntry& entry);
    void fillVideoRect(Colour colour);
    void clearCounters();
    void rearmDetection();
    void countTowardsLimit();
    void showError(const char* text);
    std::pair<int, int> clampToVideo(int x, int y) const;
    // The frame that was taken last: FrameA when the count is odd, FrameB otherwise.
    const std::vector<uint8_t>& latestFrame() const;

    std::vector<uint8_t>& slotBuffer(FrameSlot slot);
    const std::vector<uint8_t>& slotBuffer(FrameSlot slot) const;
    // True when every examined block lies inside the frame.
    bool holdsPicture(const std::vector<uint8_t>& frame) const;
    // Takes the next frame into the slot whose turn it is.
    bool grabNextFrame();

    SettingsStore& m_settings;
    OverlayCanvas& m_canvas;
    FrameSource* m_source = nullptr;
    EngineServices m_services;
    SystemClock m_systemClock;
    EngineClock& m_clock;

    VideoRectangle m_videoRect;
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    int m_columns = 0;
    int m_rows = 0;
    SelectionRectangle m_selectionRect;
    std::array<std::array<BlockCell, kGridColumns>, kGridRows> m_grid{};
    uint32_t m_activeBlocks = 0;
    uint32_t m_lumaThreshold = 0;
    uint32_t m_pixelCountThreshold = 0;
    uint32_t m_changedBlockThreshold = 0;
    uint32_t m_frameCount = 0;
    FrameSlot m_lastGrabbed = FrameSlot::Reference;
    uint32_t m_lastChangedBlocks = 0;
    size_t m_frameBytes = 0;
    std::vector<uint8_t> m_referenceFrame;
    std::vector<uint8_t> m_frameA;
    std::vector<uint8_t> m_frameB;
    blockcompare::BlockKernel m_blockKernel;

    // state machine
    uint32_t m_conditionCount = 0;
    uint32_t m_lightingChanges = 0;
    int m_toldMode = -1; // the mode the last event named
    uint32_t m_stopCounter = 0;
    uint32_t m_stillTicks = 0;
    uint32_t m_releaseTicks = 0;
    int m_tracingPeriod_ms = 400;
    SelectionRectangle m_targetBox;
    uint32_t m_conditionBitmapNumber = 0;
    bool m_tracingBoxOpen = false;
    ManualResetEvent m_pauseTracing{true};
    WaitInterrupt m_waitInterrupt;
    std::atomic<bool> m_startWaiting{false};

    // region selection
    bool m_regionDragging = false;
    bool m_buttonDown = false;

    // evidence
    std::array<EventEntry, kRingSlots> m_events{};
    std::vector<uint8_t> m_bitmapBuffer;

    HistoryStore m_history;
};

} // namespace gardivo
