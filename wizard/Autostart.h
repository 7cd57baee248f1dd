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
    // Writes the entry for the program; false when the folder or the file cannot be written.
    bool enable(const std::string& program);
    // Removes the entry when there is one; false when it is there and cannot be removed.
    bool disable();
    bool isEnabled() const;

private:
    std::string m_directory;
};

} // namespace gardivo
