#pragma once

// The codec's quality level as every program keeps it: key "TRV2QL" of section "TavrinCap.Drv" in
// "system.ini", in the same directory as the registry files of the suite.

#include <string>

namespace gardivo::trv2 {

// $TAVRIN_REGISTRY_DIR, else $XDG_CONFIG_HOME/Tavrin, else ~/.config/Tavrin, plus "/system.ini".
std::string systemIniPath();

// The stored level; 5 when there is none, it cannot be read, or it is above 10 (read unsigned).
int readQualityLevel(const std::string& path = systemIniPath());
// Writes the level as one decimal digit ("%1d"), keeping the rest of the file. A failure is
// reported by the result only.
bool writeQualityLevel(int level, const std::string& path = systemIniPath());

// The level rules of the quality interface, for one encoder element.
class QualityLevel {
public:
    QualityLevel();
    int get() const { return m_level; }
    // Applies the level to the process-wide tables (above 10: row 5), keeps 5 instead of 10 or
    // more, stores it. Returns the packed parameters in force.
    uint32_t put(int level);
    uint32_t reset() { return put(9999); }
    uint32_t packedParameters() const { return m_params; }

private:
    int m_level;
    uint32_t m_params;
};

} // namespace gardivo::trv2
