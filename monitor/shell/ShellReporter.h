#pragma once

// Message boxes of the windowed program, from whichever thread reports. A box with only "OK"
// never holds up the thread that raised it: it is opened on the GUI thread and the report goes
// on (the engine keeps detecting while a box is up, as it always could). A question waits for
// the user's answer; while the program ends, questions get their default answer at once.

#include "platform/Reporter.h"

#include <QObject>

#include <atomic>
#include <functional>

class QMessageBox;

namespace gardivo {

class ShellReporter final : public Reporter {
public:
    ShellReporter();
    ~ShellReporter() override;

    MessageAnswer show(const Message& message) override;

    // From now on questions are not put to the user.
    void setEnding() { m_ending = true; }
    // For tests: every box, before it is opened.
    std::function<void(QMessageBox&)> onBox;

    static QMessageBox* makeBox(const Message& message);

private:
    MessageAnswer ask(const Message& message);

    QObject m_context; // lives on the GUI thread
    std::atomic<bool> m_ending{false};
};

} // namespace gardivo
