#include "StartUpChecks.h"

#include <chrono>
#include <thread>

namespace gardivo {

std::unique_ptr<SingleInstanceLock> passStartUpChecks(Reporter& reporter, const StartUpChecks& checks) {
    if (checks.isAdministrator && !checks.isAdministrator()) {
        reporter.show(
            {"Since the login account does not have the required priviledge to make application work "
             "properly,\nprogram will now exit...",
             Reporter::kCaption, MessageIcon::Warning, MessageButtons::Ok, false});
        return nullptr;
    }
    auto instance = std::make_unique<SingleInstanceLock>("GDMutex");
    if (instance->failed())
        return nullptr;
    if (instance->acquired())
        return instance;
    // Another gardivo (perhaps still starting) runs: this copy leaves without a word.
    for (int attempt = 0; attempt < checks.attempts; ++attempt) {
        if (checks.otherCopyAnswers && checks.otherCopyAnswers())
            return nullptr;
        if (attempt + 1 < checks.attempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    reporter.show({"Another user is using Tavrin Recordo!", "Tavrin Recordo", MessageIcon::None,
                   MessageButtons::Ok, false});
    return nullptr;
}

} // namespace gardivo
