#pragma once

// The small window shown while a target is traced: "SnapShot" and "Capture" take a picture or a
// clip of what is seen now, "Send Mail" and "Phone Call" alert at once. A "Stop Tracing" button
// exists, hidden and disabled, and does nothing.

#include <QDialog>

#include <functional>

class QPushButton;

namespace gardivo {

class TracingBox final : public QDialog {
    Q_OBJECT
public:
    enum Button { SnapShot = 3, Capture = 4, SendMail = 5, PhoneCall = 6, StopTracing = 7 };

    explicit TracingBox(QWidget* owner, std::function<void(int button)> pressed);

    // WM_APP_CAPTURE_BUSY and WM_APP_CAPTURE_IDLE: SnapShot and Capture follow the recorder.
    void setCaptureIdle(bool idle);
    QPushButton* button(int id) const;

private:
    std::function<void(int)> m_pressed;
};

} // namespace gardivo
