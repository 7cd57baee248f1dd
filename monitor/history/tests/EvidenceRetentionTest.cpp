// Evidence kept within its limits: hundreds of alarms on a small disk, runs too old or too many,
// and what retention never touches.

#include "monitor/history/EvidenceRetention.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t MiB = 1u << 20;

std::string runName(int n) {
    // A run every ten minutes from 2026/01/01 00:00.
    const int minutes = n * 10;
    char name[32];
    std::snprintf(name, sizeof name, "2026.%02d.%02d_%02d.%02d.00", 1 + minutes / (60 * 24 * 28),
                  1 + minutes / (60 * 24) % 28, minutes / 60 % 24, minutes % 60);
    return name;
}

uint64_t usedBytes(const std::string& dir) {
    uint64_t used = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            used += entry.file_size();
    return used;
}

void writeFile(const std::string& path, uint64_t bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(::ftruncate(::fileno(f), static_cast<off_t>(bytes)), 0);
    std::fclose(f);
}

void age(const std::string& path, int days) {
    const timespec when[2] = {{std::time(nullptr) - days * 86400L, 0},
                              {std::time(nullptr) - days * 86400L, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), when, AT_SYMLINK_NOFOLLOW);
}

class Retention : public ::testing::Test {
protected:
    std::string work() const { return m_dir.file("work"); }
    std::string run(int n) const { return work() + "/" + runName(n); }

    // One condition of run n: its bitmap, its clip and its history row.
    void alarm(int n, int condition, uint64_t clipBytes) {
        fs::create_directories(run(n));
        char image[32], clip[32], description[32];
        std::snprintf(image, sizeof image, "/error%03d.bmp", condition);
        std::snprintf(clip, sizeof clip, "/error%03d.avi", condition);
        std::snprintf(description, sizeof description, "Condition%03d", condition);
        writeFile(run(n) + image, 460854);
        writeFile(run(n) + clip, clipBytes);
        HistoryRecord row{runName(n), "2026/01/01 00:00:00", "", description, run(n) + image, run(n) + clip};
        ASSERT_TRUE(m_history.AddRecord(runName(n), row));
    }
    std::vector<std::string> historyGroups() {
        std::vector<std::string> groups;
        for (const auto& row : m_history.allRecords())
            if (groups.empty() || groups.back() != row.GroupName)
                groups.push_back(row.GroupName);
        return groups;
    }
    EvidenceRetention retention(EvidenceRetention::FreeSpace freeSpace = {}) {
        return EvidenceRetention(work(), m_dir.dir(), m_dir.file("watchdog.log"), std::move(freeSpace));
    }
    int logLines() const {
        const std::string log = readText(m_dir.file("watchdog.log"));
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }

    TempDir m_dir;
    HistoryStore m_history{m_dir.dir()};
};

TEST_F(Retention, HundredsOfAlarmsOnASmallDiskNeverFillItAndKeepTheNewest) {
    // A disk of 150 MiB; the clip watch refuses below 39 MiB free; retention keeps 39 + 64 free.
    const uint64_t capacity = 150 * MiB;
    const auto freeSpace = [&](const std::string&) -> std::optional<uint64_t> {
        const uint64_t used = usedBytes(work());
        return used < capacity ? capacity - used : 0;
    };
    auto keeper = retention(freeSpace);
    RetentionLimits limits;
    limits.maxDays = 3650;
    limits.keepFreeBytes = (39 + 64) * MiB;
    uint64_t leastFree = capacity;
    int removed = 0;
    for (int n = 0; n < 60; ++n) {
        // Runs of a few alarms each, some with long clips: 300 alarms in all.
        for (int condition = 1; condition <= 5; ++condition) {
            alarm(n, condition, (1 + (n * 7 + condition) % 4) * MiB);
            removed += static_cast<int>(keeper.enforce(limits, run(n)).removed.size());
            leastFree = std::min(leastFree, *freeSpace(""));
            ASSERT_TRUE(fs::exists(run(n) + "/error001.bmp")) << "the running run lost its evidence";
        }
    }
    EXPECT_GT(removed, 30);
    EXPECT_GT(leastFree, 39 * MiB) << "the disk watch would have refused a clip";
    // What is left is the newest runs, whole, each with its rows; the rows of the removed are gone.
    const auto runs = keeper.runs();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.back().name, runName(59));
    for (size_t i = 1; i < runs.size(); ++i)
        EXPECT_EQ(runs[i].name, runName(60 - static_cast<int>(runs.size()) + static_cast<int>(i)));
    std::vector<std::string> names;
    for (const auto& r : runs)
        names.push_back(r.name);
    EXPECT_EQ(historyGroups(), names);
    EXPECT_EQ(logLines(), removed);
}

TEST_F(Retention, TooOldOrTooMuchGoesOldestFirstButNeverTheRunningRun) {
    for (int n = 0; n < 6; ++n)
        alarm(n, 1, 2 * MiB);
    // Runs 0 and 1 were last written 40 days ago; run 2 began then but was written to today.
    for (int n : {0, 1, 2})
        for (const auto& f : fs::directory_iterator(run(n)))
            age(f.path().string(), 40);
    writeFile(run(2) + "/condition001.bmp", 1000);
    RetentionLimits byAge;
    byAge.maxDays = 30;
    auto keeper = retention();
    EXPECT_EQ(keeper.enforce(byAge, run(5)).removed, (std::vector<std::string>{runName(0), runName(1)}));
    EXPECT_TRUE(fs::exists(run(2)));
    const std::string log = readText(m_dir.file("watchdog.log"));
    EXPECT_NE(log.find("Gardivo Log: Evidence of " + runName(0) +
                       " removed (2 files, 2.6 MB, 1 history rows): "
                       "older than 30 days ("),
              std::string::npos)
        << log;

    // Each run holds about 2.5 MB: under 6 MB only the two newest stay.
    RetentionLimits bySize;
    bySize.maxBytes = 6000000;
    EXPECT_EQ(keeper.enforce(bySize, run(5)).removed, (std::vector<std::string>{runName(2), runName(3)}));
    EXPECT_EQ(historyGroups(), (std::vector<std::string>{runName(4), runName(5)}));
    // The running run stays whatever it holds.
    bySize.maxBytes = 1;
    EXPECT_EQ(keeper.enforce(bySize, run(5)).removed, std::vector<std::string>{runName(4)});
    EXPECT_TRUE(fs::exists(run(5) + "/error001.avi"));
}

TEST_F(Retention, NothingButRunFoldersOfTheWorkingDirectoryIsTouched) {
    alarm(0, 1, MiB);
    alarm(1, 1, MiB);
    TempDir outside;
    writeFile(outside.file("precious.avi"), 100);
    // A link named like a run, to a folder elsewhere; a folder of the user's; a row that names a
    // file outside the working directory; a file of the user's kept in a run folder's subfolder.
    fs::create_directory_symlink(outside.path(), work() + "/" + runName(-3 + 3) + "x");
    fs::create_directory_symlink(outside.path(), work() + "/2025.01.01_00.00.00");
    fs::create_directories(work() + "/notes");
    writeFile(work() + "/notes/a.txt", 10);
    HistoryRecord stray{runName(0),     "2026/01/01 00:00:00",        "",
                        "Condition002", outside.file("precious.avi"), ""};
    ASSERT_TRUE(m_history.AddRecord(runName(0), stray));
    fs::create_directories(run(0) + "/kept");
    writeFile(run(0) + "/kept/mine.txt", 10);

    RetentionLimits limits;
    limits.maxBytes = 1;
    const auto outcome = retention().enforce(limits, run(1));
    EXPECT_EQ(outcome.removed, std::vector<std::string>{runName(0)});
    EXPECT_TRUE(fs::exists(outside.file("precious.avi")));
    EXPECT_TRUE(fs::exists(work() + "/notes/a.txt"));
    EXPECT_TRUE(fs::is_symlink(work() + "/2025.01.01_00.00.00"));
    // The evidence went; the user's subfolder kept the run's folder, and the log says so.
    EXPECT_FALSE(fs::exists(run(0) + "/error001.bmp"));
    EXPECT_TRUE(fs::exists(run(0) + "/kept/mine.txt"));
    EXPECT_NE(readText(m_dir.file("watchdog.log")).find("partly removed"), std::string::npos);
    EXPECT_EQ(historyGroups(), std::vector<std::string>{runName(1)});
}

} // namespace
