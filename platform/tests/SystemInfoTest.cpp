// The administrator test as it stands here: may this account write where the programs write.

#include "platform/SystemInfo.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// Runs the check as an ordinary account: as root, in a child that has dropped to nobody
// (root may write anything); otherwise in this process.
bool asOrdinaryUser(const std::function<bool()>& check) {
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(3);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3) << "could not become an ordinary user";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(AdministratorTest, AnAccountPassesWhereItMayWriteTheProgramsPlacesAndNowhereElse) {
    TempDir own;
    // Everything under this folder belongs to the ordinary account (or to us, when not root).
    if (::geteuid() == 0)
        ASSERT_EQ(::chown(own.path().c_str(), 65534, 65534), 0);
    const std::string program = own.file("program");
    const std::string registry = own.file("config/Tavrin");
    fs::create_directories(program);
    if (::geteuid() == 0)
        ASSERT_EQ(::chown(program.c_str(), 65534, 65534), 0);
    // Writable: a folder of its own, and one still to be made below it.
    EXPECT_TRUE(asOrdinaryUser([&] { return mayWritePlaces({program, registry}); }));
    // A program directory it may only read (an installed copy) fails, and is named.
    ::chmod(program.c_str(), 0555);
    std::string named;
    EXPECT_FALSE(asOrdinaryUser([&] {
        return mayWritePlaces({registry, program}, &named) || named != program;
    }));
    // A place below a folder it cannot write into cannot be made.
    EXPECT_FALSE(asOrdinaryUser([&] { return mayWritePlace(program + "/sub/watchdog.cfg"); }));
    ::chmod(program.c_str(), 0755);
    EXPECT_TRUE(asOrdinaryUser([&] { return mayWritePlace(program + "/sub/watchdog.cfg"); }));
    // System folders are no place of an ordinary account's.
    EXPECT_FALSE(asOrdinaryUser([] { return mayWritePlace("/usr/lib/gardivo-test-nowhere"); }));
    EXPECT_FALSE(mayWritePlace(""));
}

} // namespace
