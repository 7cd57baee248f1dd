#pragma once

#include <clocale>
#include <cstdlib>
#include <string>

namespace gardivo::testing {

// Switches a locale category to `name` (such as "de_DE.UTF-8"), compiling the locale with
// localedef into `directory` when the machine does not have it: glibc reads LOCPATH at every
// setlocale, so tests do not depend on the locales installed. False when neither works (the
// Debian package "locales" brings localedef and the sources).
inline bool useCompiledLocale(int category, const std::string& name, const std::string& directory) {
    if (std::setlocale(category, name.c_str()))
        return true;
    const std::string base = name.substr(0, name.find('.'));
    const std::string command =
        "localedef -i " + base + " -f UTF-8 '" + directory + "/" + name + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return false;
    ::setenv("LOCPATH", directory.c_str(), 1);
    const bool ok = std::setlocale(category, name.c_str()) != nullptr;
    ::unsetenv("LOCPATH");
    return ok;
}

} // namespace gardivo::testing
