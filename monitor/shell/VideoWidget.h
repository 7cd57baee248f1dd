#pragma once

// The live picture in the video window, at the place its page gave for it (SetWindowRegion), with
// what the engine draws above it: the region frame, the target marker, notices and the recording
// statistics. The page underneath keeps the mouse: the widget lets it through, so that clicks and
// drags on the picture reach the page and the region drag alike.

#include <QWidget>

namespace gardivo {

class OverlayImage;
class PreviewFrames;

class VideoWidget final : public QWidget {
    Q_OBJECT
public:
    VideoWidget(QWidget* window, PreviewFrames& frames, OverlayImage& overlay);

    // The video rectangle in the window's client coordinates.
    void place(const QRect& rect);
    uint64_t paintedFrames() const { return m_painted; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PreviewFrames& m_frames;
    OverlayImage& m_overlay;
    uint64_t m_painted = 0;
};

} // namespace gardivo
