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
// What deleting history rows did.
struct DeleteOutcome {
    bool ok = false;     // the database could be read and the deletion was stored
    int rowsFound = 0;   // rows of the group as first read
    int rowsDeleted = 0; // rows deleted
    int rowsLeft = 0;    // rows of the group left afterwards
    // Files named by deleted rows that lie outside the working directory, or are no plain files
    // of their group's directory: they are left alone.
    std::vector<std::string> filesLeft;
};

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
    // empty. Rows come from a file anyone may edit, so only plain files inside the group's
    // directory under the working directory (after links and ".." are resolved) are removed.
    DeleteOutcome DeleteRecords(const std::string& workingDirectory, const std::string& groupName,
                                const std::string& description);
    // Deletes the rows whose evidence directory no longer exists: the directory of the row's
    // picture when it names one, else the group's directory under the working directory. Nothing
    // is pruned while the working directory itself is missing (an unmounted disk would empty the
    // whole history). removedGroups receives each group that lost its rows, in table order.
    bool PruneMissingGroups(const std::string& workingDirectory, std::vector<std::string>& removedGroups);

    // The process-wide history lock every operation holds.
    static std::mutex& historyLock() { return s_lock; }

    // Every row in table order (for the console monitor and the tests).
    std::vector<HistoryRecord> allRecords();

private:
    class Connection;

    std::string m_path;
    // One lock for the whole process: the windows and the engine thread each hold a store.
    static std::mutex s_lock;
};

} // namespace gardivo
