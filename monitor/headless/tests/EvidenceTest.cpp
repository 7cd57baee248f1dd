// The evidence an alarm leaves, on the real pipeline: the clip that begins before the alarm,
// lamps that give none, the copy any player plays, and evidence kept under its limits.

#include "HeadlessTestKit.h"

#include "monitor/capture/PlayableCopy.h"
#include "monitor/capture/tests/PlayedFrames.h"
#include "monitor/history/HistoryStore.h"
#include "platform/RegistryStore.h"
#include "platform/SystemInfo.h"
#include "settings/EvidenceOptions.h"

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class EvidenceRun : public HeadlessMonitor {
protected:
    static std::string playableFormatExtension() {
        const auto format = playableFormat();
        return format ? "." + format->extension : ".none";
    }
    void useOptions(const EvidenceOptions& options) {
        RegistryStore registry(m_registry.path());
        ASSERT_TRUE(options.write(registry, registryRootFor(OsVersionCode())));
    }
    void useSource(const std::string& line) {
        writeText(m_program.file("sources.txt"), "Run|" + line + "\n");
    }

    // The alarm picture of an evidence bitmap (its upper half), as BGR rows top first.
    static std::vector<uint8_t> alarmPicture(const std::string& bitmap, int width, int height) {
        const std::string bytes = readText(bitmap);
        std::vector<uint8_t> picture;
        const size_t row = static_cast<size_t>(width) * 3;
        if (bytes.size() < 54 + row * static_cast<size_t>(height) * 2)
            return picture;
        // Rows go bottom-up: the alarm picture's top row is the file's last.
        for (int y = 0; y < height; ++y) {
            const size_t at = 54 + row * static_cast<size_t>(2 * height - 1 - y);
            picture.insert(picture.end(), bytes.begin() + static_cast<long>(at),
                           bytes.begin() + static_cast<long>(at + row));
        }
        return picture;
    }
};

TEST_F(EvidenceRun, TheClipBeginsBeforeTheAlarmWithTheFigureComingIn) {
    useSource("gardivotestsrc still-seconds=4 move-seconds=1.5 rest-seconds=30");
    EvidenceOptions options;
    options.preRecordSeconds = 3;
    options.playableCopies = false;
    useOptions(options);
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("clip ended", 25s)) << output();
    stop(pid);
    const auto rows = HistoryStore(m_program.dir()).allRecords();
    ASSERT_EQ(rows.size(), 1u) << output();

    const auto pictures = decodedPictures(rows[0].VideoPath, 320, 240);
    // Two seconds from the alarm on, and up to three before it, at 30 a second.
    ASSERT_GT(pictures.size(), 60u + 60u) << output();
    // The figure comes in: the first picture that differs clearly from the clip's first.
    size_t entry = 0;
    while (entry < pictures.size() && meanDifference(pictures[entry], pictures[0]) < 2.0)
        ++entry;
    // The alarm picture: the one the evidence bitmap shows.
    const auto alarm = alarmPicture(rows[0].ImagePath, 320, 240);
    size_t alarmFrame = 0;
    double best = 1e9;
    for (size_t i = 0; i < pictures.size(); ++i)
        if (const double d = meanDifference(pictures[i], alarm); d < best) {
            best = d;
            alarmFrame = i;
        }
    EXPECT_LT(best, 6.0) << "no picture of the clip is the alarm picture";
    // The clip shows the empty room first, then the figure coming in, before the alarm.
    EXPECT_GE(entry, 10u) << "the clip begins with the figure already in";
    EXPECT_LT(entry, alarmFrame);
    EXPECT_GE(alarmFrame, 30u) << "less than a second before the alarm";
}

TEST_F(EvidenceRun, ALampSwitchedOnAndOffGivesNoAlarmAndTheFigureAfterItDoes) {
    useSource("gardivotestsrc still-seconds=5.5 move-seconds=1.5 rest-seconds=30 lamp-on-seconds=2 "
              "lamp-off-seconds=4");
    EvidenceOptions options;
    options.playableCopies = false;
    useOptions(options);
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    stop(pid);
    const std::string out = output();
    // Both switches of the lamp took a new reference; the only alarm came after the figure moved.
    EXPECT_EQ(countInOutput("change of light"), 2u) << out;
    const auto motion = out.find("source: motion begins");
    ASSERT_NE(motion, std::string::npos) << out;
    EXPECT_GT(out.find("Condition001"), motion) << out;
    EXPECT_LT(out.rfind("change of light"), motion) << out;
}

TEST_F(EvidenceRun, EachClipGetsACopyAnyPlayerPlaysWithAllItsPicturesAndItsLength) {
    useSource("gardivotestsrc still-seconds=1 move-seconds=0.5 rest-seconds=30");
    EvidenceOptions options;
    options.preRecordSeconds = 1;
    useOptions(options);
    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("playable copy: ", 25s)) << output();
    stop(pid);
    const auto rows = HistoryStore(m_program.dir()).allRecords();
    ASSERT_EQ(rows.size(), 1u);
    const std::string clip = rows[0].VideoPath;
    const fs::path copy = fs::path(clip).replace_extension(playableFormatExtension());
    ASSERT_TRUE(fs::exists(copy)) << output();
    EXPECT_FALSE(fs::exists(copy.string() + ".part"));
    const PlayedLength original = playedLength(clip, true);
    const PlayedLength played = playedLength(copy.string(), false);
    ASSERT_GT(original.frames, 60);
    EXPECT_EQ(played.frames, original.frames);
    EXPECT_NEAR(played.seconds, original.seconds, 0.1);
    // The same pictures, not only as many: the last of each, side by side.
    const auto a = decodedPictures(clip, 320, 240);
    const auto b = decodedPictures(copy.string(), 320, 240, false);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_LT(meanDifference(a.back(), b.back()), 4.0);
    EXPECT_LT(meanDifference(a[a.size() / 2], b[b.size() / 2]), 4.0);
}

TEST_F(EvidenceRun, RunsOlderThanTheLimitGoWithTheirRowsWhenTheMonitorStarts) {
    EvidenceOptions options;
    options.retentionDays = 7;
    useOptions(options);
    HistoryStore history(m_program.dir());
    const auto oldRun = [&](const std::string& name, int daysAgo) {
        const std::string dir = m_program.file("work/" + name);
        fs::create_directories(dir);
        writeText(dir + "/error001.bmp", "picture");
        writeText(dir + "/error001.mp4", "copy");
        history.AddRecord(name, {name, "2026/01/01 00:00:00", "", "Condition001", dir + "/error001.bmp", ""});
        for (const auto& f : fs::directory_iterator(dir))
            fs::last_write_time(f.path(),
                                fs::file_time_type::clock::now() - std::chrono::hours(24 * daysAgo));
    };
    oldRun("2026.01.01_10.00.00", 30);
    oldRun("2026.01.02_10.00.00", 8);
    oldRun("2026.01.03_10.00.00", 6);
    const pid_t pid = start({"--seconds", "2", "--size", "320x240"});
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_FALSE(fs::exists(m_program.file("work/2026.01.01_10.00.00")));
    EXPECT_FALSE(fs::exists(m_program.file("work/2026.01.02_10.00.00")));
    EXPECT_TRUE(fs::exists(m_program.file("work/2026.01.03_10.00.00/error001.mp4")));
    const auto rows = history.allRecords();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].GroupName, "2026.01.03_10.00.00");
    std::string log;
    for (const auto& f : fs::recursive_directory_iterator(m_program.path()))
        if (f.path().filename() == "watchdog.log")
            log = readText(f.path().string());
    EXPECT_NE(log.find("Gardivo Log: Evidence of 2026.01.01_10.00.00 removed (2 files"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Gardivo Log: Evidence of 2026.01.02_10.00.00 removed"), std::string::npos) << log;
}

} // namespace
