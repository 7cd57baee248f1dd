#pragma once

// The picture shown at start: borderless, centred, above the other windows, and gone by itself
// after 3.5 seconds.

#include <QPixmap>
#include <QWidget>

namespace gardivo {

class SplashScreen final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowTime_ms = 3500;
    SplashScreen();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace gardivo
