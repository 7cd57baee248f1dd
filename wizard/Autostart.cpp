#include "Autostart.h"

#include "platform/FileOps.h"
#include "platform/ProgramDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace gardivo {

namespace {

// An Exec value: the path as one quoted argument. Inside the quotes ", `, $ and \ take a
// backslash; then, as in every string value of the file, each backslash is written twice.
std::string execArgument(const std::string& path) {
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$')
            out += "\\\\";
        else if (c == '\\')
            out += "\\\\\\";
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string Autostart::defaultDirectory() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/autostart";
    return homeDirectory() + "/.config/autostart";
}

Autostart::Result Autostart::enable(const std::string& program) {
    std::error_code ec;
    std::filesystem::create_directories(m_directory, ec);
    if (!std::filesystem::is_directory(m_directory, ec))
        return Result::NoFolder;
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Tavrin Gardivo\n"
                              "Comment=Video surveillance\n"
                              "Exec=" +
                              execArgument(program) +
                              "\n"
                              "Icon=" +
                              parentDirectory(program) +
                              "gardivo.png\n"
                              "Terminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n";
    return ReplaceFile(entryPath(), entry) ? Result::Done : Result::EntryFailed;
}

Autostart::Result Autostart::disable() {
    if (::unlink(entryPath().c_str()) == 0 || errno == ENOENT)
        return Result::Done;
    // Not there to remove when the folder is no folder at all.
    if (errno == ENOTDIR)
        return Result::Done;
    return Result::EntryFailed;
}

bool Autostart::isEnabled() const {
    return ::access(entryPath().c_str(), F_OK) == 0;
}

} // namespace gardivo
