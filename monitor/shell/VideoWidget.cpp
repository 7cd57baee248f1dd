#include "VideoWidget.h"

#include "OverlayImage.h"
#include "PreviewFrames.h"

#include <QPainter>

namespace gardivo {

VideoWidget::VideoWidget(QWidget* window, PreviewFrames& frames, OverlayImage& overlay)
    : QWidget(window), m_frames(frames), m_overlay(overlay) {
    setObjectName("VideoWidget");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

void VideoWidget::place(const QRect& rect) {
    setGeometry(rect);
    raise();
    show();
}

void VideoWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage picture = m_frames.latest();
    m_frames.painted();
    if (picture.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        if (picture.size() == size())
            painter.drawImage(0, 0, picture);
        else
            painter.drawImage(rect(), picture);
        ++m_painted;
    }
    // The overlay is drawn in the window's coordinates; the key colour has left it transparent.
    // Only its parts that hold anything are painted.
    const OverlayImage::Drawing overlay = m_overlay.drawing();
    if (overlay.image.isNull())
        return;
    const QRegion visible = overlay.drawn.intersected(geometry());
    for (const QRect& area : visible)
        painter.drawImage(area.translated(-pos()), overlay.image, area);
}

} // namespace gardivo
