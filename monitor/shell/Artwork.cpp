#include "Artwork.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace gardivo {

namespace {

// A camera eye: a dark body, a lens and a red recording light.
void drawEye(QPainter& painter, const QRectF& area) {
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(area.width(), area.height());
    const QPointF c = area.center();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(32, 44, 64));
    painter.drawRoundedRect(QRectF(c.x() - s * 0.46, c.y() - s * 0.34, s * 0.92, s * 0.68), s * 0.12,
                            s * 0.12);
    QRadialGradient lens(c, s * 0.26, c - QPointF(s * 0.06, s * 0.06));
    lens.setColorAt(0, QColor(140, 200, 255));
    lens.setColorAt(0.5, QColor(30, 90, 170));
    lens.setColorAt(1, QColor(8, 20, 40));
    painter.setBrush(lens);
    painter.drawEllipse(c, s * 0.26, s * 0.26);
    painter.setBrush(QColor(230, 40, 40));
    painter.drawEllipse(QPointF(c.x() + s * 0.33, c.y() - s * 0.22), s * 0.06, s * 0.06);
}

} // namespace

namespace {

std::string& artworkDirectory() {
    static std::string directory;
    return directory;
}

QString artworkFile(const char* name) {
    return QString::fromStdString(artworkDirectory()) + QString::fromLatin1(name);
}

} // namespace

void setArtworkDirectory(const std::string& programDirectory) {
    artworkDirectory() = programDirectory.empty() || programDirectory.back() == '/' ? programDirectory
                                                                                    : programDirectory + "/";
}

QIcon programIcon() {
    if (!artworkDirectory().empty()) {
        const QIcon icon(artworkFile("gardivo.png"));
        if (!icon.availableSizes().isEmpty())
            return icon;
    }
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(drawnIcon(side)));
    return icon;
}

QPixmap splashPicture() {
    if (!artworkDirectory().empty()) {
        const QPixmap picture(artworkFile("splash.png"));
        if (!picture.isNull())
            return picture;
    }
    return QPixmap::fromImage(drawnSplash());
}

QImage drawnIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawEye(painter, QRectF(0, 0, side, side));
    painter.end();
    return image;
}

QImage drawnSplash() {
    QImage pixmap(291, 325, QImage::Format_RGB32);
    QPainter painter(&pixmap);
    QLinearGradient sky(0, 0, 0, 325);
    sky.setColorAt(0, QColor(18, 30, 52));
    sky.setColorAt(1, QColor(50, 78, 120));
    painter.fillRect(pixmap.rect(), sky);
    drawEye(painter, QRectF(70, 40, 151, 151));
    QFont title("Times New Roman");
    title.setStyleHint(QFont::Serif);
    title.setBold(true);
    title.setPixelSize(34);
    painter.setFont(title);
    painter.setPen(QColor(240, 240, 240));
    painter.drawText(QRect(0, 205, 291, 44), Qt::AlignCenter, "Tavrin Gardivo");
    QFont line = title;
    line.setBold(false);
    line.setPixelSize(15);
    painter.setFont(line);
    painter.setPen(QColor(190, 205, 225));
    painter.drawText(QRect(0, 252, 291, 24), Qt::AlignCenter, "Video surveillance");
    painter.setPen(QColor(120, 140, 170));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    painter.end();
    return pixmap;
}

} // namespace gardivo
