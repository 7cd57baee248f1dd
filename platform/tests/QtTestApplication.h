#pragma once

// One QApplication for a test program's widget tests, made on first use and kept to the end.

#include <QApplication>

namespace gardivo::testing {

inline void ensureQtApplication() {
    static int argc = 1;
    static char name[] = "gardivo-tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

} // namespace gardivo::testing
