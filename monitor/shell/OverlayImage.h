#pragma once

// What the engine draws over the live picture (the region frame, the target marker, notices and
// the recording statistics), kept in a transparent picture the video window paints above the
// video. The engine draws from its thread, the window paints on the GUI thread.

#include "monitor/engine/OverlayCanvas.h"

#include <QImage>
#include <QRegion>

#include <atomic>
#include <functional>
#include <mutex>

namespace gardivo {

class OverlayImage final : public OverlayCanvas {
public:
    OverlayImage();

    void fillRect(const CanvasRect& rect, Colour colour) override;
    void drawText(const CanvasRect& box, std::string_view text, Colour colour, int fontSize,
                  TextAlign align = TextAlign::Left) override;
    void drawLine(int x1, int y1, int x2, int y2, Colour colour, int penWidth) override;
    void saveSnapshot() override;
    void restoreSnapshot() override;

    // A copy of the picture as it is now (shared: the next drawing detaches from it, so the reader
    // always has a whole picture), with the part of it that holds anything: the rest is
    // transparent and need not be painted over the live picture thirty times a second.
    struct Drawing {
        QImage image;
        QRegion drawn;
    };
    Drawing drawing() const;
    // Called (on the drawing thread) after every change.
    void setChanged(std::function<void()> changed);

    // Nothing is drawn any more: the program is ending without its display, when painting
    // could use what the ending process has already taken down.
    void close() { m_closed = true; }

    // 0x00BBGGRR to a Qt colour; the key colour stands for "nothing drawn".
    static QColor toQColor(Colour colour);

private:
    // Grows the picture to hold the point; the overlay covers the window's client area.
    void ensureSize(int right, int bottom);
    void notify();

    mutable std::mutex m_mutex;
    QImage m_image;
    QImage m_snapshot;
    QRegion m_drawn;
    QRegion m_snapshotDrawn;
    std::function<void()> m_changed;
    std::atomic<bool> m_closed{false};
};

} // namespace gardivo
