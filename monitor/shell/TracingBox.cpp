#include "TracingBox.h"

#include "Artwork.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace gardivo {

TracingBox::TracingBox(QWidget* owner, std::function<void(int button)> pressed)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_pressed(std::move(pressed)) {
    setObjectName("TracingBox");
    setWindowTitle("Tracing Box");
    setWindowIcon(programIcon());
    setModal(false);
    QFont font("Arial");
    font.setPointSize(8);
    setFont(font);

    auto* group = new QGroupBox("Action", this);
    auto* grid = new QGridLayout(group);
    const auto addButton = [&](int id, const char* text, int row, int column) {
        auto* b = new QPushButton(QString::fromLatin1(text), group);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        b->setAutoDefault(false);
        grid->addWidget(b, row, column);
        connect(b, &QPushButton::clicked, this, [this, id] {
            if (m_pressed)
                m_pressed(id);
        });
    };
    addButton(SnapShot, "SnapShot", 0, 0);
    addButton(Capture, "Capture", 0, 1);
    addButton(SendMail, "Send Mail", 1, 0);
    addButton(PhoneCall, "Phone Call", 1, 1);

    auto* stop = new QPushButton("Stop Tracing", this);
    stop->setObjectName(QStringLiteral("button%1").arg(StopTracing));
    stop->setEnabled(false);
    stop->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(stop);
    setFixedSize(sizeHint());
}

QPushButton* TracingBox::button(int id) const {
    return findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
}

void TracingBox::setCaptureIdle(bool idle) {
    button(SnapShot)->setEnabled(idle);
    button(Capture)->setEnabled(idle);
}

} // namespace gardivo
