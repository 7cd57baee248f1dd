// gardivo-monitor as a user runs it: the whole chain from the Test Pattern to the evidence
// bitmap, the clip, the mail and the history row, ended by a signal.

#include "HeadlessTestKit.h"

#include "codec_filter/AviReader.h"
#include "monitor/capture/tests/PlayedFrames.h"
#include "monitor/history/HistoryStore.h"

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

TEST_F(HeadlessMonitor, AnAlarmLeavesItsBitmapClipMailAndHistoryRow) {
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    // The clip runs two seconds; the signal comes while it may still be written.
    std::this_thread::sleep_for(1000ms);
    const int status = stop(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
    const std::string out = output();
    EXPECT_NE(out.find("source: Quick (1 of 1)"), std::string::npos) << out;
    EXPECT_NE(out.find("start: WatchDog"), std::string::npos) << out;
    EXPECT_NE(out.find("mode StandBy"), std::string::npos) << out;

    HistoryStore history(m_program.dir());
    const auto rows = history.allRecords();
    ASSERT_EQ(rows.size(), 1u) << out;
    const HistoryRecord& row = rows[0];
    EXPECT_EQ(row.Description, "Condition001");
    EXPECT_EQ(fs::path(row.ImagePath).parent_path().parent_path(), fs::path(m_program.file("work")));
    EXPECT_EQ(fs::path(row.ImagePath).filename(), "error001.bmp");
    EXPECT_EQ(fs::path(row.VideoPath).filename(), "error001.avi");
    EXPECT_EQ(fs::file_size(row.ImagePath), 54u + 320 * 3 * 480);
    const auto info = readTrv2StreamInfo(row.VideoPath);
    ASSERT_TRUE(info) << row.VideoPath;
    EXPECT_EQ(info->width, 320);
    EXPECT_GT(playedFrames(row.VideoPath), 10);
    EXPECT_EQ(readText(m_program.file("calls.txt")), "email 1\n");
}

TEST_F(HeadlessMonitor, ASignalDuringAClipLeavesItFinishedAndPlayable) {
    auto s = defaultSettings(ProgramKind::Wizard, m_program.path());
    setFieldText(s.WorkingDirectory, m_program.file("work"));
    s.ActionFlags = 1;
    s.RecordTimeLimit = 0; // recorded until something stops it
    const auto bytes = s.toBytes();
    writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stop(pid, SIGINT), 0) << output();
    EXPECT_NE(output().find("clip ended"), std::string::npos) << output();
    const auto rows = HistoryStore(m_program.dir()).allRecords();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(playedFrames(rows[0].VideoPath), 20);
}

TEST_F(HeadlessMonitor, ItListsItsSourcesAndRefusesUnknownOptions) {
    const pid_t list = start({"--list"});
    int status = 0;
    ::waitpid(list, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(output().find("video  Quick"), std::string::npos) << output();
    const pid_t wrong = start({"--bogus"});
    ::waitpid(wrong, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(output().find("usage:"), std::string::npos);
    // A size the engine cannot watch ends the run with a reason, not a crash.
    const pid_t huge = start({"--size", "5000x480", "--start", "--seconds", "3"});
    ::waitpid(huge, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output();
    EXPECT_NE(output().find("a picture of 5000x480 cannot be watched"), std::string::npos) << output();
}

} // namespace
