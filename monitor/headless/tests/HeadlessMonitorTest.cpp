// gardivo-monitor as a user runs it: the whole chain from the Test Pattern to the evidence
// bitmap, the clip, the mail and the history row, ended by a signal.

#include "codec_filter/AviReader.h"
#include "monitor/capture/tests/PlayedFrames.h"
#include "monitor/history/HistoryStore.h"
#include "platform/tests/TempDir.h"
#include "settings/WatchdogSettings.h"

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class HeadlessMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        gst_registry_scan_path(gst_registry_get(), GARDIVO_PROGRAM_DIR);
        writeText(
            m_program.file("sources.txt"),
            "# quick to the point\nQuick|gardivotestsrc still-seconds=1 move-seconds=0.5 rest-seconds=30\n");
        writeText(m_program.file("email"),
                  "#!/bin/sh\necho \"email $*\" >> \"$(dirname \"$0\")/calls.txt\"\n");
        fs::permissions(m_program.file("email"), fs::perms::owner_all);
        auto s = defaultSettings(ProgramKind::Wizard, m_program.path());
        setFieldText(s.WorkingDirectory, m_program.file("work"));
        s.ActionFlags = 1 | 4; // a clip and a mail
        s.RecordTimeLimit = 2;
        s.TracingMode = 0;
        s.StopRule = 0;
        const auto bytes = s.toBytes();
        writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    // Starts the monitor with its output going to a file; returns its process id.
    pid_t start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {GARDIVO_PROGRAM_DIR "/gardivo-monitor", "--program-dir", m_program.path()});
        std::vector<char*> argv;
        for (auto& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings = {"TAVRIN_REGISTRY_DIR=" + m_registry.path(),
                                               "HOME=" + m_program.path()};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("TAVRIN_REGISTRY_DIR=", 0) != 0 &&
                std::string(*e).rfind("HOME=", 0) != 0)
                envStrings.push_back(*e);
        std::vector<char*> envp;
        for (auto& e : envStrings)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_program.file("output.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    std::string output() const { return readText(m_program.file("output.txt")); }
    bool waitForOutput(const std::string& text, std::chrono::seconds limit) {
        for (auto t = 0ms; t < limit; t += 100ms) {
            if (output().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    int stop(pid_t pid, int signal = SIGTERM) {
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    TempDir m_program;
    TempDir m_registry;
};

TEST_F(HeadlessMonitor, AnAlarmLeavesItsBitmapClipMailAndHistoryRow) {
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    // The clip runs two seconds; the signal comes while it may still be written.
    std::this_thread::sleep_for(1000ms);
    const int status = stop(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
    const std::string out = output();
    EXPECT_NE(out.find("source: Quick (1 of 1)"), std::string::npos) << out;
    EXPECT_NE(out.find("start: WatchDog"), std::string::npos) << out;
    EXPECT_NE(out.find("mode StandBy"), std::string::npos) << out;

    HistoryStore history(m_program.dir());
    const auto rows = history.allRecords();
    ASSERT_EQ(rows.size(), 1u) << out;
    const HistoryRecord& row = rows[0];
    EXPECT_EQ(row.Description, "Condition001");
    EXPECT_EQ(fs::path(row.ImagePath).parent_path().parent_path(), fs::path(m_program.file("work")));
    EXPECT_EQ(fs::path(row.ImagePath).filename(), "error001.bmp");
    EXPECT_EQ(fs::path(row.VideoPath).filename(), "error001.avi");
    EXPECT_EQ(fs::file_size(row.ImagePath), 54u + 320 * 3 * 480);
    const auto info = readTrv2StreamInfo(row.VideoPath);
    ASSERT_TRUE(info) << row.VideoPath;
    EXPECT_EQ(info->width, 320);
    EXPECT_GT(playedFrames(row.VideoPath), 10);
    EXPECT_EQ(readText(m_program.file("calls.txt")), "email 1\n");
}

TEST_F(HeadlessMonitor, ASignalDuringAClipLeavesItFinishedAndPlayable) {
    auto s = defaultSettings(ProgramKind::Wizard, m_program.path());
    setFieldText(s.WorkingDirectory, m_program.file("work"));
    s.ActionFlags = 1;
    s.RecordTimeLimit = 0; // recorded until something stops it
    const auto bytes = s.toBytes();
    writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stop(pid, SIGINT), 0) << output();
    EXPECT_NE(output().find("clip ended"), std::string::npos) << output();
    const auto rows = HistoryStore(m_program.dir()).allRecords();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(playedFrames(rows[0].VideoPath), 20);
}

TEST_F(HeadlessMonitor, ItListsItsSourcesAndRefusesUnknownOptions) {
    const pid_t list = start({"--list"});
    int status = 0;
    ::waitpid(list, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(output().find("video  Quick"), std::string::npos) << output();
    const pid_t wrong = start({"--bogus"});
    ::waitpid(wrong, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(output().find("usage:"), std::string::npos);
}

} // namespace
