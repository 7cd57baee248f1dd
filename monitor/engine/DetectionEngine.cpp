#include "DetectionEngine.h"

#include "settings/SettingsLimits.h"

#include <algorithm>
#include <cstdlib>

namespace gardivo {

DetectionEngine::DetectionEngine(SettingsStore& settings, OverlayCanvas& canvas, EngineServices services)
    : m_settings(settings), m_canvas(canvas), m_services(services),
      m_clock(services.clock ? *services.clock : m_systemClock), m_blockKernel(blockcompare::activeKernel()),
      m_history(settings.dataDirectory()) {
    // The event ring starts empty and the pause event signalled (member initialisers); the
    // history store comes with the members as well.
    m_videoRect = {0, 0, 320, 240};
    m_frameWidth = 320;
    m_frameHeight = 240;
    m_selectionRect = {0, 0, 320, 240};
    m_columns = 20;
    m_rows = 15;
    m_activeBlocks = 0;
    for (auto& row : m_grid)
        row.fill(BlockCell{0, 1, 0});
    m_frameCount = 0;
    m_pixelCountThreshold = 64;
    m_changedBlockThreshold = 0;
    // Nothing has been traced yet: the first trace treats its target as large until it is found.
    m_targetBox = {0, 0, 320, 240};
    CreateEvidenceDirectory();
}

DetectionEngine::~DetectionEngine() = default;

uint32_t DetectionEngine::ComputeChangedBlockThreshold(uint32_t activeBlocks, uint32_t sensitivity) const {
    uint32_t threshold;
    if (activeBlocks <= 6u)
        threshold = 2;
    else if (activeBlocks <= 10u)
        threshold = 4;
    else if (sensitivity >= 90u)
        threshold = 101u - sensitivity;
    else if (sensitivity >= 80u)
        threshold = 104u - sensitivity;
    else if (sensitivity >= 60u)
        threshold = (100u - sensitivity) * 2u;
    else
        threshold = static_cast<uint32_t>((1.0 - sensitivity / 100.0) * activeBlocks);
    if (m_frameWidth == 640)
        threshold *= 2;
    return threshold;
}

void DetectionEngine::ComputeThresholds() {
    const auto s = static_cast<uint32_t>(limits::Sensitivity.clamp(m_settings.settings().Sensitivity));
    m_pixelCountThreshold = 150u - s;
    m_lumaThreshold = s >= 95u ? 15u : s >= 60u ? 20u : 25u;
    m_changedBlockThreshold = ComputeChangedBlockThreshold(m_activeBlocks, s);
}

void DetectionEngine::BuildActiveBlockMap() {
    m_activeBlocks = 0;
    if (m_settings.settings().RegionMode == 1) {
        for (int r = 0; r < m_rows; ++r) {
            for (int c = 0; c < m_columns; ++c) {
                const int32_t x = videoX(kBlockSize * c);
                const int32_t y = videoY(kBlockSize * r);
                const bool inside = m_selectionRect.x1 <= x && x < m_selectionRect.x2 &&
                                    m_selectionRect.y1 <= y && y < m_selectionRect.y2;
                cell(c, r).enabled = inside ? 1 : 0;
                m_activeBlocks += inside ? 1u : 0u;
            }
        }
    } else if (m_settings.settings().RegionMode == 0) {
        for (auto& row : m_grid)
            for (auto& c : row)
                c.enabled = 1;
        m_activeBlocks = static_cast<uint32_t>(m_columns * m_rows);
    }
    for (auto& row : m_grid)
        for (auto& c : row)
            c.counter = 0;
}

bool DetectionEngine::CompareFrames(const uint8_t* earlier, const uint8_t* later, uint32_t lumaThreshold) {
    uint32_t changed = 0;
    const size_t rowBytes = static_cast<size_t>(m_frameWidth) * 2;
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c) {
            BlockCell& block = cell(c, r);
            if (!block.enabled)
                continue;
            const size_t offset =
                static_cast<size_t>(kBlockSize * r) * rowBytes + static_cast<size_t>(kBlockSize * c) * 2;
            if (m_blockKernel(earlier + offset, later + offset, rowBytes, lumaThreshold,
                              m_pixelCountThreshold)) {
                ++block.counter;
                ++changed;
            } else if (block.counter > 0) {
                --block.counter;
            }
        }
    }
    m_lastChangedBlocks = changed;
    return changed > m_changedBlockThreshold;
}

std::vector<uint8_t>& DetectionEngine::slotBuffer(FrameSlot slot) {
    return slot == FrameSlot::Reference ? m_referenceFrame : slot == FrameSlot::A ? m_frameA : m_frameB;
}

const std::vector<uint8_t>& DetectionEngine::slotBuffer(FrameSlot slot) const {
    return slot == FrameSlot::Reference ? m_referenceFrame : slot == FrameSlot::A ? m_frameA : m_frameB;
}

bool DetectionEngine::GrabFrame(FrameSlot slot) {
    if (!m_source)
        return false;
    auto& buffer = slotBuffer(slot);
    if (!m_source->GrabFrame(buffer) || buffer.empty())
        return false;
    FrameArrived(buffer.data(), buffer.size());
    return true;
}

void DetectionEngine::FrameArrived(const uint8_t* frame, size_t bytes) {
    (void)frame;
    if (!hasConversionLibrary())
        return;
    m_frameBytes = bytes;
    ++m_frameCount;
}

void DetectionEngine::freeFrameBuffers() {
    std::vector<uint8_t>().swap(m_referenceFrame);
    std::vector<uint8_t>().swap(m_frameA);
    std::vector<uint8_t>().swap(m_frameB);
    m_frameBytes = 0;
}

bool DetectionEngine::holdsPicture(const std::vector<uint8_t>& frame) const {
    return frame.size() >= static_cast<size_t>(m_rows * kBlockSize) * static_cast<size_t>(m_frameWidth) * 2;
}

bool DetectionEngine::grabNextFrame() {
    // The first frame becomes the reference; after it the frames take turns in B and A.
    const FrameSlot slot =
        m_frameCount == 0 ? FrameSlot::Reference : (m_frameCount % 2 ? FrameSlot::B : FrameSlot::A);
    if (!GrabFrame(slot))
        return false;
    m_lastGrabbed = slot;
    return true;
}

int DetectionEngine::DetectionTick() {
    if (!m_source || m_source->graphState() == FrameSource::kGraphStateBusy ||
        !m_source->isGrabberConnected())
        return 0;
    DrawStatusLabel("Detecting......", kRed, 16, 0, 0, 200);
    DrawRegionFrame(m_selectionRect.x1, m_selectionRect.y1, m_selectionRect.x2, m_selectionRect.y2);

    if (!grabNextFrame())
        return 0;
    if (m_frameCount < 2)
        return 1; // the first frame only became the reference

    // A reference smaller than the picture (taken while the size was changing, or from a device
    // that ignored the size it was asked for) is taken again: kept, nothing would ever be compared.
    if (!holdsPicture(m_referenceFrame)) {
        m_frameCount = 0;
        return 1;
    }
    const auto& current = latestFrame();
    // A frame smaller than the picture is not compared: reading its missing rows would run past
    // the buffer.
    if (!holdsPicture(current))
        return 1;
    if (CompareFrames(m_referenceFrame.data(), current.data(), m_lumaThreshold)) {
        if (IsLightingChange(m_referenceFrame.data(), current.data())) {
            // The room as the new light shows it is what is watched from now on.
            m_referenceFrame = current;
            clearCounters();
            ++m_lightingChanges;
            return 1;
        }
        if (m_settings.settings().WarningSound == 1)
            PlayWarningSound();
        RaiseAlarm(kConditionAlarmCode);
    }
    return 1;
}

const std::vector<uint8_t>& DetectionEngine::latestFrame() const {
    return m_frameCount % 2 ? m_frameA : m_frameB;
}

void DetectionEngine::DrawStatusLabel(std::string_view text, Colour colour, int fontSize, int xOffset,
                                      int yOffset, int width) {
    const CanvasRect box{m_videoRect.left + xOffset + 5, m_videoRect.top + yOffset + 1,
                         m_videoRect.left + width + 5, m_videoRect.top + yOffset + 20};
    m_canvas.fillRect(box, kKeyColour);
    m_canvas.drawText(box, text, colour, fontSize);
}

void DetectionEngine::DrawRegionFrame(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const int left = x1 + 1, top = y1 + 1, right = x2 - 1, bottom = y2 - 1;
    m_canvas.drawLine(left, top, right, top, kRed, 2);
    m_canvas.drawLine(right, top, right, bottom, kRed, 2);
    m_canvas.drawLine(right, bottom, left, bottom, kRed, 2);
    m_canvas.drawLine(left, bottom, left, top, kRed, 2);
}

} // namespace gardivo
