#pragma once

#include <string>

namespace gardivo {

// True when the path names an existing file that is not a directory.
bool FileExists(const std::string& path);

// True when the path names an existing directory.
bool DirectoryExists(const std::string& path);

} // namespace gardivo
