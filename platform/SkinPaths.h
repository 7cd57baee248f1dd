#pragma once

// Paths that pages hand to the program. Skin folders are anyone's to edit and pages may be
// changed, so a path from a page is resolved and checked before anything is opened: pages and
// pictures only from inside the program directory, folders to explore only inside the working
// directory, files to open only when they are plain data files.
//
// The skins spell some folders in more than one letter case ("skins" and "Skins", "help" and
// "Help"); on Linux names are case-sensitive, so these paths are found component by component
// without regard to case.

#include <optional>
#include <string>
#include <vector>

namespace gardivo {

// base + relative, each component of relative matched without regard to case when the exact
// name is not there. Backslashes in relative count as separators. Nothing is required to exist:
// components that match nothing are kept as written.
std::string resolveWithoutCase(const std::string& base, const std::string& relative);

// The real path (links and ".." resolved) when it exists.
std::optional<std::string> canonicalPath(const std::string& path);

// Whether path, once resolved, is directory itself or lies below it.
bool isWithin(const std::string& directory, const std::string& path);

// A page or picture named by a page, relative to the program directory: the resolved real path
// of an existing plain file inside the program directory, else nothing.
std::optional<std::string> programFile(const std::string& programDirectory, const std::string& relative);

// Whether a file URL's path is a page of the skins (below the program directory's "skins"
// folder, in whatever case it is spelt); only such pages get window.external.
bool isSkinPage(const std::string& programDirectory, const std::string& localPath);

// The skins offered in the menu: the folders of program directory + "skins", except one named
// "HTML" (without regard to case), in name order.
std::vector<std::string> listSkins(const std::string& programDirectory);

// Whether a file may be handed to the desktop to open: an existing plain file, not executable
// by anyone, not a desktop entry, inside one of the allowed directories. Gives its real path.
std::optional<std::string> openableFile(const std::string& path,
                                        const std::vector<std::string>& allowedDirectories);

// The folder to show for Explore: working directory + folder, an existing directory inside the
// working directory. Gives its real path.
std::optional<std::string> explorableFolder(const std::string& workingDirectory, const std::string& folder);

} // namespace gardivo
