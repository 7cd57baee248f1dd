// The administrator test as it stands here: may this account write where the programs write.

#include "platform/SystemInfo.h"
#include "platform/tests/OrdinaryUser.h"
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
    EXPECT_TRUE(checkAsOrdinaryUser([&] { return mayWritePlaces({program, registry}); }));
    // A program directory it may only read (an installed copy) fails, and is named.
    ::chmod(program.c_str(), 0555);
    std::string named;
    EXPECT_FALSE(checkAsOrdinaryUser([&] {
        return mayWritePlaces({registry, program}, &named) || named != program;
    }));
    // A place below a folder it cannot write into cannot be made.
    EXPECT_FALSE(checkAsOrdinaryUser([&] { return mayWritePlace(program + "/sub/watchdog.cfg"); }));
    ::chmod(program.c_str(), 0755);
    EXPECT_TRUE(checkAsOrdinaryUser([&] { return mayWritePlace(program + "/sub/watchdog.cfg"); }));
    // System folders are no place of an ordinary account's.
    EXPECT_FALSE(checkAsOrdinaryUser([] { return mayWritePlace("/usr/lib/gardivo-test-nowhere"); }));
    EXPECT_FALSE(mayWritePlace(""));
}

} // namespace
