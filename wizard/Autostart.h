#pragma once

// "Auto-run whenever system boots up": an XDG autostart entry, gardivo.desktop in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart), that starts the
// program directory's gardivo when the user's session begins.

#include <string>

namespace gardivo {

class Autostart {
public:
    static std::string defaultDirectory();
    explicit Autostart(std::string directory = defaultDirectory()) : m_directory(std::move(directory)) {}

    std::string entryPath() const { return m_directory + "/gardivo.desktop"; }

    enum class Result {
        Done,
        NoFolder,   // the autostart folder cannot be made or is not a folder
        EntryFailed // the entry cannot be written or removed
    };
    // Writes the entry for the program.
    Result enable(const std::string& program);
    // Removes the entry when there is one.
    Result disable();
    bool isEnabled() const;

private:
    std::string m_directory;
};

} // namespace gardivo
