// Placing the video, choosing the detection region with the mouse, and the target marker.

#include "DetectionEngine.h"
#include "monitor/messages/WindowMessages.h"

#include <algorithm>
#include <cstdlib>

namespace gardivo {

namespace {

constexpr const char* kDragPrompt = "Please use mouse to drag a region......";

} // namespace

void DetectionEngine::SetVideoRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    m_videoRect = {left, top, right, bottom};
    const int64_t width = std::abs(int64_t(right) - left);
    const int64_t height = std::abs(int64_t(bottom) - top);
    // The grid holds 40 x 30 blocks of 16 pixels. A larger picture is grabbed scaled down to fit
    // it, keeping its shape, so that all of it is watched; the region and the target marker are
    // drawn on the video as before and mapped to the grid through the same scale.
    constexpr int64_t kMaxWidth = int64_t(kGridColumns) * kBlockSize;
    constexpr int64_t kMaxHeight = int64_t(kGridRows) * kBlockSize;
    if (width > kMaxWidth || height > kMaxHeight) {
        const bool byWidth = width * kMaxHeight >= height * kMaxWidth; // the side that limits
        m_frameWidth =
            static_cast<int>(byWidth ? kMaxWidth : std::max<int64_t>(1, width * kMaxHeight / height));
        m_frameHeight =
            static_cast<int>(byWidth ? std::max<int64_t>(1, height * kMaxWidth / width) : kMaxHeight);
    } else {
        m_frameWidth = static_cast<int>(width);
        m_frameHeight = static_cast<int>(height);
    }
    m_selectionRect = {left, top, right, bottom};
    m_columns = std::min(m_frameWidth / kBlockSize, kGridColumns);
    m_rows = std::min(m_frameHeight / kBlockSize, kGridRows);
    m_activeBlocks = 0;
    if (m_source)
        m_source->setFrameSize(m_frameWidth, m_frameHeight);
    if (m_services.sink)
        m_services.sink->postMessage(kControlPanel, WM_APP_REPORT, m_frameWidth, m_frameHeight);
}

std::pair<std::pair<int32_t, int32_t>, std::pair<int32_t, int32_t>> DetectionEngine::GetVideoRect() const {
    return {{m_videoRect.left, m_videoRect.top}, {m_videoRect.right, m_videoRect.bottom}};
}

void DetectionEngine::fillVideoRect(Colour colour) {
    m_canvas.fillRect({m_videoRect.left, m_videoRect.top, m_videoRect.right, m_videoRect.bottom}, colour);
}

std::pair<int, int> DetectionEngine::clampToVideo(int x, int y) const {
    return {std::clamp(x, std::min(m_videoRect.left, m_videoRect.right),
                       std::max(m_videoRect.left, m_videoRect.right)),
            std::clamp(y, std::min(m_videoRect.top, m_videoRect.bottom),
                       std::max(m_videoRect.top, m_videoRect.bottom))};
}

void DetectionEngine::BeginRegionSelection() {
    const MessageAnswer answer = m_settings.reporter().show(
        {"Please use mouse left button to drag   \na region for Gardivo detecting.\nPlease press OK to begin "
         "to drag "
         "or \npress Cancel to skip......",
         Reporter::kCaption, MessageIcon::Question, MessageButtons::OkCancel, false});
    if (answer != MessageAnswer::Ok)
        return;
    m_selectionRect = {m_videoRect.left, m_videoRect.top, m_videoRect.right, m_videoRect.bottom};
    m_regionDragging = true;
    m_canvas.drawText({m_videoRect.left, m_videoRect.top, m_videoRect.right, m_videoRect.top + 20},
                      kDragPrompt, kBlue, 16);
    m_canvas.saveSnapshot();
    m_settings.settings().RegionMode = 1;
    if (m_services.sink)
        m_services.sink->runScript(kControlPanel, "SetRegion(1)");
}

void DetectionEngine::regionButtonDown(int x, int y) {
    if (!m_regionDragging || m_buttonDown)
        return;
    m_buttonDown = true;
    const auto [cx, cy] = clampToVideo(x, y);
    m_selectionRect.x1 = cx;
    m_selectionRect.y1 = cy;
}

void DetectionEngine::regionMouseMove(int x, int y) {
    if (!m_regionDragging || !m_buttonDown)
        return;
    const auto [cx, cy] = clampToVideo(x, y);
    m_selectionRect.x2 = cx;
    m_selectionRect.y2 = cy;
    m_canvas.restoreSnapshot();
    DrawRegionFrame(m_selectionRect.x1, m_selectionRect.y1, m_selectionRect.x2, m_selectionRect.y2);
}

void DetectionEngine::regionButtonUp(int x, int y) {
    if (!m_regionDragging || !m_buttonDown)
        return;
    m_buttonDown = false;
    const auto [cx, cy] = clampToVideo(x, y);
    m_selectionRect.x2 = cx;
    m_selectionRect.y2 = cy;
    m_canvas.restoreSnapshot();
    DrawRegionFrame(m_selectionRect.x1, m_selectionRect.y1, m_selectionRect.x2, m_selectionRect.y2);
    if (m_services.sink)
        m_services.sink->postMessage(kScreen, WM_APP_REGION_DONE, 0, 0);
}

void DetectionEngine::EndRegionSelection() {
    SelectionRectangle& s = m_selectionRect;
    const bool valid = s.x1 != s.x2 && s.y1 != s.y2;
    if (valid) {
        if (s.x1 > s.x2)
            std::swap(s.x1, s.x2);
        if (s.y1 > s.y2)
            std::swap(s.y1, s.y2);
    }
    m_regionDragging = false;
    if (valid && m_settings.reporter().show({"\nPress Yes to confirm, press No to re-select.",
                                             Reporter::kCaption, MessageIcon::Question, MessageButtons::YesNo,
                                             false}) == MessageAnswer::Yes) {
        fillVideoRect(kKeyColour);
        if (m_services.sink)
            m_services.sink->postMessage(kControlPanel, WM_APP_REGION_DONE, 0, 0);
        return;
    }
    fillVideoRect(kKeyColour);
    m_canvas.drawText({m_videoRect.left, m_videoRect.top, m_videoRect.right, m_videoRect.bottom}, kDragPrompt,
                      kBlue, 16);
    m_regionDragging = true;
}

void DetectionEngine::DrawTargetMarker(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    fillVideoRect(kKeyColour);
    if (x2 >= m_videoRect.right)
        x2 = m_videoRect.right - 1;
    if (x1 <= m_videoRect.left)
        x1 = m_videoRect.left + 2;
    if (y1 <= m_videoRect.top)
        y1 = m_videoRect.top + 2;
    if (y2 >= m_videoRect.bottom)
        y2 = m_videoRect.bottom - 1;
    const int b = static_cast<int>(std::min(y2 - y1, x2 - x1) * 0.2);
    if (b <= 1) {
        DrawRegionFrame(x1, y1, x2, y2);
        return;
    }
    const auto line = [this](int ax, int ay, int bx, int by) { m_canvas.drawLine(ax, ay, bx, by, kRed, 2); };
    line(x1, y1, x1 + b, y1); // top left
    line(x1, y1, x1, y1 + b);
    line(x2, y1, x2 - b, y1); // top right
    line(x2, y1, x2, y1 + b);
    line(x1, y2, x1 + b, y2); // bottom left
    line(x1, y2, x1, y2 - b);
    line(x2, y2, x2 - b, y2); // bottom right
    line(x2, y2, x2, y2 - b);
    const int cx = (x1 + x2) / 2, cy = (y1 + y2) / 2, arm = b / 2;
    line(cx - arm, cy, cx + arm, cy);
    line(cx, cy - arm, cx, cy + arm);
}

} // namespace gardivo
