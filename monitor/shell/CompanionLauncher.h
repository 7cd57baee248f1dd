#pragma once

#include "monitor/engine/EngineServices.h"
#include "settings/SettingsStore.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace gardivo {

// Starts the setup wizard, the alert e-mail sender and the phone dialler from the program
// directory, at most one e-mail and one dial run at a time, and the user's own alarm program.
// An alarm's mail that finds another one still being sent (a server that is away is tried for
// minutes) waits for it and then goes, with that alarm's own evidence. Safe to call from any
// thread.
class CompanionLauncher final : public Companions {
public:
    CompanionLauncher(SettingsStore& settings, Reporter& reporter);
    ~CompanionLauncher() override;
    CompanionLauncher(const CompanionLauncher&) = delete;
    CompanionLauncher& operator=(const CompanionLauncher&) = delete;

    bool StartSetupWizard(bool force);
    // conditionNumber 0 starts the program without a condition.
    bool StartDial(bool withCondition, int conditionNumber = 0) override;
    // With a condition: started now, or, while another mail is being sent, queued (false) and
    // started once it ends. Without one (a mail by hand): refused while another is sent.
    bool StartEmail(bool withCondition, int conditionNumber = 0) override;
    // Alarm mails waiting for the one being sent.
    size_t queuedMails();

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

    struct QueuedMail {
        int condition;
        std::string image;
        std::string video;
    };

    static bool isFree(Companion& companion);
    bool launch(Companion& companion, const std::vector<std::string>& argv,
                const std::vector<std::string>& extraEnvironment = {});
    bool launchMail(const QueuedMail& mail);
    void sendQueuedMails();
    bool startGuarded(Companion& companion, const std::vector<std::string>& argv, const char* busyText,
                      const char* failedText);
    void reapUserPrograms();
    void error(const char* text);

    SettingsStore& m_settings;
    Reporter& m_reporter;
    Companion m_wizard;
    Companion m_dial;
    Companion m_email;
    std::deque<QueuedMail> m_mailQueue; // guarded by m_email.mutex
    std::condition_variable m_mailWake;
    bool m_ending = false;
    bool m_waiterRunning = false;
    std::thread m_mailWaiter;
    std::mutex m_userMutex;
    std::vector<pid_t> m_userPrograms; // started and never waited for, collected once they end
};

} // namespace gardivo
