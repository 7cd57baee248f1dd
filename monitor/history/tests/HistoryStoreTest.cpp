#include "monitor/history/HistoryStore.h"
#include "monitor/engine/Headless.h"
#include "monitor/history/WorkingDirWatcher.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sqlite3.h>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

class HistoryTest : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_work;
    HistoryStore m_store{m_program.dir()};

    // A group directory with evidence files for conditions 1..n, and their rows.
    std::string addGroup(const std::string& group, int n) {
        const std::string dir = m_work.file(group);
        fs::create_directories(dir);
        for (int i = 1; i <= n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "error%03d", i);
            HistoryRecord r{group,
                            "2026/12/07 10:00:0" + std::to_string(i),
                            "",
                            "Condition00" + std::to_string(i),
                            dir + "/" + name + ".bmp",
                            i % 2 ? dir + "/" + name + ".avi" : ""};
            writeText(r.ImagePath, "BM");
            if (!r.VideoPath.empty())
                writeText(r.VideoPath, "RIFF");
            EXPECT_TRUE(m_store.AddRecord(group, r));
        }
        return dir;
    }
};

TEST_F(HistoryTest, TheDatabaseIsCreatedWithItsTableAndKeepsRowsInOrder) {
    EXPECT_FALSE(fs::exists(m_store.databasePath()));
    addGroup("2026.12.07_10.00.00", 2);
    EXPECT_EQ(m_store.databasePath(), m_program.file("watchdog.mdb"));
    const auto rows = m_store.allRecords();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Description, "Condition001");
    EXPECT_EQ(rows[1].VideoPath, "");

    // Six text columns, in the order the page and other tools expect.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_store.databasePath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA table_info(history)", -1, &st, nullptr), SQLITE_OK);
    std::vector<std::string> columns;
    while (sqlite3_step(st) == SQLITE_ROW)
        columns.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) + " " +
                          reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_EQ(columns, (std::vector<std::string>{"GroupName TEXT", "Time TEXT", "Remark TEXT",
                                                 "Description TEXT", "ImagePath TEXT", "VideoPath TEXT"}));
}

TEST_F(HistoryTest, UpdateChangesARowOnlyWhenExactlyOneMatches) {
    addGroup("G", 2);
    HistoryRecord changed{"G", "t", " Release at 10:01:02 ", "Condition001", "/x.bmp", ""};
    EXPECT_TRUE(m_store.UpdateRecord("G", "Condition001", changed));
    HistoryRecord found;
    EXPECT_EQ(m_store.FindRecord("G", "Condition001", found), 1);
    EXPECT_EQ(found, changed);

    const auto before = m_store.allRecords();
    EXPECT_FALSE(m_store.UpdateRecord("G", "Condition009", changed)); // no row
    m_store.AddRecord("G", HistoryRecord{"G", "t", "", "Condition002", "", ""});
    const auto withTwin = m_store.allRecords();
    EXPECT_FALSE(m_store.UpdateRecord("G", "Condition002", changed)); // two rows
    EXPECT_EQ(m_store.allRecords(), withTwin);
    EXPECT_EQ(before.size() + 1, withTwin.size());
    EXPECT_EQ(m_store.FindRecord("G", "Condition002", found), 2);
    EXPECT_EQ(m_store.FindRecord("nope", "Condition001", found), 0);
}

TEST_F(HistoryTest, ValuesFromPagesAreDataNeverSql) {
    const std::string hostile = "x' OR '1'='1";
    addGroup("G", 2);
    EXPECT_TRUE(m_store.AddRecord(hostile, HistoryRecord{hostile, "t", "", "Condition001", "", ""}));
    EXPECT_EQ(m_store.DeleteRecords(m_work.path(), hostile, "").rowsFound, 1);
    EXPECT_EQ(m_store.allRecords().size(), 2u); // the other group is untouched
    HistoryRecord r;
    EXPECT_EQ(m_store.FindRecord("G", "Condition001' --", r), 0);
}

TEST_F(HistoryTest, DeletingAGroupTakesItsRowsFilesAndEmptyDirectory) {
    const std::string dir = addGroup("2026.12.07_10.00.00", 3);
    addGroup("2026.12.07_11.00.00", 1);
    const auto outcome = m_store.DeleteRecords(m_work.path(), "2026.12.07_10.00.00", "");
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.rowsFound, 3);
    EXPECT_EQ(outcome.rowsDeleted, 3);
    EXPECT_EQ(outcome.rowsLeft, 0);
    EXPECT_TRUE(outcome.filesLeft.empty());
    EXPECT_FALSE(fs::exists(dir));
    ASSERT_EQ(m_store.allRecords().size(), 1u);
    EXPECT_EQ(m_store.allRecords()[0].GroupName, "2026.12.07_11.00.00");

    // A directory that still holds something else stays.
    const std::string kept = addGroup("2026.12.07_12.00.00", 2);
    writeText(kept + "/manual001.bmp", "BM");
    EXPECT_EQ(m_store.DeleteRecords(m_work.path(), "2026.12.07_12.00.00", "").rowsDeleted, 2);
    EXPECT_TRUE(fs::exists(kept + "/manual001.bmp"));
    EXPECT_FALSE(fs::exists(kept + "/error001.bmp"));
}

TEST_F(HistoryTest, DeletingOneConditionTakesOnlyTheFirstRowOfItsDescription) {
    const std::string dir = addGroup("G", 3);
    auto outcome = m_store.DeleteRecords(m_work.path(), "G", "Condition002");
    EXPECT_EQ(outcome.rowsFound, 3);
    EXPECT_EQ(outcome.rowsLeft, 2);
    EXPECT_FALSE(fs::exists(dir + "/error002.bmp"));
    EXPECT_TRUE(fs::exists(dir + "/error001.bmp"));
    EXPECT_TRUE(fs::exists(dir + "/error003.avi"));
    EXPECT_EQ(m_store.allRecords().size(), 2u);

    // Two rows sharing a description (an edited database): only the first goes, with its files.
    writeText(dir + "/twin.bmp", "BM");
    m_store.AddRecord("G", HistoryRecord{"G", "t", "", "Condition001", dir + "/twin.bmp", ""});
    outcome = m_store.DeleteRecords(m_work.path(), "G", "Condition001");
    EXPECT_EQ(outcome.rowsDeleted, 1);
    EXPECT_EQ(outcome.rowsLeft, 2);
    EXPECT_FALSE(fs::exists(dir + "/error001.bmp"));
    EXPECT_TRUE(fs::exists(dir + "/twin.bmp"));
    HistoryRecord twin;
    EXPECT_EQ(m_store.FindRecord("G", "Condition001", twin), 1);
    EXPECT_EQ(twin.ImagePath, dir + "/twin.bmp");

    // The group's last row takes the emptied directory with it.
    EXPECT_EQ(m_store.DeleteRecords(m_work.path(), "G", "Condition001").rowsLeft, 1);
    fs::remove(dir + "/twin.bmp");
    outcome = m_store.DeleteRecords(m_work.path(), "G", "Condition003");
    EXPECT_EQ(outcome.rowsLeft, 0);
    EXPECT_FALSE(fs::exists(dir));
    outcome = m_store.DeleteRecords(m_work.path(), "G", "");
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.rowsFound, 0);
    EXPECT_EQ(outcome.rowsDeleted, 0);
}

TEST_F(HistoryTest, OnlyFilesOfTheGroupInsideTheWorkingDirectoryAreDeleted) {
    TempDir outside;
    const std::string victim = outside.file("precious.txt");
    writeText(victim, "keep me");
    const std::string dir = addGroup("G", 1);
    fs::create_directories(m_work.file("Other"));
    writeText(m_work.file("Other/error009.bmp"), "BM");
    fs::create_symlink(victim, dir + "/link.bmp");
    const std::vector<HistoryRecord> rows = {
        {"G", "t", "", "Condition002", victim, ""}, // absolute, outside
        {"G", "t", "", "Condition003",
         dir + "/../../" + fs::path(outside.path()).filename().string() + "/precious.txt", ""}, // climbs out
        {"G", "t", "", "Condition004", dir + "/link.bmp", ""},                  // a link leading out
        {"G", "t", "", "Condition005", m_work.file("Other/error009.bmp"), dir}, // another group; a directory
    };
    for (const auto& r : rows)
        ASSERT_TRUE(m_store.AddRecord("G", r));
    const auto outcome = m_store.DeleteRecords(m_work.path(), "G", "");
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.rowsDeleted, 5);
    EXPECT_EQ(readText(victim), "keep me");
    EXPECT_TRUE(fs::exists(m_work.file("Other/error009.bmp")));
    EXPECT_FALSE(fs::exists(dir + "/error001.bmp"));
    EXPECT_EQ(outcome.filesLeft,
              (std::vector<std::string>{rows[0].ImagePath, rows[1].ImagePath, rows[2].ImagePath,
                                        rows[3].ImagePath, rows[3].VideoPath}));
    EXPECT_TRUE(m_store.allRecords().empty());

    // A group name that points out of the working directory deletes nothing but its rows.
    writeText(outside.file("error001.bmp"), "BM");
    m_store.AddRecord("..", HistoryRecord{"..", "t", "", "Condition001", outside.file("error001.bmp"), ""});
    EXPECT_EQ(m_store.DeleteRecords(m_work.path(), "..", "").rowsDeleted, 1);
    EXPECT_TRUE(fs::exists(outside.file("error001.bmp")));
    EXPECT_TRUE(fs::exists(m_work.path()));
}

TEST_F(HistoryTest, PruningDropsGroupsWhoseDirectoryIsGone) {
    addGroup("2026.12.07_10.00.00", 2);
    const std::string gone = addGroup("2026.12.07_11.00.00", 1);
    const std::string alsoGone = addGroup("2026.12.07_12.00.00", 2);
    fs::remove_all(gone);
    fs::remove_all(alsoGone);
    // A row of a working directory used earlier is judged by its picture's directory.
    TempDir earlier;
    fs::create_directories(earlier.file("2025.01.01_08.00.00"));
    m_store.AddRecord("2025.01.01_08.00.00",
                      HistoryRecord{"2025.01.01_08.00.00", "t", "", "Condition001",
                                    earlier.file("2025.01.01_08.00.00/error001.bmp"), ""});
    std::vector<std::string> removed;
    EXPECT_TRUE(m_store.PruneMissingGroups(m_work.path(), removed));
    EXPECT_EQ(removed, (std::vector<std::string>{"2026.12.07_11.00.00", "2026.12.07_12.00.00"}));
    EXPECT_EQ(m_store.allRecords().size(), 3u);
    removed.clear();
    EXPECT_TRUE(m_store.PruneMissingGroups(m_work.path(), removed));
    EXPECT_TRUE(removed.empty());

    // With the working directory itself gone (an unmounted disk), nothing is pruned.
    TempDir unmounted;
    const std::string missing = unmounted.file("not-mounted");
    EXPECT_FALSE(m_store.PruneMissingGroups(missing, removed));
    EXPECT_EQ(m_store.allRecords().size(), 3u);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(HistoryTest, ABusyDatabaseIsWaitedForAndAnUnusableOneFailsQuietly) {
    addGroup("G", 1);
    // Another process holds the write lock for a moment.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(m_store.databasePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    EXPECT_TRUE(m_store.AddRecord("G", HistoryRecord{"G", "t", "", "Condition002", "", ""}));
    release.join();
    sqlite3_close(other);
    EXPECT_EQ(m_store.allRecords().size(), 2u);

    TempDir broken;
    writeText(broken.file("watchdog.mdb"), std::string(4096, 'x'));
    HistoryStore garbage(broken.dir());
    HistoryRecord r;
    EXPECT_FALSE(garbage.AddRecord("G", r));
    EXPECT_EQ(garbage.FindRecord("G", "", r), 0);
    const auto outcome = garbage.DeleteRecords(broken.path(), "G", "");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.rowsFound, 0);
    std::vector<std::string> removed;
    EXPECT_FALSE(garbage.PruneMissingGroups(broken.path(), removed));
}

TEST_F(HistoryTest, StoresOfOneProcessShareOneLock) {
    // The windows and the engine thread each hold a store; the history lock serialises them all.
    HistoryStore second(m_program.dir());
    std::atomic<bool> added{false};
    std::unique_lock held(HistoryStore::historyLock());
    std::thread writer([&] {
        second.AddRecord("B", HistoryRecord{"B", "t", "", "Condition001", "", ""});
        added = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(added);
    held.unlock();
    writer.join();
    EXPECT_TRUE(added);
    EXPECT_EQ(m_store.allRecords().size(), 1u);
}

TEST(HistoryPage, GetsTheJetConnectionTextWithTheDatabasePath) {
    EXPECT_EQ(HistoryStore("/opt/gardivo/").pageConnectionString(),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/opt/gardivo/watchdog.mdb");
}

// Waits up to a second for the sink to have n entries.
bool waitForLog(const RecordingMessageSink& sink, size_t n, std::mutex& mutex) {
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard lock(mutex);
            if (sink.log.size() >= n)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The sink is written by the watcher's thread; the test reads it under a lock.
class LockedSink final : public MessageSink {
public:
    std::mutex mutex;
    RecordingMessageSink inner;
    bool windowExists(const std::string& name) const override { return inner.windowExists(name); }
    void postMessage(const std::string& w, uint32_t m, intptr_t a, intptr_t b) override {
        std::lock_guard lock(mutex);
        inner.postMessage(w, m, a, b);
    }
    void runScript(const std::string& w, const std::string& s) override { inner.runScript(w, s); }
    void minimizeToTray() override {}
    void openTracingBox() override {}
    void closeTracingBox() override {}
};

TEST(WorkingDirWatcher, DirectoryChangesAskTheHistoryWindowToPrune) {
    TempDir work;
    fs::create_directories(work.file("2026.12.07_10.00.00"));
    LockedSink sink;
    RecordingReporter reporter;
    WorkingDirWatcher watcher(work.path(), sink, reporter);
    ASSERT_TRUE(watcher.start());

    // A file is no directory change.
    writeText(work.file("2026.12.07_10.00.00/error001.bmp"), "BM");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_TRUE(sink.inner.log.empty());
    }
    // Removing a group directory by hand, deep in the tree, is; with no history window the main
    // window is asked.
    fs::remove_all(work.file("2026.12.07_10.00.00"));
    ASSERT_TRUE(waitForLog(sink.inner, 1, sink.mutex));
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_EQ(sink.inner.log[0], "ControlPanel WM_APP_PRUNE_HISTORY");
        sink.inner.log.clear();
        sink.inner.windows.insert("History");
    }
    fs::create_directories(work.file("new/inner"));
    ASSERT_TRUE(waitForLog(sink.inner, 1, sink.mutex));
    {
        std::lock_guard lock(sink.mutex);
        EXPECT_EQ(sink.inner.log[0], "History WM_APP_PRUNE_HISTORY");
    }
    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    EXPECT_TRUE(reporter.messages().empty());
}

TEST(WorkingDirWatcher, PruningChangesNothingTheWatcherSees) {
    TempDir work;
    HistoryStore store(work.path() + "/");
    fs::create_directories(work.file("gone"));
    store.AddRecord("gone",
                    HistoryRecord{"gone", "t", "", "Condition001", work.file("gone/error001.bmp"), ""});
    fs::remove_all(work.file("gone"));
    LockedSink sink;
    RecordingReporter reporter;
    WorkingDirWatcher watcher(work.path(), sink, reporter);
    ASSERT_TRUE(watcher.start());
    std::vector<std::string> removed;
    EXPECT_TRUE(store.PruneMissingGroups(work.path(), removed));
    EXPECT_EQ(removed, std::vector<std::string>{"gone"});
    // The pruning itself is no change of the directory: no further pruning is asked for.
    EXPECT_FALSE(waitForLog(sink.inner, 1, sink.mutex));
    EXPECT_FALSE(fs::exists(work.file("gone")));
    watcher.stop();
}

TEST(WorkingDirWatcher, ADirectoryThatCannotBeWatchedEndsTheWatchQuietly) {
    LockedSink sink;
    RecordingReporter reporter;
    WorkingDirWatcher watcher("/nonexistent/working/directory", sink, reporter);
    EXPECT_FALSE(watcher.start());
    EXPECT_TRUE(reporter.messages().empty());
}

} // namespace
