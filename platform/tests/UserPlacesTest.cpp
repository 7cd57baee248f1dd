// Where a user's files go: beside a copy the user may write, per user for an installed one.

#include "platform/UserPlaces.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// Sets environment variables for one test and puts them back after it.
class Environment {
public:
    void set(const char* name, const std::string& value) {
        remember(name);
        ::setenv(name, value.c_str(), 1);
    }
    void unset(const char* name) {
        remember(name);
        ::unsetenv(name);
    }
    ~Environment() {
        for (const auto& [name, value] : m_saved)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }

private:
    void remember(const char* name) {
        for (const auto& saved : m_saved)
            if (saved.first == name)
                return;
        const char* value = std::getenv(name);
        m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(UserPlaces, AWritableCopyKeepsItsFilesAndAnInstalledOneKeepsThemPerUser) {
    TempDir program;
    TempDir home;
    Environment env;
    env.set("HOME", home.path());
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "GARDIVO_INSTANCE"})
        env.unset(v);

    // The build tree, an unpacked folder: beside the program.
    UserPlaces places = userPlaces(program.path());
    EXPECT_FALSE(places.perUser);
    EXPECT_EQ(places.settings, program.dir());
    EXPECT_EQ(places.data, program.dir());
    EXPECT_EQ(places.state, program.dir());

    // Installed: the XDG folders, with their defaults under the home folder.
    writeText(program.file(kInstalledMarker), "");
    places = userPlaces(program.dir());
    EXPECT_TRUE(places.perUser);
    EXPECT_EQ(places.settings, home.path() + "/.config/gardivo/");
    EXPECT_EQ(places.data, home.path() + "/.local/share/gardivo/");
    EXPECT_EQ(places.state, home.path() + "/.local/state/gardivo/");
    env.set("XDG_CONFIG_HOME", home.file("cfg"));
    env.set("XDG_DATA_HOME", "relative/ignored");
    places = userPlaces(program.dir());
    EXPECT_EQ(places.settings, home.file("cfg") + "/gardivo/");
    EXPECT_EQ(places.data, home.path() + "/.local/share/gardivo/");

    // A service's instance has folders of its own; a name that is no single folder is ignored.
    env.set("GARDIVO_INSTANCE", "front-door");
    places = userPlaces(program.dir());
    EXPECT_EQ(places.settings, home.file("cfg") + "/gardivo/front-door/");
    EXPECT_EQ(places.state, home.path() + "/.local/state/gardivo/front-door/");
    for (const char* bad : {"..", "a/b", ""}) {
        env.set("GARDIVO_INSTANCE", bad);
        EXPECT_EQ(userPlaces(program.dir()).settings, home.file("cfg") + "/gardivo/") << bad;
    }
    env.unset("GARDIVO_INSTANCE");

    // The installed sources.txt is where the user's own starts, once; later edits are kept.
    writeText(program.file("sources.txt"), "Test Pattern|gardivotestsrc\n");
    fs::permissions(program.file("sources.txt"), fs::perms::owner_read | fs::perms::group_read);
    places = userPlaces(program.dir());
    const std::string own = userSourcesFile(places, program.dir());
    EXPECT_EQ(own, home.file("cfg") + "/gardivo/sources.txt");
    EXPECT_EQ(readText(own), "Test Pattern|gardivotestsrc\n");
    writeText(own, "Door|rtsp://camera/stream\n");
    EXPECT_EQ(readText(userSourcesFile(places, program.dir())), "Door|rtsp://camera/stream\n");
    // An installed copy starts with the session through its launcher in bin.
    TempDir prefix;
    fs::create_directories(prefix.file("lib/gardivo"));
    fs::create_directories(prefix.file("bin"));
    writeText(prefix.file("lib/gardivo/gardivo"), "");
    EXPECT_EQ(gardivoLauncher(prefix.file("lib/gardivo") + "/"), prefix.file("lib/gardivo/gardivo"));
    writeText(prefix.file("lib/gardivo/installed"), "");
    EXPECT_EQ(gardivoLauncher(prefix.file("lib/gardivo") + "/"),
              prefix.file("lib/gardivo/gardivo")); // no launcher
    writeText(prefix.file("bin/gardivo"), "");
    EXPECT_EQ(gardivoLauncher(prefix.file("lib/gardivo") + "/"), prefix.file("bin/gardivo"));

    // Beside the program, the program's own file is the user's.
    fs::remove(program.file(kInstalledMarker));
    EXPECT_EQ(userSourcesFile(userPlaces(program.dir()), program.dir()), program.file("sources.txt"));
}

} // namespace
