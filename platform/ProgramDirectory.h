#pragma once

#include <string>
#include <string_view>

namespace gardivo {

// Directory of the running executable, always with a trailing '/'. The programs keep their
// settings, database, skins and companion programs there.
std::string executableDirectory();

// The user's home directory (HOME, else the password database), without a trailing '/'.
std::string homeDirectory();

// Joins a directory and a name with exactly one '/' between them.
std::string joinPath(std::string_view directory, std::string_view name);

// Everything up to and including the last '/', or "" when there is none.
std::string parentDirectory(std::string_view path);

} // namespace gardivo
