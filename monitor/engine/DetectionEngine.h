#pragma once

#include "BlockCompare.h"
#include "FrameSource.h"
#include "OverlayCanvas.h"
#include "monitor/capture/PixelConversionLibrary.h"
#include "settings/SettingsStore.h"

#include <array>
#include <cstdint>
#include <memory>
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

// Told when a detection tick finds a condition: first the warning sound (when it is wanted),
// then the alarm itself.
class AlarmHandler {
public:
    virtual ~AlarmHandler() = default;
    virtual void startWarningSound() = 0;
    virtual void raiseAlarm(int code) = 0;
};

// The motion detector: the live picture, cut into 16 x 16 blocks, is compared with a reference
// picture taken when watching began. Everything runs on the engine thread.
class DetectionEngine {
public:
    static constexpr int kGridColumns = 40;
    static constexpr int kGridRows = 30;
    static constexpr int kBlockSize = 16;
    static constexpr int kConditionAlarmCode = 1100;

    enum class FrameSlot { Reference, A, B };

    DetectionEngine(SettingsStore& settings, OverlayCanvas& canvas);
    ~DetectionEngine();
    DetectionEngine(const DetectionEngine&) = delete;
    DetectionEngine& operator=(const DetectionEngine&) = delete;

    void setFrameSource(FrameSource* source) { m_source = source; }
    FrameSource* frameSource() const { return m_source; }
    void setAlarmHandler(AlarmHandler* handler) { m_alarmHandler = handler; }

    // Places the video picture in the window; the frame size follows it and the detection region
    // becomes the whole picture again.
    void SetVideoRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

    // Thresholds for the settings' sensitivity; called when watching starts, after the block map.
    void ComputeThresholds();
    uint32_t ComputeChangedBlockThreshold(uint32_t activeBlocks, uint32_t sensitivity) const;
    void BuildActiveBlockMap();
    bool CompareFrames(const uint8_t* earlier, const uint8_t* later, uint32_t lumaThreshold);
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
    bool hasConversionLibrary() const { return m_conversion.isLoaded(); }
    const PixelConversionLibrary& conversionLibrary() const { return m_conversion; }
    SettingsStore& settingsStore() { return m_settings; }
    OverlayCanvas& canvas() { return m_canvas; }

private:
    std::vector<uint8_t>& slotBuffer(FrameSlot slot);
    const std::vector<uint8_t>& slotBuffer(FrameSlot slot) const;
    // Bytes a frame must hold for every examined block to lie inside it.
    size_t examinedBytes() const;

    SettingsStore& m_settings;
    OverlayCanvas& m_canvas;
    FrameSource* m_source = nullptr;
    AlarmHandler* m_alarmHandler = nullptr;

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
    uint32_t m_lastChangedBlocks = 0;
    size_t m_frameBytes = 0;
    std::vector<uint8_t> m_referenceFrame;
    std::vector<uint8_t> m_frameA;
    std::vector<uint8_t> m_frameB;
    blockcompare::BlockKernel m_blockKernel;
    PixelConversionLibrary m_conversion;
};

} // namespace gardivo
