#pragma once

// Keeps the evidence of the working directory within the user's limits: its size, its age, and
// enough free space for the next clip. The oldest watching runs go first, whole: their folder,
// every file in it and their history rows. The run being written is never touched, nor anything
// that is not a run's folder directly in the working directory. Each removal is a line of the log.

#include "HistoryStore.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

struct RetentionLimits {
    uint64_t maxBytes = 0;      // 0: no limit
    int maxDays = 0;            // 0: no limit
    uint64_t keepFreeBytes = 0; // 0: free space is not watched
    bool any() const { return maxBytes > 0 || maxDays > 0 || keepFreeBytes > 0; }
};

class EvidenceRetention {
public:
    using FreeSpace = std::function<std::optional<uint64_t>(const std::string&)>;

    struct Run {
        std::string name; // "YYYY.MM.DD_HH.MM.SS"
        uint64_t bytes = 0;
        int files = 0;
        std::time_t newest = 0; // the newest of its files, or the folder itself when empty
    };
    struct Outcome {
        std::vector<std::string> removed; // run names, oldest first
        uint64_t bytesFreed = 0;
    };

    EvidenceRetention(std::string workingDirectory, std::string historyDirectory, std::string logPath,
                      FreeSpace freeSpace = {});

    // Removes the oldest runs, never runningDirectory, until the limits hold.
    Outcome enforce(const RetentionLimits& limits, const std::string& runningDirectory);

    // The runs of the working directory, oldest first.
    std::vector<Run> runs() const;
    static bool isRunName(const std::string& name);

private:
    bool removeRun(const Run& run, const char* reason);
    void log(const std::string& line);

    std::string m_working;
    std::string m_historyDirectory;
    std::string m_logPath;
    FreeSpace m_freeSpace;
};

} // namespace gardivo
