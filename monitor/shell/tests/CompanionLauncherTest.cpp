#include "monitor/shell/CompanionLauncher.h"
#include "monitor/shell/CommandLine.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// Children of this process that ended and were never collected.
int zombieChildren() {
    int zombies = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = readText(entry.path().string() + "/stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == ::getpid() &&
            state == 'Z')
            ++zombies;
    }
    return zombies;
}

// Stand-in companions: shell scripts that note how they were called, and linger a while when
// asked to, so that a second start finds them busy.
class CompanionTest : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    SettingsStore m_store{ProgramKind::Email, m_registry, m_reporter, m_program.dir(),
                          m_program.file("home")};

    void install(const std::string& name, double linger_s = 0) {
        const std::string path = m_program.file(name);
        writeText(path,
                  "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> \"$(dirname \"$0\")/calls.txt\"\nsleep " +
                      std::to_string(linger_s) + "\n");
        fs::permissions(path, fs::perms::owner_all);
    }
    std::string calls() const { return readText(m_program.file("calls.txt")); }
    // Waits until the launcher sees the companion finished.
    template <typename Free>
    bool waitFree(Free free, int tries = 300) {
        for (int i = 0; i < tries; ++i) {
            if (free())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(CompanionTest, CommandLinesCarryTheConditionNumber) {
    CompanionLauncher launcher(m_store, m_reporter);
    EXPECT_EQ(launcher.emailCommand(true, 7), (std::vector<std::string>{m_program.dir() + "email", "7"}));
    EXPECT_EQ(launcher.emailCommand(false, 7), std::vector<std::string>{m_program.dir() + "email"});
    EXPECT_EQ(launcher.dialCommand(true, 12), (std::vector<std::string>{m_program.dir() + "dial", "12"}));
    EXPECT_EQ(launcher.setupWizardCommand(), std::vector<std::string>{m_program.dir() + "cfgwiz"});

    install("email");
    install("dial");
    ASSERT_TRUE(launcher.StartEmail(true, 7));
    ASSERT_TRUE(waitFree([&] { return launcher.IsEmailFree(); }));
    ASSERT_TRUE(launcher.StartDial(false));
    ASSERT_TRUE(waitFree([&] { return launcher.IsDialFree(); }));
    EXPECT_EQ(calls(), "email 7\ndial \n");
}

TEST_F(CompanionTest, AnAlarmsMailThatFindsAnotherBeingSentGoesOnceItEndsWithItsOwnEvidence) {
    // A mail run that takes a while (a server tried again), noting the evidence it was handed.
    writeText(m_program.file("email"), "#!/bin/sh\necho \"email $* $GARDIVO_ATTACHED_IMAGE\" >> \"$(dirname "
                                       "\"$0\")/calls.txt\"\nsleep 0.4\n");
    fs::permissions(m_program.file("email"), fs::perms::owner_all);
    CompanionLauncher launcher(m_store, m_reporter);
    const auto alarm = [&](int n) {
        m_store.setAttachedImagePath("/evidence/error00" + std::to_string(n) + ".bmp");
        return launcher.StartEmail(true, n);
    };
    ASSERT_TRUE(alarm(1));
    EXPECT_FALSE(launcher.IsEmailFree());
    EXPECT_FALSE(alarm(2));                     // not now: after the first
    EXPECT_TRUE(m_reporter.messages().empty()); // said only while tracing by hand
    m_store.settings().TracingMode = 2;
    EXPECT_FALSE(alarm(3));
    ASSERT_EQ(m_reporter.messages().size(), 1u);
    EXPECT_EQ(m_reporter.messages()[0].text, "Another Sending Mail procedure is executing...");
    EXPECT_TRUE(m_reporter.messages()[0].topmost);
    EXPECT_EQ(launcher.queuedMails(), 2u);
    // A mail by hand is not queued: the user may send it again.
    EXPECT_FALSE(launcher.StartEmail(false));

    // Each goes in its turn, with the evidence of its own alarm.
    ASSERT_TRUE(waitFree([&] { return launcher.queuedMails() == 0 && launcher.IsEmailFree(); }, 1000));
    EXPECT_EQ(calls(), "email 1 /evidence/error001.bmp\nemail 2 /evidence/error002.bmp\n"
                       "email 3 /evidence/error003.bmp\n");
    // With nothing being sent, an alarm's mail goes at once again.
    EXPECT_TRUE(alarm(4));
    EXPECT_TRUE(waitFree([&] { return launcher.IsEmailFree(); }));
}

TEST_F(CompanionTest, ASecondCallIsNotDialledWhileTheFirstRuns) {
    install("dial", 0.5);
    m_store.settings().TracingMode = 2;
    CompanionLauncher launcher(m_store, m_reporter);
    ASSERT_TRUE(launcher.StartDial(true, 1));
    EXPECT_FALSE(launcher.StartDial(true, 2));
    ASSERT_EQ(m_reporter.messages().size(), 1u);
    EXPECT_EQ(m_reporter.messages()[0].text,
              "Another Dial procedure is executing...\nYou cann't run Tavrin Dial now...");
    EXPECT_EQ(m_reporter.messages()[0].caption, "Tavrin Gardivo");
    EXPECT_EQ(m_reporter.messages()[0].icon, MessageIcon::Error);
    ASSERT_TRUE(waitFree([&] { return launcher.IsDialFree(); }));
    EXPECT_EQ(calls(), "dial 1\n");
}

TEST_F(CompanionTest, FinishedRunsAreCollected) {
    install("dial");
    install("hook");
    const int before = zombieChildren(); // runs of earlier tests in this process may linger
    CompanionLauncher launcher(m_store, m_reporter);
    ASSERT_TRUE(launcher.StartDial(true, 1));
    ASSERT_TRUE(launcher.StartUserProgram(m_program.file("hook")));
    ASSERT_TRUE(waitFree([&] { return launcher.IsDialFree(); }));
    for (int i = 0; i < 200 && calls().find("hook") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    launcher.StartUserProgram(""); // any later call collects the finished user program
    EXPECT_EQ(zombieChildren(), before);
}

TEST_F(CompanionTest, MissingProgramsAreSaid) {
    CompanionLauncher launcher(m_store, m_reporter);
    EXPECT_FALSE(launcher.StartEmail(true, 1));
    EXPECT_FALSE(launcher.StartDial(true, 1));
    EXPECT_FALSE(launcher.StartSetupWizard(true));
    EXPECT_EQ(m_reporter.texts(), (std::vector<std::string>{"Failed to launch Tavrin Email program....",
                                                            "Failed to launch Tavrin Dial program....",
                                                            "Error Executing Setup Wizard..."}));
    for (const auto& m : m_reporter.messages()) {
        EXPECT_EQ(m.caption, "Tavrin Gardivo");
        EXPECT_EQ(m.icon, MessageIcon::Error);
        EXPECT_TRUE(m.topmost);
    }
    EXPECT_TRUE(launcher.IsEmailFree());
}

TEST_F(CompanionTest, TheWizardStartsAgainOnlyWhenForced) {
    install("cfgwiz", 0.5);
    CompanionLauncher launcher(m_store, m_reporter);
    ASSERT_TRUE(launcher.StartSetupWizard(true));
    EXPECT_FALSE(launcher.IsSetupWizardFree());
    EXPECT_FALSE(launcher.StartSetupWizard(false));
    EXPECT_TRUE(launcher.StartSetupWizard(true));
    ASSERT_TRUE(waitFree([&] { return launcher.IsSetupWizardFree(); }));
}

TEST_F(CompanionTest, OnlyOneOfTwoThreadsStartsTheMail) {
    install("email", 0.5);
    CompanionLauncher launcher(m_store, m_reporter);
    std::atomic<int> started{0};
    std::thread a([&] { started += launcher.StartEmail(true, 1); });
    std::thread b([&] { started += launcher.StartEmail(true, 2); });
    a.join();
    b.join();
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(waitFree([&] { return launcher.IsEmailFree(); }));
}

TEST_F(CompanionTest, TheUsersProgramRunsWithoutAShell) {
    install("alarm-hook");
    CompanionLauncher launcher(m_store, m_reporter);
    const std::string marker = m_program.file("not-created");
    ASSERT_TRUE(
        launcher.StartUserProgram("'" + m_program.file("alarm-hook") + "' \"two words\" ; touch " + marker));
    for (int i = 0; i < 200 && calls().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(calls(), "alarm-hook two words ; touch " + marker + "\n");
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(launcher.StartUserProgram(m_program.file("no-such-program")));
    EXPECT_FALSE(launcher.StartUserProgram(""));
    EXPECT_FALSE(launcher.StartUserProgram("'unterminated"));
    EXPECT_TRUE(m_reporter.messages().empty());
}

TEST(CommandLine, SplitsLikeAShellWithoutExpanding) {
    using V = std::vector<std::string>;
    EXPECT_EQ(*splitCommandLine("  notify-send   Alarm  "), (V{"notify-send", "Alarm"}));
    EXPECT_EQ(*splitCommandLine(R"(prog "a b" 'c d' e\ f "q\"x" '$HOME')"),
              (V{"prog", "a b", "c d", "e f", "q\"x", "$HOME"}));
    EXPECT_EQ(*splitCommandLine(R"(a""b '' "")"), (V{"ab", "", ""}));
    EXPECT_EQ(*splitCommandLine(""), V{});
    EXPECT_FALSE(splitCommandLine("\"open"));
    EXPECT_FALSE(splitCommandLine("x 'open"));
}

} // namespace
