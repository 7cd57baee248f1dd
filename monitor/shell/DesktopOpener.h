#pragma once

// Hands files and folders to the desktop's default handler (xdg-open through Qt), the way the
// program opens its help page, a clip or an evidence folder.

#include <string>
#include <vector>

namespace gardivo {

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // A local file or folder by its path; false when the desktop could not open it.
    virtual bool open(const std::string& path) = 0;
    // Asks where a file is to be saved, starting at the suggested path; "" when the user cancels.
    virtual std::string chooseSaveFile(const std::string& suggested, const std::string& filter) = 0;
};

class QtDesktopOpener final : public DesktopOpener {
public:
    bool open(const std::string& path) override;
    std::string chooseSaveFile(const std::string& suggested, const std::string& filter) override;
};

// Keeps what it was asked to open, for tests.
class RecordingDesktopOpener final : public DesktopOpener {
public:
    bool open(const std::string& path) override {
        opened.push_back(path);
        return succeeds;
    }
    std::string chooseSaveFile(const std::string& suggested, const std::string&) override {
        suggestions.push_back(suggested);
        return saveAs;
    }
    std::vector<std::string> opened;
    bool succeeds = true;
    std::vector<std::string> suggestions;
    std::string saveAs; // what the user "chooses"; "" cancels
};

} // namespace gardivo
