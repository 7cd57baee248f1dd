#pragma once

// Where each program keeps a user's own files. A copy whose program directory its user may write
// (the build tree, an unpacked folder) keeps them beside itself, as it always did. An installed
// copy (its program directory holds the file "installed", or its user may not write there)
// keeps them per user, after the XDG base directories:
//   settings (watchdog.cfg, sources.txt)   $XDG_CONFIG_HOME/gardivo   (~/.config/gardivo)
//   data (watchdog.mdb)                    $XDG_DATA_HOME/gardivo     (~/.local/share/gardivo)
//   state (Email.Log, watchdog.log)        $XDG_STATE_HOME/gardivo    (~/.local/state/gardivo)
// GARDIVO_INSTANCE=name (a service watching one camera) gives each its own folder below these,
// in either layout. The installed sources.txt is the default a user's own file starts from.

#include "ProgramDirectory.h"

#include <string>

namespace gardivo {

struct UserPlaces {
    bool perUser = false; // the installed layout
    std::string settings; // each with a trailing '/'
    std::string data;
    std::string state;
};

// The file cmake --install puts in the program directory.
inline constexpr const char* kInstalledMarker = "installed";

// The places for a program directory (with its trailing '/'), the user's home and environment.
UserPlaces userPlaces(const std::string& programDirectory, const std::string& home = homeDirectory());

// The user's sources.txt: in the installed layout it is made from the installed one the first
// time it is asked for (a missing or unreadable default leaves it missing).
std::string userSourcesFile(const UserPlaces& places, const std::string& programDirectory);

// The command that starts gardivo, as an autostart entry should name it: the installed launcher
// (prefix/bin/gardivo beside prefix/lib/gardivo) when there is one, else the program itself.
std::string gardivoLauncher(const std::string& programDirectory);

} // namespace gardivo
