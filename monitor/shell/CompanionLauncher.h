#pragma once

#include "monitor/engine/EngineServices.h"
#include "settings/SettingsStore.h"

#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace gardivo {

// Starts the setup wizard, the alert e-mail sender and the phone dialler from the program
// directory, at most one e-mail and one dial run at a time, and the user's own alarm program.
// Safe to call from any thread.
class CompanionLauncher final : public Companions {
public:
    CompanionLauncher(SettingsStore& settings, Reporter& reporter);
    ~CompanionLauncher() override;
    CompanionLauncher(const CompanionLauncher&) = delete;
    CompanionLauncher& operator=(const CompanionLauncher&) = delete;

    bool StartSetupWizard(bool force);
    // conditionNumber 0 starts the program without a condition.
    bool StartDial(bool withCondition, int conditionNumber = 0) override;
    bool StartEmail(bool withCondition, int conditionNumber = 0) override;
    bool IsSetupWizardFree();
    bool IsDialFree();
    bool IsEmailFree();
    // Runs ProgramFile's command line as it is stored, without a shell; not waited for.
    bool StartUserProgram(const std::string& commandLine) override;

    // The argument vectors the companions are started with.
    std::vector<std::string> setupWizardCommand() const;
    std::vector<std::string> dialCommand(bool withCondition, int conditionNumber) const;
    std::vector<std::string> emailCommand(bool withCondition, int conditionNumber) const;

private:
    struct Companion {
        std::mutex mutex;
        pid_t pid = 0; // 0 before the first launch and after the run was collected
    };

    static bool isFree(Companion& companion);
    bool launch(Companion& companion, const std::vector<std::string>& argv);
    bool startGuarded(Companion& companion, const std::vector<std::string>& argv, const char* busyText,
                      const char* failedText);
    void reapUserPrograms();
    void error(const char* text);

    SettingsStore& m_settings;
    Reporter& m_reporter;
    Companion m_wizard;
    Companion m_dial;
    Companion m_email;
    std::mutex m_userMutex;
    std::vector<pid_t> m_userPrograms; // started and never waited for, collected once they end
};

} // namespace gardivo
