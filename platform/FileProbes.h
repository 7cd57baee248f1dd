#pragma once

#include <string>

namespace gardivo {

// True when the file can be opened for reading; a directory is no file.
bool FileExists(const std::string& path);

// True when a directory of that name could not be made because something of that name is there
// already (a plain file of the name counts too). The test makes the directory when there is
// none, and removes it again at once.
bool DirectoryExists(const std::string& path);

// Whether the path names a directory now (no side effects).
bool isDirectory(const std::string& path);

} // namespace gardivo
