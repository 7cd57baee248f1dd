#pragma once

// Message boxes of the windowed program, from whichever thread reports. A box with only "OK"
// never holds up the thread that raised it: it is opened on the GUI thread and the report goes
// on (the engine keeps detecting while a box is up, as it always could). A question from another
// thread waits for the user's answer while the GUI thread goes on running its windows (the box
// is opened, not run in a loop of its own); once the program starts to end, every question
// still open, and every one asked after, gets the answer that starts nothing (No, Cancel) at once,
// so the engine thread can finish while a box is still up.

#include "platform/Reporter.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QMessageBox;

namespace gardivo {

class ShellReporter final : public Reporter {
public:
    ShellReporter();
    ~ShellReporter() override;

    MessageAnswer show(const Message& message) override;

    // From now on questions are not put to the user, and open ones are answered by default.
    void setEnding();
    // For tests: every box, once it is made.
    std::function<void(QMessageBox&)> onBox;

    static QMessageBox* makeBox(const Message& message);

private:
    struct Question;
    MessageAnswer askHere(const Message& message);

    QObject m_context; // lives on the GUI thread
    std::mutex m_mutex;
    bool m_ending = false;
    std::vector<std::shared_ptr<Question>> m_open;
};

} // namespace gardivo
