#include "HistoryStore.h"

#include "platform/FileProbes.h"
#include "platform/ProgramDirectory.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement& bind(int index, const std::string& text) {
        if (m_stmt)
            sqlite3_bind_text(m_stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, sqlite3_int64 value) {
        if (m_stmt)
            sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    std::string text(int column) const {
        const auto* p = sqlite3_column_text(m_stmt, column);
        return p ? reinterpret_cast<const char*>(p) : "";
    }
    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    HistoryRecord record(int first) const {
        return {text(first),     text(first + 1), text(first + 2),
                text(first + 3), text(first + 4), text(first + 5)};
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// Every column of a row, after its rowid.
#define SELECT_ROWS "SELECT rowid, GroupName, Time, Remark, Description, ImagePath, VideoPath FROM history"

} // namespace

// One connection for one operation, inside one transaction.
class HistoryStore::Connection {
public:
    explicit Connection(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK) {
            close();
            return;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeout_ms);
        // The table comes with the database when there is none yet.
        if (!exec("CREATE TABLE IF NOT EXISTS history (GroupName TEXT, Time TEXT, Remark TEXT, "
                  "Description TEXT, ImagePath TEXT, VideoPath TEXT)") ||
            !exec("BEGIN IMMEDIATE"))
            close();
    }
    ~Connection() {
        if (m_db && !m_committed)
            exec("ROLLBACK");
        close();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const { return m_db != nullptr; }
    sqlite3* db() const { return m_db; }
    bool exec(const char* sql) {
        return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool commit() {
        m_committed = exec("COMMIT");
        return m_committed;
    }

private:
    void close() {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    sqlite3* m_db = nullptr;
    bool m_committed = false;
};

std::mutex HistoryStore::s_lock;

HistoryStore::HistoryStore(const std::string& directory) : m_path(joinPath(directory, kFileName)) {
    // The user's data folder of an installed copy is made with the first record.
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
}

std::string HistoryStore::pageConnectionString() const {
    std::string doubled;
    for (char c : parentDirectory(m_path)) {
        doubled += c;
        if (c == '\\')
            doubled += '\\';
    }
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + doubled + kFileName;
}

bool HistoryStore::AddRecord(const std::string& groupName, const HistoryRecord& record) {
    std::lock_guard lock(s_lock);
    Connection c(m_path);
    Statement insert(c.db(),
                     "INSERT INTO history (GroupName, Time, Remark, Description, ImagePath, VideoPath) "
                     "VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, groupName).bind(2, record.Time).bind(3, record.Remark);
    insert.bind(4, record.Description).bind(5, record.ImagePath).bind(6, record.VideoPath);
    return insert.step() == SQLITE_DONE && c.commit();
}

bool HistoryStore::UpdateRecord(const std::string& groupName, const std::string& description,
                                const HistoryRecord& record) {
    std::lock_guard lock(s_lock);
    Connection c(m_path);
    Statement select(c.db(), "SELECT rowid FROM history WHERE GroupName=? AND Description=?");
    select.bind(1, groupName).bind(2, description);
    if (select.step() != SQLITE_ROW)
        return false;
    const sqlite3_int64 row = select.integer(0);
    if (select.step() != SQLITE_DONE)
        return false; // more than one row, or an error
    Statement update(c.db(), "UPDATE history SET GroupName=?, Time=?, Remark=?, Description=?, ImagePath=?, "
                             "VideoPath=? WHERE rowid=?");
    update.bind(1, record.GroupName).bind(2, record.Time).bind(3, record.Remark).bind(4, record.Description);
    update.bind(5, record.ImagePath).bind(6, record.VideoPath).bind(7, row);
    return update.step() == SQLITE_DONE && c.commit();
}

int HistoryStore::FindRecord(const std::string& groupName, const std::string& description,
                             HistoryRecord& record) {
    std::lock_guard lock(s_lock);
    Connection c(m_path);
    Statement select(c.db(), SELECT_ROWS " WHERE GroupName=? AND Description=?");
    select.bind(1, groupName).bind(2, description);
    int count = 0;
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        if (count++ == 0)
            record = select.record(1);
    }
    return rc == SQLITE_DONE ? count : 0;
}

namespace {

std::string canonical(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// The resolved directory of a group, when it lies directly inside the working directory.
std::string groupDirectory(const std::string& root, const std::string& group) {
    if (root.empty() || group.empty() || group == "." || group == ".." ||
        group.find('/') != std::string::npos)
        return {};
    const std::string dir = canonical(joinPath(root, group));
    return !dir.empty() && parentDirectory(dir) == root + "/" ? dir : std::string();
}

// Removes a row's file when it is a plain file directly inside the group's directory; otherwise,
// when it names something that exists, it is noted as left alone.
void removeEvidenceFile(const std::string& path, const std::string& groupDir, DeleteOutcome& outcome) {
    if (path.empty())
        return;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return; // nothing there to remove
    const std::string resolved = canonical(path);
    struct stat target {};
    if (!groupDir.empty() && !resolved.empty() && parentDirectory(resolved) == groupDir + "/" &&
        ::lstat(resolved.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
        ::unlink(resolved.c_str());
        return;
    }
    outcome.filesLeft.push_back(path);
}

} // namespace

DeleteOutcome HistoryStore::DeleteRecords(const std::string& workingDirectory, const std::string& groupName,
                                          const std::string& description) {
    std::lock_guard lock(s_lock);
    DeleteOutcome outcome;
    Connection c(m_path);
    Statement select(c.db(), SELECT_ROWS " WHERE GroupName=?");
    select.bind(1, groupName);
    std::vector<std::pair<sqlite3_int64, HistoryRecord>> rows;
    int rc;
    while ((rc = select.step()) == SQLITE_ROW)
        rows.emplace_back(select.integer(0), select.record(1));
    if (rc != SQLITE_DONE)
        return outcome;
    outcome.rowsFound = static_cast<int>(rows.size());
    const std::string root = canonical(workingDirectory);
    const std::string groupDir = groupDirectory(root, groupName);
    int remaining = outcome.rowsFound;
    for (const auto& [rowid, row] : rows) {
        if (!description.empty() && row.Description != description)
            continue;
        Statement erase(c.db(), "DELETE FROM history WHERE rowid=?");
        erase.bind(1, rowid);
        if (erase.step() != SQLITE_DONE)
            break;
        removeEvidenceFile(row.ImagePath, groupDir, outcome);
        removeEvidenceFile(row.VideoPath, groupDir, outcome);
        --remaining;
        ++outcome.rowsDeleted;
        if (!description.empty())
            break; // one condition: the first row of that description
    }
    outcome.ok = c.commit();
    if (!outcome.ok) {
        outcome.rowsDeleted = 0;
        remaining = outcome.rowsFound;
    }
    outcome.rowsLeft = remaining;
    // The group's last row takes its directory with it, when nothing else is left in it.
    if (outcome.ok && remaining == 0 && !groupDir.empty())
        ::rmdir(groupDir.c_str());
    return outcome;
}

bool HistoryStore::PruneMissingGroups(const std::string& workingDirectory,
                                      std::vector<std::string>& removedGroups) {
    std::lock_guard lock(s_lock);
    if (!isDirectory(workingDirectory))
        return false;
    Connection c(m_path);
    Statement select(c.db(), "SELECT rowid, GroupName, ImagePath FROM history");
    struct Row {
        sqlite3_int64 rowid;
        std::string group;
        std::string image;
    };
    std::vector<Row> rows;
    int rc;
    while ((rc = select.step()) == SQLITE_ROW)
        rows.push_back({select.integer(0), select.text(1), select.text(2)});
    if (rc != SQLITE_DONE)
        return false;
    std::vector<std::string> removed;
    for (const auto& row : rows) {
        const std::string evidence =
            row.image.empty() ? joinPath(workingDirectory, row.group) : parentDirectory(row.image);
        // Looked at, not probed by making it: the watcher of this directory would take a
        // directory made and removed for a change, and ask for another pruning.
        if (isDirectory(evidence))
            continue;
        Statement erase(c.db(), "DELETE FROM history WHERE rowid=?");
        erase.bind(1, row.rowid);
        if (erase.step() != SQLITE_DONE)
            return false;
        if (std::find(removed.begin(), removed.end(), row.group) == removed.end())
            removed.push_back(row.group);
    }
    if (!c.commit())
        return false;
    removedGroups.insert(removedGroups.end(), removed.begin(), removed.end());
    return true;
}

std::vector<HistoryRecord> HistoryStore::allRecords() {
    std::lock_guard lock(s_lock);
    Connection c(m_path);
    Statement select(c.db(), SELECT_ROWS);
    std::vector<HistoryRecord> rows;
    while (select.step() == SQLITE_ROW)
        rows.push_back(select.record(1));
    return rows;
}

} // namespace gardivo
