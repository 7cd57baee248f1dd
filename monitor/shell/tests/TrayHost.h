#pragma once

// A desktop with a notification area, for the tests of what the program does through its tray
// icon: a private X server of its own with a real XEmbed tray host (trayer) on it. It must be
// started before the test's QApplication connects to a display; the program then finds the tray
// as it would on a user's desktop, docks its icon there and gets the clicks of that icon.

#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace gardivo::testing {

class TrayHost {
public:
    TrayHost() {
        // Xvfb says the display it took on a pipe (-displayfd), so it never clashes with another.
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            throw std::runtime_error("no pipe for Xvfb");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        m_server =
            spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                  &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        std::string number;
        char c = 0;
        while (::read(pipeEnds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeEnds[0]);
        if (m_server <= 0 || number.empty())
            throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
        const std::string display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
        // The notification area is found on the display, not through a desktop's session bus.
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        m_tray = spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                        "120", "--height", "32"},
                       &actions);
        posix_spawn_file_actions_destroy(&actions);
        if (m_tray <= 0)
            throw std::runtime_error("trayer did not start (is the trayer package installed?)");
    }

    ~TrayHost() {
        for (pid_t child : {m_tray, m_server})
            if (child > 0) {
                ::kill(child, SIGTERM);
                ::waitpid(child, nullptr, 0);
            }
    }

    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    // Whether the host still runs (it leaves when its display goes).
    bool running() const { return m_tray > 0 && ::waitpid(m_tray, nullptr, WNOHANG) == 0; }

private:
    static pid_t spawn(std::vector<std::string> arguments, const posix_spawn_file_actions_t* actions) {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        if (::posix_spawnp(&child, argv[0], actions, nullptr, argv.data(), environ) != 0)
            return 0;
        return child;
    }

    pid_t m_server = 0;
    pid_t m_tray = 0;
};

} // namespace gardivo::testing
