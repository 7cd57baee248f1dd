#pragma once

// Runs a piece of a test as an ordinary account would: in a child process that, when the tests
// run as root (who may read and write anything), has first become nobody (uid and gid 65534).
// What the piece returns comes back through a pipe.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gardivo::testing {

inline std::string asOrdinaryUser(const std::function<std::string()>& work) {
    int ends[2];
    if (::pipe(ends) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                 ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(3);
        const std::string out = work();
        [[maybe_unused]] const auto written = ::write(ends[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child could not become an ordinary user";
    return out;
}

// The same for a yes-or-no answer.
inline bool checkAsOrdinaryUser(const std::function<bool()>& check) {
    return asOrdinaryUser([&] { return std::string(check() ? "1" : "0"); }) == "1";
}

} // namespace gardivo::testing
