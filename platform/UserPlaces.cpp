#include "UserPlaces.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace gardivo {

namespace {

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

// An XDG base directory: the variable when it holds an absolute path, else home + fallback.
std::string baseDirectory(const char* variable, const std::string& home, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/')
        return value;
    return joinPath(home, fallback);
}

// A name that is one folder, nothing more.
bool usableInstanceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

UserPlaces userPlaces(const std::string& programDirectory, const std::string& home) {
    UserPlaces places;
    const std::string program = withSlash(programDirectory);
    std::error_code ec;
    places.perUser = std::filesystem::exists(program + kInstalledMarker, ec) ||
                     ::access(program.c_str(), W_OK | X_OK) != 0;
    std::string instance;
    if (const char* value = std::getenv("GARDIVO_INSTANCE"); value && usableInstanceName(value))
        instance = std::string(value) + "/";
    if (!places.perUser) {
        places.settings = places.data = places.state = program + instance;
        return places;
    }
    places.settings =
        withSlash(joinPath(baseDirectory("XDG_CONFIG_HOME", home, ".config"), "gardivo")) + instance;
    places.data =
        withSlash(joinPath(baseDirectory("XDG_DATA_HOME", home, ".local/share"), "gardivo")) + instance;
    places.state =
        withSlash(joinPath(baseDirectory("XDG_STATE_HOME", home, ".local/state"), "gardivo")) + instance;
    return places;
}

std::string userSourcesFile(const UserPlaces& places, const std::string& programDirectory) {
    const std::string own = places.settings + "sources.txt";
    if (places.settings == withSlash(programDirectory))
        return own;
    std::error_code ec;
    if (!std::filesystem::exists(own, ec)) {
        std::filesystem::create_directories(places.settings, ec);
        std::filesystem::copy_file(joinPath(programDirectory, "sources.txt"), own, ec);
        // A copy of a read-only file is read-only too; it is the user's own now.
        std::filesystem::permissions(own,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    }
    return own;
}

std::string gardivoLauncher(const std::string& programDirectory) {
    const std::string program = withSlash(programDirectory);
    std::error_code ec;
    if (std::filesystem::exists(program + kInstalledMarker, ec)) {
        const std::filesystem::path launcher =
            std::filesystem::path(program).parent_path().parent_path().parent_path() / "bin" / "gardivo";
        if (std::filesystem::exists(launcher, ec))
            return launcher.lexically_normal().string();
    }
    return program + "gardivo";
}

} // namespace gardivo
