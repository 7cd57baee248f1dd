#include "QualitySetting.h"

#include "Trv2Encoder.h"
#include "platform/FileOps.h"
#include "platform/ProgramDirectory.h"
#include "platform/RegistryStore.h"
#include "platform/TextCase.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace gardivo::trv2 {

namespace {

constexpr const char* kSection = "TavrinCap.Drv";
constexpr const char* kKey = "TRV2QL";

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

} // namespace

std::string systemIniPath() {
    return joinPath(RegistryStore::defaultDirectory(), "system.ini");
}

int readQualityLevel(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (!line.empty() && line.front() == '[') {
            inSection =
                line.back() == ']' && equalsIgnoringCase(trim(line.substr(1, line.size() - 2)), kSection);
            continue;
        }
        const auto eq = line.find('=');
        if (!inSection || eq == std::string::npos || !equalsIgnoringCase(trim(line.substr(0, eq)), kKey))
            continue;
        // Read like GetPrivateProfileInt: leading digits, anything else gives the default.
        const std::string value = trim(line.substr(eq + 1));
        char* end = nullptr;
        errno = 0;
        const long level = std::strtol(value.c_str(), &end, 10);
        if (end == value.c_str() || errno)
            return kDefaultLevel;
        return static_cast<unsigned long>(level) > 10ul ? kDefaultLevel : static_cast<int>(level);
    }
    return kDefaultLevel;
}

bool writeQualityLevel(int level, const std::string& path) {
    // Encoders of several programs may store their level at once: the file is rewritten under the
    // lock the registry files are rewritten under.
    const std::string dir = parentDirectory(path);
    if (!dir.empty() && !MakeDirectories(dir))
        return false;
    FileLock lock(joinPath(dir.empty() ? "." : dir, RegistryStore::kLockName), true);
    if (!lock.ok())
        return false;
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
    }
    char value[16];
    std::snprintf(value, sizeof value, "%1d", level);
    const std::string entry = std::string(kKey) + "=" + value;
    // Replace the key in its section, or add it to the section, or add the section.
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        const std::string t = trim(lines[i]);
        if (!t.empty() && t.front() == '[') {
            if (inSection)
                break;
            inSection = t.back() == ']' && equalsIgnoringCase(trim(t.substr(1, t.size() - 2)), kSection);
            if (inSection)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (!t.empty())
            sectionEnd = i + 1;
        const auto eq = t.find('=');
        if (eq != std::string::npos && equalsIgnoringCase(trim(t.substr(0, eq)), kKey)) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd == std::string::npos) {
            lines.push_back(std::string("[") + kSection + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<long>(sectionEnd), entry);
        }
    }
    std::string contents;
    for (const auto& l : lines)
        contents += l + "\n";
    return ReplaceFile(path, contents);
}

QualityLevel::QualityLevel() {
    BuildEncoderTables();
    m_level = readQualityLevel();
    m_params = ApplyQualityLevel(m_level);
}

uint32_t QualityLevel::put(int level) {
    m_level = level;
    m_params = ApplyQualityLevel(m_level);
    if (m_level > 9)
        m_level = kDefaultLevel;
    writeQualityLevel(m_level);
    return m_params;
}

} // namespace gardivo::trv2
