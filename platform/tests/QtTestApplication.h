#pragma once

// One QApplication for a test program's widget tests, made on first use and kept to the end,
// and waiting for something while the event loop runs.

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace gardivo::testing {

inline void ensureQtApplication() {
    static int argc = 1;
    static char name[] = "gardivo-tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

// Runs the event loop until done() holds; false when it still does not after timeout_ms.
inline bool waitUntil(const std::function<bool()>& done, int timeout_ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace gardivo::testing
