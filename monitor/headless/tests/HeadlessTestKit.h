#pragma once

// gardivo-monitor run as a user runs it, in a program directory of its own, with its output in a
// file the test reads; and the servers (cameras) the tests start beside it.

#include "platform/tests/TempDir.h"
#include "settings/WatchdogSettings.h"

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace gardivo::testing {

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
        std::filesystem::permissions(m_program.file("email"), std::filesystem::perms::owner_all);
        auto s = defaultSettings(ProgramKind::Wizard, m_program.path());
        setFieldText(s.WorkingDirectory, m_program.file("work"));
        s.ActionFlags = 1 | 4; // a clip and a mail
        s.RecordTimeLimit = 2;
        s.TracingMode = 0;
        s.StopRule = 0;
        writeSettings(s);
    }
    void TearDown() override {
        for (pid_t pid : m_servers)
            stop(pid, SIGKILL);
    }

    void writeSettings(const WatchdogSettings& s) {
        const auto bytes = s.toBytes();
        writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    // Starts a program with its standard output and error going to a file; returns its id.
    pid_t spawn(std::vector<std::string> arguments, const std::string& outputFile,
                const std::string& inputFile = {}) {
        std::vector<char*> argv;
        for (auto& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // Our own plugins (the Test Pattern, TRV2) for whoever needs them.
        std::vector<std::string> envStrings = {"TAVRIN_REGISTRY_DIR=" + m_registry.path(),
                                               "HOME=" + m_program.path(),
                                               "GST_PLUGIN_PATH=" GARDIVO_PROGRAM_DIR};
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("TAVRIN_REGISTRY_DIR=", 0) != 0 && entry.rfind("HOME=", 0) != 0 &&
                entry.rfind("GST_PLUGIN_PATH=", 0) != 0)
                envStrings.push_back(entry);
        }
        std::vector<char*> envp;
        for (auto& e : envStrings)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!inputFile.empty())
            posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // Starts the monitor on this program directory; returns its process id.
    pid_t start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {GARDIVO_PROGRAM_DIR "/gardivo-monitor", "--program-dir", m_program.path()});
        return spawn(std::move(arguments), m_program.file("output.txt"));
    }

    // Starts a test server of the build's tests folder; returns the port it listens on, or 0.
    int startServer(const std::string& name, std::vector<std::string> arguments) {
        const std::string out = m_program.file(name + "-" + std::to_string(m_servers.size()) + ".txt");
        arguments.insert(arguments.begin(), std::string(GARDIVO_TEST_TOOLS_DIR "/") + name);
        const pid_t pid = spawn(std::move(arguments), out);
        m_servers.push_back(pid);
        for (auto t = std::chrono::milliseconds(0); t < std::chrono::seconds(10);
             t += std::chrono::milliseconds(50)) {
            int port = 0;
            if (std::sscanf(readText(out).c_str(), "port %d", &port) == 1)
                return port;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }
    // Stops the newest server.
    void stopServer() {
        if (m_servers.empty())
            return;
        stop(m_servers.back(), SIGKILL);
        m_servers.pop_back();
    }

    std::string output() const { return readText(m_program.file("output.txt")); }
    bool waitForOutput(const std::string& text, std::chrono::seconds limit) {
        for (auto t = std::chrono::milliseconds(0); t < limit; t += std::chrono::milliseconds(100)) {
            if (output().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    size_t countInOutput(const std::string& text) const {
        const std::string out = output();
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    }
    int stop(pid_t pid, int signal = SIGTERM) {
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    TempDir m_program;
    TempDir m_registry;
    std::vector<pid_t> m_servers;
};

} // namespace gardivo::testing
