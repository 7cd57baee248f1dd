#pragma once

#include "HistoryRecord.h"

#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace gardivo {

// The event history in "watchdog.mdb" (an SQLite database) in the program directory: table
// history with the six text columns of HistoryRecord. Every operation opens its own connection
// under one process-wide lock; values are always bound as parameters. A database that another
// process holds for a moment is waited for, up to the busy time-out.
class HistoryStore {
public:
    static constexpr const char* kFileName = "watchdog.mdb";
    static constexpr int kBusyTimeout_ms = 5000;

    explicit HistoryStore(const std::string& programDirectory);

    const std::string& databasePath() const { return m_path; }
    // The connection text handed to the history page (backslashes doubled for a script string).
    std::string pageConnectionString() const;

    // Inserts the record as a new row with its group replaced by the given one.
    bool AddRecord(const std::string& groupName, const HistoryRecord& record);
    // Rewrites the one row of (group, description) with the record; fails and changes nothing
    // unless exactly one row matches.
    bool UpdateRecord(const std::string& groupName, const std::string& description,
                      const HistoryRecord& record);
    // Rows of (group, description); the first is copied into record. 0 when the query fails.
    int FindRecord(const std::string& groupName, const std::string& description, HistoryRecord& record);
    // Deletes the rows of a group (description empty) or its first row of that description,
    // with their evidence files; the group directory goes with the group's last row when it is
    // empty. Returns the group's row count before deleting.
    int DeleteRecords(const std::string& groupName, const std::string& description);
    // Deletes the rows whose group directory no longer exists under the working directory;
    // lastRemovedGroup receives the group of the last row deleted and is untouched otherwise.
    bool PruneMissingGroups(const std::string& workingDirectory, std::string& lastRemovedGroup);

    // Every row in table order (for the console monitor and the tests).
    std::vector<HistoryRecord> allRecords();

private:
    class Connection;

    std::string m_path;
    std::mutex m_lock;
};

} // namespace gardivo
