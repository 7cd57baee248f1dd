// The engine thread keeps the evidence within the user's limits from the moment the engine is
// made, and an open history window is told which runs went.

#include "monitor/engine/Headless.h"
#include "monitor/engine/OverlayCanvas.h"
#include "monitor/live/EngineHost.h"
#include "platform/RecordingReporter.h"
#include "platform/SystemInfo.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

class EngineHostEvidence : public ::testing::Test {
protected:
    void SetUp() override {
        EvidenceOptions options;
        options.retentionDays = 7;
        ASSERT_TRUE(options.write(m_registry, registryRootFor(OsVersionCode())));
        m_settings = std::make_unique<SettingsStore>(ProgramKind::Gardivo, m_registry, m_reporter,
                                                     m_program.dir(), m_home.path());
        setFieldText(m_settings->settings().WorkingDirectory, work());
    }
    std::string work() const { return m_home.file("Gardivo"); }
    // A run of long ago, with its history row.
    void oldRun(const std::string& name) {
        const std::string dir = work() + "/" + name;
        fs::create_directories(dir);
        writeText(dir + "/error001.bmp", "BM");
        fs::last_write_time(dir + "/error001.bmp",
                            fs::file_time_type::clock::now() - std::chrono::hours(24 * 30));
        HistoryStore(m_settings->dataDirectory())
            .AddRecord(name, {name, "2026/01/01 00:00:00", "", "Condition001", dir + "/error001.bmp", ""});
    }
    bool told(const std::string& window, const std::string& run) const {
        return std::any_of(m_sink.log.begin(), m_sink.log.end(), [&](const std::string& line) {
            return line.rfind(window + " script DeleteItemFromGroups", 0) == 0 &&
                   line.find(run) != std::string::npos;
        });
    }
    void startEngine() {
        EngineHost::Setup setup;
        setup.settings = m_settings.get();
        setup.reporter = &m_reporter;
        setup.sink = &m_sink;
        setup.canvas = &m_canvas;
        setup.watchDevices = false;
        setup.makeMixer = nullptr;
        m_host = std::make_unique<EngineHost>(setup);
        m_host->setVideoRect(0, 0, 320, 240);
    }

    TempDir m_program;
    TempDir m_home;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    std::unique_ptr<SettingsStore> m_settings;
    RecordingMessageSink m_sink;
    RecordingOverlayCanvas m_canvas;
    std::unique_ptr<EngineHost> m_host;
};

TEST_F(EngineHostEvidence, RunsPastTheLimitGoWhenTheEngineIsMadeAndTheHistoryWindowIsTold) {
    oldRun("2026.01.01_10.00.00");
    m_sink.windows.insert("History");
    startEngine();
    EXPECT_FALSE(fs::exists(work() + "/2026.01.01_10.00.00"));
    EXPECT_TRUE(told("History", "2026.01.01_10.00.00"));
    EXPECT_TRUE(HistoryStore(m_settings->dataDirectory()).allRecords().empty());
    // The engine's own run is there and stays.
    EXPECT_TRUE(fs::is_directory(m_settings->evidenceDirectory()));
}

TEST_F(EngineHostEvidence, WithoutAHistoryWindowTheMainPageIsTold) {
    oldRun("2026.01.02_10.00.00");
    startEngine();
    EXPECT_TRUE(told("ControlPanel", "2026.01.02_10.00.00"));
    EXPECT_FALSE(told("History", "2026.01.02_10.00.00"));
}

} // namespace
