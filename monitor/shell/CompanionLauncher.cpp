#include "CompanionLauncher.h"

#include "CommandLine.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace gardivo {

namespace {

// Companions are named by full path; the user's program is looked up in PATH like a shell would.
// extra: "NAME=value" entries put in front of this process's environment.
bool spawn(const std::vector<std::string>& argv, pid_t& pid, bool searchPath = false,
           const std::vector<std::string>& extra = {}) {
    if (argv.empty())
        return false;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> environment;
    for (const auto& e : extra)
        environment.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; e && *e; ++e) {
        bool replaced = false;
        for (const auto& x : extra)
            replaced |= std::strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
        if (!replaced)
            environment.push_back(*e);
    }
    environment.push_back(nullptr);
    return (searchPath ? ::posix_spawnp : ::posix_spawn)(&pid, args[0], nullptr, nullptr, args.data(),
                                                         environment.data()) == 0;
}

} // namespace

CompanionLauncher::CompanionLauncher(SettingsStore& settings, Reporter& reporter)
    : m_settings(settings), m_reporter(reporter) {}

CompanionLauncher::~CompanionLauncher() {
    {
        std::lock_guard lock(m_email.mutex);
        m_ending = true;
    }
    m_mailWake.notify_all();
    if (m_mailWaiter.joinable())
        m_mailWaiter.join();
    // Runs still going are left alone; finished ones are collected.
    for (Companion* c : {&m_wizard, &m_dial, &m_email})
        isFree(*c);
    reapUserPrograms();
}

std::vector<std::string> CompanionLauncher::setupWizardCommand() const {
    return {joinPath(m_settings.programDirectory(), "cfgwiz")};
}

std::vector<std::string> CompanionLauncher::dialCommand(bool withCondition, int conditionNumber) const {
    std::vector<std::string> argv{joinPath(m_settings.programDirectory(), "dial")};
    if (withCondition)
        argv.push_back(std::to_string(conditionNumber));
    return argv;
}

std::vector<std::string> CompanionLauncher::emailCommand(bool withCondition, int conditionNumber) const {
    std::vector<std::string> argv{joinPath(m_settings.programDirectory(), "email")};
    if (withCondition)
        argv.push_back(std::to_string(conditionNumber));
    return argv;
}

// Free when never started or finished; a finished run is collected here, so no zombie stays.
bool CompanionLauncher::isFree(Companion& companion) {
    if (companion.pid == 0)
        return true;
    int status = 0;
    const pid_t r = ::waitpid(companion.pid, &status, WNOHANG);
    if (r == companion.pid || (r < 0 && errno == ECHILD)) {
        companion.pid = 0;
        return true;
    }
    return false; // still running, or its state cannot be read
}

bool CompanionLauncher::launch(Companion& companion, const std::vector<std::string>& argv,
                               const std::vector<std::string>& extraEnvironment) {
    pid_t pid = 0;
    if (!spawn(argv, pid, false, extraEnvironment))
        return false;
    companion.pid = pid;
    return true;
}

void CompanionLauncher::error(const char* text) {
    m_reporter.show({text, Reporter::kCaption, MessageIcon::Error, MessageButtons::Ok, true});
}

bool CompanionLauncher::IsSetupWizardFree() {
    std::lock_guard lock(m_wizard.mutex);
    return isFree(m_wizard);
}

bool CompanionLauncher::IsDialFree() {
    std::lock_guard lock(m_dial.mutex);
    return isFree(m_dial);
}

bool CompanionLauncher::IsEmailFree() {
    std::lock_guard lock(m_email.mutex);
    return isFree(m_email);
}

bool CompanionLauncher::StartSetupWizard(bool force) {
    std::lock_guard lock(m_wizard.mutex);
    const bool free = isFree(m_wizard);
    if (!free && !force)
        return false;
    if (!free) {
        // The earlier wizard keeps running on its own; it is still collected when it ends.
        std::lock_guard userLock(m_userMutex);
        m_userPrograms.push_back(m_wizard.pid);
    }
    const bool ok = launch(m_wizard, setupWizardCommand());
    if (!ok)
        error("Error Executing Setup Wizard...");
    return ok;
}

bool CompanionLauncher::startGuarded(Companion& companion, const std::vector<std::string>& argv,
                                     const char* busyText, const char* failedText) {
    std::lock_guard lock(companion.mutex);
    if (!isFree(companion)) {
        if (m_settings.settings().TracingMode == 2)
            error(busyText);
        return false;
    }
    const bool ok = launch(companion, argv);
    if (!ok)
        error(failedText);
    return ok;
}

bool CompanionLauncher::StartDial(bool withCondition, int conditionNumber) {
    return startGuarded(m_dial, dialCommand(withCondition, conditionNumber),
                        "Another Dial procedure is executing...\nYou cann't run Tavrin Dial now...",
                        "Failed to launch Tavrin Dial program....");
}

bool CompanionLauncher::launchMail(const QueuedMail& mail) {
    const bool ok = launch(m_email, emailCommand(true, mail.condition),
                           {std::string(SettingsStore::kAttachedImageVariable) + "=" + mail.image,
                            std::string(SettingsStore::kAttachedVideoVariable) + "=" + mail.video});
    if (!ok)
        error("Failed to launch Tavrin Email program....");
    return ok;
}

bool CompanionLauncher::StartEmail(bool withCondition, int conditionNumber) {
    if (!withCondition)
        return startGuarded(m_email, emailCommand(false, 0), "Another Sending Mail procedure is executing...",
                            "Failed to launch Tavrin Email program....");
    // The alarm's evidence as it is now: by the time a queued mail goes, later alarms have
    // written theirs in its place.
    QueuedMail mail{conditionNumber, m_settings.attachedImagePath(), m_settings.attachedVideoPath()};
    std::unique_lock lock(m_email.mutex);
    if (isFree(m_email) && m_mailQueue.empty())
        return launchMail(mail);
    if (m_settings.settings().TracingMode == 2)
        error("Another Sending Mail procedure is executing...");
    m_mailQueue.push_back(std::move(mail));
    if (!m_waiterRunning) {
        // An earlier waiter has finished (it said so under this lock) and is collected first.
        if (m_mailWaiter.joinable())
            m_mailWaiter.join();
        m_waiterRunning = true;
        m_mailWaiter = std::thread([this] { sendQueuedMails(); });
    }
    return false;
}

size_t CompanionLauncher::queuedMails() {
    std::lock_guard lock(m_email.mutex);
    return m_mailQueue.size();
}

void CompanionLauncher::sendQueuedMails() {
    std::unique_lock lock(m_email.mutex);
    while (!m_ending) {
        m_mailWake.wait_for(lock, std::chrono::milliseconds(200));
        if (m_ending)
            break;
        if (!isFree(m_email))
            continue;
        if (m_mailQueue.empty())
            break;
        const QueuedMail next = std::move(m_mailQueue.front());
        m_mailQueue.pop_front();
        launchMail(next);
    }
    // The next queued mail starts a new waiter: this one is done.
    m_waiterRunning = false;
}

void CompanionLauncher::reapUserPrograms() {
    std::erase_if(m_userPrograms, [](pid_t pid) {
        const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
        return r == pid || r < 0;
    });
}

bool CompanionLauncher::StartUserProgram(const std::string& commandLine) {
    std::lock_guard lock(m_userMutex);
    reapUserPrograms();
    const auto argv = splitCommandLine(commandLine);
    pid_t pid = 0;
    if (!argv || argv->empty() || !spawn(*argv, pid, true))
        return false;
    m_userPrograms.push_back(pid);
    return true;
}

} // namespace gardivo
