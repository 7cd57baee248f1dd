#pragma once

// What gardivo checks before it makes any window: the user's rights, and that no other copy
// runs ("GDMutex"). A second copy of gardivo leaves without a word; when the lock is held by a
// program that is not gardivo (no "TavrinWatchDog" endpoint answers), the user is told.

#include "platform/Reporter.h"
#include "platform/qt/SingleInstanceLock.h"

#include <functional>
#include <memory>

namespace gardivo {

struct StartUpChecks {
    std::function<bool()> isAdministrator;
    // Whether a running gardivo answers on its endpoint.
    std::function<bool()> otherCopyAnswers;
    // How often, 200 ms apart, to look for a copy that is still starting.
    int attempts = 10;
};

// The lock when this copy may run; nothing when it must end (the reporter has said why, where
// there is something to say).
std::unique_ptr<SingleInstanceLock> passStartUpChecks(Reporter& reporter, const StartUpChecks& checks);

} // namespace gardivo
