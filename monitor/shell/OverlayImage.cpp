#include "OverlayImage.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace gardivo {

namespace {

constexpr int kMaxSide = 8192;

} // namespace

OverlayImage::OverlayImage() = default;

QColor OverlayImage::toQColor(Colour colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

void OverlayImage::ensureSize(int right, int bottom) {
    const int width = std::clamp(right, 0, kMaxSide);
    const int height = std::clamp(bottom, 0, kMaxSide);
    if (width <= m_image.width() && height <= m_image.height())
        return;
    QImage grown(std::max(width, m_image.width()), std::max(height, m_image.height()),
                 QImage::Format_ARGB32_Premultiplied);
    grown.fill(Qt::transparent);
    if (!m_image.isNull()) {
        QPainter painter(&grown);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, m_image);
    }
    m_image = std::move(grown);
}

void OverlayImage::fillRect(const CanvasRect& rect, Colour colour) {
    if (m_closed)
        return;
    {
        std::lock_guard lock(m_mutex);
        const QRect area =
            QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)).normalized();
        ensureSize(area.right() + 1, area.bottom() + 1);
        if (m_image.isNull())
            return;
        QPainter painter(&m_image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(area, colour == kKeyColour ? QColor(Qt::transparent) : toQColor(colour));
        if (colour == kKeyColour)
            m_drawn -= area;
        else
            m_drawn += area;
    }
    notify();
}

void OverlayImage::drawText(const CanvasRect& box, std::string_view text, Colour colour, int fontSize,
                            TextAlign align) {
    if (m_closed)
        return;
    {
        std::lock_guard lock(m_mutex);
        const QRect area =
            QRect(QPoint(box.left, box.top), QPoint(box.right - 1, box.bottom - 1)).normalized();
        ensureSize(area.right() + 1, area.bottom() + 1);
        if (m_image.isNull())
            return;
        QPainter painter(&m_image);
        QFont font("Times New Roman");
        font.setStyleHint(QFont::Serif);
        font.setBold(true);
        font.setPixelSize(std::clamp(fontSize, 1, 400));
        painter.setFont(font);
        painter.setPen(toQColor(colour));
        painter.setClipRect(area);
        painter.drawText(area, (align == TextAlign::Centre ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop,
                         QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        m_drawn += area;
    }
    notify();
}

void OverlayImage::drawLine(int x1, int y1, int x2, int y2, Colour colour, int penWidth) {
    if (m_closed)
        return;
    {
        std::lock_guard lock(m_mutex);
        ensureSize(std::max(x1, x2) + penWidth + 1, std::max(y1, y2) + penWidth + 1);
        if (m_image.isNull())
            return;
        QPainter painter(&m_image);
        painter.setPen(QPen(toQColor(colour), std::max(penWidth, 1)));
        painter.drawLine(x1, y1, x2, y2);
        // The pen's whole width, and a pixel more for its antialiased edge.
        const int reach = std::max(penWidth, 1) / 2 + 2;
        m_drawn +=
            QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2)))
                .adjusted(-reach, -reach, reach, reach);
    }
    notify();
}

void OverlayImage::saveSnapshot() {
    if (m_closed)
        return;
    std::lock_guard lock(m_mutex);
    m_snapshot = m_image.copy();
    m_snapshotDrawn = m_drawn;
}

void OverlayImage::restoreSnapshot() {
    if (m_closed)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_snapshot.isNull()) {
            m_image = m_snapshot.copy();
            m_drawn = m_snapshotDrawn;
        }
    }
    notify();
}

OverlayImage::Drawing OverlayImage::drawing() const {
    std::lock_guard lock(m_mutex);
    return {m_image, m_drawn};
}

void OverlayImage::setChanged(std::function<void()> changed) {
    std::lock_guard lock(m_mutex);
    m_changed = std::move(changed);
}

void OverlayImage::notify() {
    std::function<void()> changed;
    {
        std::lock_guard lock(m_mutex);
        changed = m_changed;
    }
    if (changed)
        changed();
}

} // namespace gardivo
