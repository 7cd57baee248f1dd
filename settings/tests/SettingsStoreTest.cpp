#include "settings/SettingsStore.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"
#include "settings/WizardSettings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

int32_t intAt(const std::vector<uint8_t>& b, size_t offset) {
    return static_cast<int32_t>(uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 |
                                uint32_t(b[offset + 2]) << 16 | uint32_t(b[offset + 3]) << 24);
}

std::string textAt(const std::vector<uint8_t>& b, size_t offset, size_t width) {
    std::string s;
    for (size_t i = offset; i < offset + width && b[i]; ++i)
        s += static_cast<char>(b[i]);
    return s;
}

// A program directory, a registry and a home of its own for each test.
class SettingsTest : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
    const std::string m_home = "/home/guard";

    std::unique_ptr<SettingsStore> open(ProgramKind kind) {
        return std::make_unique<SettingsStore>(kind, m_registry, m_reporter, m_program.dir(), m_home);
    }
    std::string cfg() const { return m_program.file("watchdog.cfg"); }
};

TEST_F(SettingsTest, DefaultRecordHasEveryFieldAtItsOffset) {
    auto store = open(ProgramKind::Gardivo);
    EXPECT_TRUE(store->isDefaulted());
    ASSERT_TRUE(store->save());
    const auto b = readBytes(cfg());
    ASSERT_EQ(b.size(), 1416u);

    // offset -> expected int for every integer with a non-zero default
    const std::map<size_t, int32_t> ints = {{24, 128},  {28, 64}, {36, 64},    {40, 2},  {44, 1},
                                            {48, 2},    {52, 10}, {56, 30000}, {180, 5}, {724, 90},
                                            {728, 500}, {744, 1}, {760, 120}};
    for (const auto& [offset, value] : ints)
        EXPECT_EQ(intAt(b, offset), value) << "offset " << offset;
    EXPECT_EQ(textAt(b, 4, 20), "Composite");
    EXPECT_EQ(textAt(b, 204, 260), "/home/guard/Gardivo");
    EXPECT_EQ(textAt(b, 464, 260), "watchdog");
    EXPECT_EQ(intAt(b, 1412), 0);

    // Every other byte is zero.
    std::vector<bool> named(1416, false);
    for (const auto& [offset, value] : ints)
        std::fill_n(named.begin() + static_cast<long>(offset), 4, true);
    std::fill_n(named.begin() + 4, 9, true);
    std::fill_n(named.begin() + 204, 19, true);
    std::fill_n(named.begin() + 464, 8, true);
    for (size_t i = 0; i < b.size(); ++i) {
        if (!named[i]) {
            EXPECT_EQ(b[i], 0) << "byte " << i;
        }
    }
}

TEST_F(SettingsTest, EachProgramHasItsOwnDefaults) {
    const std::string home = m_home;
    const auto gardivo = defaultSettings(ProgramKind::Gardivo, home);
    const auto wizard = defaultSettings(ProgramKind::Wizard, home);
    const auto email = defaultSettings(ProgramKind::Email, home);
    EXPECT_EQ(gardivo.Reserved52, 10);
    EXPECT_EQ(wizard.Reserved52, 9);
    EXPECT_EQ(email.Reserved52, 4);
    EXPECT_EQ(gardivo.RedialCount, 0);
    EXPECT_EQ(wizard.RedialCount, 3);
    EXPECT_EQ(email.RedialCount, 0);
}

TEST_F(SettingsTest, ARecordWrittenByOneProgramIsReadUnchangedByTheOthers) {
    {
        auto wizard = open(ProgramKind::Wizard);
        wizard->settings().Sensitivity = 77;
        setFieldText(wizard->settings().EmailAddress, "guard@example.org");
        ASSERT_TRUE(wizard->save());
    }
    const auto written = readBytes(cfg());
    auto email = open(ProgramKind::Email);
    EXPECT_FALSE(email->isDefaulted());
    const auto read = email->settings().toBytes();
    EXPECT_TRUE(std::equal(read.begin(), read.end(), written.begin()));
    EXPECT_EQ(email->settings().Reserved52, 9); // the writer's value stays
    EXPECT_EQ(email->settings().RedialCount, 3);
    email.reset();
    EXPECT_EQ(readBytes(cfg()), written); // email never writes
}

TEST_F(SettingsTest, ShortLongEmptyAndGarbageFiles) {
    // Short: no program writes one, so it is damaged. The defaults are used and the file is
    // kept beside the settings, where the save at exit does not overwrite it.
    std::vector<uint8_t> shortFile(30, 0);
    shortFile[0] = 5;
    shortFile[4] = 'S';
    writeBytes(cfg(), shortFile);
    auto store = open(ProgramKind::Gardivo);
    EXPECT_TRUE(store->isDefaulted());
    EXPECT_EQ(store->settings().DetectInterval, 500);
    EXPECT_EQ(store->settings().Sensitivity, 90);
    store.reset(); // gardivo saves at exit
    EXPECT_EQ(readBytes(cfg() + ".bad"), shortFile);
    EXPECT_EQ(readBytes(cfg()).size(), 1416u);

    // Long: the first 1416 bytes.
    auto record = defaultSettings(ProgramKind::Wizard, m_home).toBytes();
    std::vector<uint8_t> longFile(record.begin(), record.end());
    longFile.resize(3000, 0xEE);
    writeBytes(cfg(), longFile);
    store = open(ProgramKind::Email);
    EXPECT_EQ(store->settings().toBytes(), record);

    // Empty: what an interrupted save left in the past; the defaults are safer than zeros.
    writeBytes(cfg(), {});
    store = open(ProgramKind::Email);
    EXPECT_TRUE(store->isDefaulted());
    EXPECT_EQ(store->settings().DetectInterval, 500);

    // Garbage: read as it is, and strings without a NUL stay within their field.
    std::mt19937 rng(7);
    std::vector<uint8_t> garbage(1416);
    for (auto& byte : garbage)
        byte = static_cast<uint8_t>(rng() | 1); // no zero byte anywhere
    writeBytes(cfg(), garbage);
    store = open(ProgramKind::Email);
    EXPECT_EQ(fieldText(store->settings().VideoConnector).size(), 20u);
    EXPECT_EQ(fieldText(store->settings().WorkingDirectory).size(), 260u);
}

TEST_F(SettingsTest, LongTextIsCutToTheField) {
    WatchdogSettings s = defaultSettings(ProgramKind::Gardivo, m_home);
    setFieldText(s.VideoConnector, "A connector name far longer than twenty");
    EXPECT_EQ(fieldText(s.VideoConnector), "A connector name fa");
    EXPECT_EQ(s.Brightness, 128); // the neighbour is untouched
}

TEST_F(SettingsTest, AFailedSaveLeavesTheOldFileWhole) {
    auto store = open(ProgramKind::Wizard);
    ASSERT_TRUE(store->save());
    const auto before = readBytes(cfg());
    // A disk that takes no more than 100 bytes: the save fails and the record on disk is intact.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &small);
        store->settings().Sensitivity = 12;
        ::_exit(store->save() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readBytes(cfg()), before);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_program.path()), {}), 1);
}

TEST_F(SettingsTest, TwoProgramsSavingAtOnceBothSucceed) {
    constexpr int kSaves = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            auto store = open(c == 0 ? ProgramKind::Wizard : ProgramKind::Email);
            int failures = 0;
            for (int i = 0; i < kSaves; ++i) {
                store->settings().Sensitivity = 1 + c;
                failures += store->save() ? 0 : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto record = readBytes(cfg());
    ASSERT_EQ(record.size(), 1416u);
    EXPECT_TRUE(intAt(record, 724) == 1 || intAt(record, 724) == 2);
}

TEST_F(SettingsTest, RegistryConnectorWinsOverTheFile) {
    {
        auto store = open(ProgramKind::Gardivo);
        setFieldText(store->settings().VideoConnector, "Composite");
    }
    ASSERT_TRUE(m_registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kVideoConnectorsKey, "Current",
                                    RegistryValue::string("SVideo", 256)));
    EXPECT_EQ(fieldText(open(ProgramKind::Gardivo)->settings().VideoConnector), "SVideo");
    ASSERT_TRUE(m_registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kVideoConnectorsKey, "Current",
                                    RegistryValue::string("Tuner input with a very long name", 256)));
    EXPECT_EQ(fieldText(open(ProgramKind::Gardivo)->settings().VideoConnector), "Tuner input with a ");
    // Only gardivo takes it: email reads what gardivo last saved.
    ASSERT_TRUE(m_registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kVideoConnectorsKey, "Current",
                                    RegistryValue::string("Other", 256)));
    EXPECT_EQ(fieldText(open(ProgramKind::Email)->settings().VideoConnector), "Tuner input with a ");
}

TEST_F(SettingsTest, GardivoRecordsItsDirectoryUnderTheMachineRootAtEveryStart) {
    open(ProgramKind::Gardivo);
    const auto value =
        m_registry.queryValue(RegistryRoot::LocalMachine, SettingsStore::kKeyPath, "WORKINGDIR");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, RegType::MultiSz);
    EXPECT_EQ(value->data.size(), 260u);
    EXPECT_EQ(value->text(), m_program.dir());
    EXPECT_FALSE(m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "WORKINGDIR"));
}

TEST_F(SettingsTest, AttachedFilesAreHandedToEmail) {
    auto store = open(ProgramKind::Gardivo);
    store->setAttachedImagePath("/home/guard/Gardivo/2026.12.07_10.00.00/error001.bmp");
    store->setAttachedVideoPath("");
    ASSERT_TRUE(store->writeAttachedFiles());
    const auto image =
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "AttachedImageFileName");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, RegType::MultiSz);
    EXPECT_EQ(image->data.size(), 260u);
    EXPECT_EQ(image->text(), "/home/guard/Gardivo/2026.12.07_10.00.00/error001.bmp");
    EXPECT_EQ(
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "AttachedVideoFileName")
            ->text(),
        "");
    EXPECT_TRUE(m_reporter.messages().empty());

    // Paths here can be longer than the 260 bytes of a Windows path: they are kept whole.
    const std::string deep = "/home/guard/" + std::string(240, 'd') + "/2026.12.07_10.00.00/error001.bmp";
    store->setAttachedImagePath(deep);
    ASSERT_TRUE(store->writeAttachedFiles());
    EXPECT_EQ(
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "AttachedImageFileName")
            ->text(),
        deep);
}

TEST_F(SettingsTest, AttachedFilesWithoutARegistrySayEmailFails) {
    TempDir other;
    writeText(other.file("blocker"), "");
    RegistryStore broken(other.file("blocker") + "/Tavrin");
    SettingsStore store(ProgramKind::Email, broken, m_reporter, m_program.dir(), m_home);
    EXPECT_FALSE(store.writeAttachedFiles());
    const auto messages = m_reporter.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "EMail sending fail...");
    EXPECT_EQ(messages[0].caption, "Tavrin Gardivo");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(messages[0].topmost);
}

TEST_F(SettingsTest, DeviceListsAreRewrittenWhole) {
    auto store = open(ProgramKind::Gardivo);
    ASSERT_TRUE(store->writeCaptureDevices({"Cam A", "Cam B", "Cam C"}));
    ASSERT_TRUE(store->writeCaptureDevices({"Cam Z"}));
    EXPECT_EQ(store->readCaptureDevices(), std::vector<std::string>{"Cam Z"});
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kCaptureDevicesKey, "Device0")
                  ->data.size(),
              256u);
    const ProcAmpRange range{0, 128, 0, 255, 1};
    ASSERT_TRUE(store->writeProcAmpRange("Brightness", range));
    EXPECT_EQ(store->readProcAmpRange("Brightness"), range);
    EXPECT_EQ(
        m_registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "Brightness")->data.size(),
        20u);
}

TEST_F(SettingsTest, ActionFlagsTwelveMeansEmailAndProgram) {
    auto store = open(ProgramKind::Gardivo);
    store->settings().ActionFlags = 12;
    EXPECT_FALSE(store->wantsRecording());
    EXPECT_FALSE(store->wantsPhoneCall());
    EXPECT_TRUE(store->wantsEmail());
    EXPECT_TRUE(store->wantsProgram());
}

TEST_F(SettingsTest, GardivoSavesAtExitAndDropsAnEmptyEvidenceDirectory) {
    const std::string empty = m_program.file("2026.12.07_10.00.00");
    const std::string kept = m_program.file("2026.12.07_11.00.00");
    std::filesystem::create_directory(empty);
    std::filesystem::create_directory(kept);
    writeText(kept + "/error001.bmp", "BM");
    {
        auto store = open(ProgramKind::Gardivo);
        store->settings().Sensitivity = 42;
        store->setEvidenceDirectory(empty);
    }
    EXPECT_FALSE(std::filesystem::exists(empty));
    EXPECT_EQ(open(ProgramKind::Email)->settings().Sensitivity, 42);
    {
        auto store = open(ProgramKind::Gardivo);
        store->setEvidenceDirectory(kept);
    }
    EXPECT_TRUE(std::filesystem::exists(kept + "/error001.bmp"));
}

TEST_F(SettingsTest, WizardTakesPhoneAndCountryFromTheRegistry) {
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    auto store = open(ProgramKind::Wizard);
    WizardSettings wizard(*store);
    ASSERT_TRUE(wizard.loadRegistryValues());
    EXPECT_EQ(wizard.countryName(), "Japan"); // nothing stored yet: the locale's
    EXPECT_EQ(store->settings().RedialCount, 3);

    store->settings().ActionFlags = 2 | 4;
    store->settings().RedialCount = 5;
    setFieldText(store->settings().PhoneNumber, "+81 (3) 5555");
    wizard.setCountryName("Taiwan");
    wizard.setWarningFileName("/home/guard/warn.wav");
    ASSERT_TRUE(wizard.save());
    const char* key = SettingsStore::kKeyPath;
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "PHONECALL"), RegistryValue::dword(1));
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "PHONENUMBER")->text(), "+81 (3) 5555");
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "WARNINGFILENAME")->text(),
              "/home/guard/warn.wav");
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "DIALCOUNT")->text(), "5");
    EXPECT_EQ(m_registry.queryValue(RegistryRoot::CurrentUser, key, "COUNTRY")->text(), "Taiwan");

    // The registry's phone number wins over the file's.
    ASSERT_TRUE(
        m_registry.setValue(RegistryRoot::CurrentUser, key, "PHONENUMBER", RegistryValue::string("5551234")));
    auto again = open(ProgramKind::Wizard);
    WizardSettings reread(*again);
    ASSERT_TRUE(reread.loadRegistryValues());
    EXPECT_EQ(fieldText(again->settings().PhoneNumber), "5551234");
    EXPECT_EQ(reread.countryName(), "Taiwan");
    EXPECT_TRUE(m_reporter.messages().empty());
}

TEST_F(SettingsTest, WizardRegistryFailuresAreSaidButTheFileIsSaved) {
    TempDir other;
    writeText(other.file("blocker"), "");
    RegistryStore broken(other.file("blocker") + "/Tavrin");
    SettingsStore store(ProgramKind::Wizard, broken, m_reporter, m_program.dir(), m_home);
    WizardSettings wizard(store);
    EXPECT_FALSE(wizard.loadRegistryValues());
    EXPECT_TRUE(wizard.save());
    EXPECT_EQ(m_reporter.texts(),
              (std::vector<std::string>{"Reading registry error!", "Writing registry error!"}));
    EXPECT_EQ(readBytes(cfg()).size(), 1416u);
}

} // namespace
