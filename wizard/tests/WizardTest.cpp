// cfgwiz as a user meets it: the form on a record and a registry of the test's own, a fake
// gardivo on a real endpoint in another thread, and the dialogs.
//
// With GARDIVO_TEST_SCREENSHOTS=DIR the tests leave a picture of each tab there.

#include "monitor/messages/WindowMessages.h"
#include "monitor/web/WebAccounts.h"
#include "platform/ProgramDirectory.h"
#include "platform/RecordingReporter.h"
#include "platform/SystemInfo.h"
#include "platform/qt/LocalEndpoint.h"
#include "platform/tests/QtTestApplication.h"
#include "platform/tests/TempDir.h"
#include "settings/ConnectionOptions.h"
#include "settings/EvidenceOptions.h"
#include "wizard/Autostart.h"
#include "wizard/CountryTable.h"
#include "wizard/DirectoryChooser.h"
#include "wizard/EmailBodyDialog.h"
#include "wizard/PhoneNumber.h"
#include "wizard/SettingsForm.h"
#include "wizard/SmtpDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <utility>
#include <vector>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// gardivo as far as the wizard can tell: an endpoint in a thread of its own that notes what it
// is sent.
class FakeGardivo {
public:
    struct Received {
        uint32_t message;
        int64_t wParam;
        int64_t lParam;
    };
    FakeGardivo() {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_endpoint = std::make_unique<LocalEndpoint>(
                    [this](uint32_t message, int64_t w, int64_t l) -> int64_t {
                        std::lock_guard lock(m_mutex);
                        m_received.push_back({message, w, l});
                        return 1;
                    });
                m_listening = m_endpoint->listen("TavrinWatchDog");
            },
            Qt::BlockingQueuedConnection);
    }
    ~FakeGardivo() {
        QMetaObject::invokeMethod(
            &m_context, [this] { m_endpoint.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool listening() const { return m_listening; }
    std::vector<Received> received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    bool got(uint32_t message, int64_t wParam, int64_t lParam) {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_received.begin(), m_received.end(), [&](const Received& r) {
            return r.message == message && r.wParam == wParam && r.lParam == lParam;
        });
    }

private:
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<LocalEndpoint> m_endpoint;
    std::mutex m_mutex;
    std::vector<Received> m_received;
    bool m_listening = false;
};

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
        ::chmod(runtime.path().c_str(), 0700);
        fs::create_directories(program.file("help"));
        writeText(program.file("help/help.htm"), "<html>help</html>");
        environment.registry = &registry;
        environment.reporter = &reporter;
        environment.programDirectory = program.dir();
        environment.homeDirectory = home.path();
        environment.makeStore = [this] {
            return std::make_unique<SettingsStore>(ProgramKind::Wizard, registry, reporter, program.dir(),
                                                   home.path());
        };
        environment.gardivoRunning = [] { return LocalEndpoint::exists("TavrinWatchDog", 200); };
        environment.sendToGardivo = [](uint32_t m, int64_t w, int64_t l) {
            return LocalEndpoint::send("TavrinWatchDog", m, w, l, nullptr, 3000);
        };
        environment.postToGardivo = [](uint32_t m, int64_t w, int64_t l) {
            return LocalEndpoint::post("TavrinWatchDog", m, w, l);
        };
        environment.startProgram = [this](const std::string& program, const std::vector<std::string>&) {
            started.push_back(program);
            return startSucceeds;
        };
        environment.openDocument = [this](const std::string& path) {
            opened.push_back(path);
            return true;
        };
        environment.chooseFile = [this](QWidget*, const QString&, const QString&) { return chosenFile; };
        environment.autostartDirectory = config.file("autostart");
        environment.mounts = [this] { return mounts; };
    }

    // A record on disk, as a program would have written it.
    void writeRecord(const WatchdogSettings& record) {
        const auto bytes = record.toBytes();
        writeBytes(program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    WatchdogSettings readRecord() {
        const auto bytes = readBytes(program.file("watchdog.cfg"));
        WatchdogSettings::Bytes raw{};
        EXPECT_EQ(bytes.size(), raw.size());
        std::copy_n(bytes.begin(), std::min(bytes.size(), raw.size()), raw.begin());
        return WatchdogSettings::fromBytes(raw);
    }
    // A record the form can show as it is: every field it touches in range, everything else noise.
    WatchdogSettings validRecord() {
        WatchdogSettings s{};
        std::mt19937 rng(7);
        auto* bytes = reinterpret_cast<uint8_t*>(&s);
        for (size_t i = 0; i < sizeof s; ++i)
            bytes[i] = static_cast<uint8_t>(rng());
        const auto text = [](auto& field, const std::string& value) {
            std::memset(field, 0, sizeof field);
            std::memcpy(field, value.data(), value.size());
        };
        s.Sensitivity = 42;
        s.DetectInterval = 250;
        text(s.WorkingDirectory, home.file("evidence"));
        s.WindowStyle = 2;
        s.RegionMode = 1;
        s.AutoRun = 0;
        s.WarningSound = 1;
        s.StartDelay = 15;
        s.TracingMode = 1;
        s.StopRule = 2;
        s.ReleaseTime = 90;
        s.ConditionLimit = 12;
        s.ActionFlags = 1;
        s.RecordTimeLimit = 33;
        s.RecordFrameRate = 25;
        text(s.ProgramFile, "/usr/bin/true");
        text(s.EmailAddress, "guard@example.com");
        text(s.EmailCc, "boss@example.com");
        text(s.EmailBody, "Someone is here.\r\n");
        text(s.PhoneNumber, "+886 (02) 12345678");
        s.RedialCount = 4;
        s.CaptureDevice = 1;
        s.VideoStandard = 4;
        return s;
    }

    // The devices gardivo listed, and colour ranges it wrote for the current one.
    void listDevices(const std::vector<std::pair<const char*, ProcAmpRange>>& ranges) {
        registry.update(RegistryRoot::CurrentUser, [](RegistryHive& hive) {
            hive.setValue(SettingsStore::kCaptureDevicesKey, "Device0",
                          RegistryValue::string("Test Pattern", 256));
            hive.setValue(SettingsStore::kCaptureDevicesKey, "Device1",
                          RegistryValue::string("USB Camera", 256));
        });
        writeRanges(ranges);
    }
    void writeRanges(const std::vector<std::pair<const char*, ProcAmpRange>>& ranges) {
        RecordingReporter quiet;
        SettingsStore store(ProgramKind::Wizard, registry, quiet, program.dir(), home.path());
        for (const auto& [name, range] : ranges)
            store.writeProcAmpRange(name, range);
    }

    void screenshot(SettingsForm& form, const char* name) {
        const QByteArray directory = qgetenv("GARDIVO_TEST_SCREENSHOTS");
        if (!directory.isEmpty())
            form.grab().save(QString::fromUtf8(directory) + "/" + name + ".png");
    }

    TempDir program;
    TempDir home;
    TempDir config;
    TempDir runtime;
    TempDir registryDir;
    RegistryStore registry{registryDir.path()};
    RecordingReporter reporter;
    WizardEnvironment environment;
    std::vector<std::string> started;
    std::vector<std::string> opened;
    bool startSucceeds = true;
    QString chosenFile;
    std::vector<MountedFileSystem> mounts;
};

} // namespace

TEST(CountryTable, LooksUpBothWaysAtBothEndsOfTheTable) {
    EXPECT_EQ(CountryTable::rows().size(), 233u);
    EXPECT_STREQ(CountryTable::at(0).name, "Afghanistan");
    EXPECT_EQ(CountryTable::at(0).callingCode, 93);
    EXPECT_STREQ(CountryTable::at(232).name, "Zimbabwe");
    EXPECT_EQ(CountryTable::at(232).callingCode, 263);
    // Outside the table: Taiwan.
    EXPECT_STREQ(CountryTable::at(233).name, "Taiwan");
    EXPECT_EQ(CountryTable::at(-1).callingCode, 886);
    EXPECT_EQ(CountryTable::indexOf("united states"), CountryTable::indexOf("United States"));
    EXPECT_STREQ(CountryTable::at(CountryTable::indexOf("UNITED STATES")).name, "United States");
    EXPECT_EQ(CountryTable::indexOf("Atlantis"), 0);
    EXPECT_EQ(CountryTable::indexOf("Zimbabwe"), 232);
    const int korea = CountryTable::indexOf("korea, north");
    EXPECT_EQ(CountryTable::at(korea).callingCode, 850);
    EXPECT_EQ(CountryTable::shownName(korea), "Korea, North ");
    EXPECT_STREQ(CountryTable::at(CountryTable::indexOf("Congo, Democractic Republic of the")).name,
                 "Congo, Democractic Republic of the");
}

TEST(PhoneNumber, SplitsAndComposesAsStored) {
    EXPECT_EQ(splitPhoneNumber("+886 (02) 12345678"), (PhoneParts{"02", "12345678"}));
    EXPECT_EQ(splitPhoneNumber("12345678"), (PhoneParts{"", "12345678"}));
    EXPECT_EQ(splitPhoneNumber("+1 5551234"), (PhoneParts{"", "5551234"}));
    EXPECT_EQ(splitPhoneNumber(""), (PhoneParts{"", ""}));
    EXPECT_EQ(splitPhoneNumber("a b"), (PhoneParts{"", "b"}));
    EXPECT_EQ(splitPhoneNumber("  "), (PhoneParts{"", ""}));
    EXPECT_EQ(composePhoneNumber(886, "02", "12345678"), "+886 (02) 12345678");
    EXPECT_EQ(composePhoneNumber(886, "", "12345678"), "12345678");
    EXPECT_EQ(composePhoneNumber(1, "555", "123456789012"), "+1 (555) 1234567890");
}

TEST_F(WizardTest, ARecordRoundTripsThroughTheFormByteForByte) {
    const WatchdogSettings original = validRecord();
    writeRecord(original);
    registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "COUNTRY",
                      RegistryValue::string("taiwan"));
    SettingsForm form(environment);
    // What the form shows.
    EXPECT_EQ(form.sensitivity()->value(), 42);
    EXPECT_EQ(form.detectRate()->value(), 4);
    EXPECT_TRUE(form.windowStyle(2)->isChecked());
    EXPECT_TRUE(form.regionMode(1)->isChecked());
    EXPECT_TRUE(form.scheduled()->isChecked());
    EXPECT_EQ(form.startDelay()->value(), 15);
    EXPECT_TRUE(form.tracingMode(1)->isChecked());
    EXPECT_TRUE(form.stopRule(2)->isChecked());
    EXPECT_EQ(form.conditionLimit()->value(), 12);
    EXPECT_EQ(form.frameRate()->value(), 25);
    EXPECT_EQ(form.country()->currentText(), "Taiwan");
    EXPECT_EQ(form.areaCode()->text(), "02");
    EXPECT_EQ(form.phoneNumber()->text(), "12345678");
    EXPECT_EQ(form.videoStandard()->currentText(), "PAL_BGH");
    EXPECT_EQ(form.emailBody(), "Someone is here.\r\n");
    reporter.queueAnswer(MessageAnswer::No); // no gardivo to start
    ASSERT_TRUE(form.pressOk());
    const auto before = original.toBytes();
    const auto after = readRecord().toBytes();
    for (size_t i = 0; i < before.size(); ++i)
        ASSERT_EQ(before[i], after[i]) << "byte " << i;
    EXPECT_EQ(reporter.texts(), std::vector<std::string>{"Do you want to execute Gardivo now?"});
}

TEST_F(WizardTest, NumbersAreShownInRangeAndSavedOnlyWhenTheUserSaves) {
    WatchdogSettings s = validRecord();
    s.DetectInterval = 333;
    s.Sensitivity = 500;
    s.RecordFrameRate = 30000;
    s.RedialCount = -4;
    writeRecord(s);
    {
        SettingsForm form(environment);
        EXPECT_EQ(form.detectRate()->value(), 3);
        EXPECT_EQ(form.sensitivity()->value(), 99);
        EXPECT_EQ(form.frameRate()->value(), 30);
        EXPECT_EQ(form.redials()->value(), 1);
        form.pressCancel();
    }
    EXPECT_EQ(readRecord().Sensitivity, 500); // nothing saved
    s.DetectInterval = 0;                     // would divide by nothing
    writeRecord(s);
    SettingsForm form(environment);
    EXPECT_EQ(form.detectRate()->value(), 2);
    form.detectRate()->setValue(4);
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(form.pressOk());
    EXPECT_EQ(readRecord().DetectInterval, 250);
    EXPECT_EQ(readRecord().RecordFrameRate, 30);
}

TEST_F(WizardTest, DamagedFilesStillOpenTheForm) {
    writeText(program.file("watchdog.cfg"), "short");
    writeText(registry.filePath(RegistryRoot::CurrentUser),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tavrin\\Gardivo]\n"
              "\"COUNTRY\"=\"Japan\"\n\"broken");
    SettingsForm form(environment);
    EXPECT_EQ(form.sensitivity()->value(), 90);
    EXPECT_TRUE(fs::exists(program.file("watchdog.cfg.bad")));
    form.pressCancel();
}

TEST_F(WizardTest, ChecksComeInOrderWithTheirTextsAndFocus) {
    writeRecord(validRecord());
    writeText(program.file("Warning.wav"), "RIFF");
    SettingsForm form(environment);
    form.show();
    ASSERT_TRUE(waitUntil([&] { return form.isVisible(); }));
    const auto expectFailure = [&](const char* text, QWidget* focus) {
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        ASSERT_EQ(reporter.texts().size(), 1u) << text << " / " << reporter.texts().back();
        EXPECT_EQ(reporter.texts()[0], text);
        QApplication::processEvents();
        EXPECT_EQ(form.focusWidget(), focus) << text;
    };
    // A working directory that cannot be made: under a plain file.
    writeText(home.file("file"), "x");
    form.workingDirectory()->setText(QString::fromStdString(home.file("file/evidence")));
    form.tabs()->setCurrentIndex(2);
    reporter.clear();
    EXPECT_FALSE(form.pressOk());
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "Cannot create working directory " + home.file("file/evidence") +
                                       ". Please fill another directory...");
    EXPECT_EQ(form.tabs()->currentIndex(), 0);
    form.workingDirectory()->setText(QString::fromStdString(home.file("evidence")));

    form.sendEmail()->click();
    form.emailAddress()->clear();
    expectFailure("EMail address can't be blank, please fill a valid e-mail address...", form.emailAddress());
    EXPECT_EQ(form.tabs()->currentIndex(), 2);
    form.emailAddress()->setText("@example.com");
    expectFailure("EMail address format is not valid, please fill a valid e-mail address...",
                  form.emailAddress());
    form.emailAddress()->setText("guard@example.com");
    form.emailCc()->setText("nobody");
    expectFailure("CC EMail address format is not valid, please fill a valid e-mail address...",
                  form.emailCc());
    form.emailCc()->clear();
    form.phoneCall()->click();
    form.phoneNumber()->clear();
    expectFailure("Please fill in the phone number...", form.phoneNumber());
    form.phoneNumber()->setText("5551234");
    form.runProgram()->click();
    form.programFile()->clear();
    expectFailure("Program file name can't be blank, please fill a program file name...", form.programFile());
    // The phone's wave file falls back to the program's own before anything is saved.
    form.programFile()->setText("/usr/bin/true");
    form.waveFile()->setText("/nowhere/ring.wav");
    reporter.clear();
    reporter.queueAnswer(MessageAnswer::Ok);
    reporter.queueAnswer(MessageAnswer::No);
    EXPECT_TRUE(form.pressOk());
    EXPECT_EQ(reporter.texts()[0], "The warning sound file is not existing, set to default...");
    EXPECT_EQ(
        registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "WARNINGFILENAME")->text(),
        program.file("Warning.wav"));
    EXPECT_EQ(readRecord().ActionFlags, 1u | 2u | 4u | 8u);
}

TEST_F(WizardTest, EachChoiceEnablesItsOwnControls) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    form.scheduled()->click();
    EXPECT_FALSE(form.startDelay()->isEnabled());
    form.scheduled()->click();
    EXPECT_TRUE(form.startDelay()->isEnabled());
    form.tracingMode(2)->click();
    EXPECT_FALSE(form.releaseTime()->isEnabled());
    form.tracingMode(1)->click();
    EXPECT_TRUE(form.releaseTime()->isEnabled());
    form.stopRule(1)->click();
    EXPECT_FALSE(form.conditionLimit()->isEnabled());
    form.stopRule(2)->click();
    EXPECT_TRUE(form.conditionLimit()->isEnabled());
    EXPECT_TRUE(form.timeLimit()->isEnabled());
    form.recording()->click();
    EXPECT_FALSE(form.timeLimit()->isEnabled());
    EXPECT_FALSE(form.emailAddress()->isEnabled());
    EXPECT_FALSE(form.smtpButton()->isEnabled());
    form.sendEmail()->click();
    EXPECT_TRUE(form.emailAddress()->isEnabled() && form.emailBodyButton()->isEnabled() &&
                form.smtpButton()->isEnabled());
    EXPECT_FALSE(form.phoneNumber()->isEnabled());
    form.phoneCall()->click();
    EXPECT_TRUE(form.phoneNumber()->isEnabled() && form.country()->isEnabled() &&
                form.redials()->isEnabled());
    EXPECT_FALSE(form.programFile()->isEnabled());
    form.runProgram()->click();
    EXPECT_TRUE(form.programFile()->isEnabled());
}

TEST_F(WizardTest, PhoneNumbersAreSavedWithTheCountryAndFitTheirField) {
    writeRecord(validRecord());
    registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "COUNTRY",
                      RegistryValue::string("Taiwan"));
    SettingsForm form(environment);
    form.phoneCall()->click();
    form.country()->setCurrentIndex(CountryTable::indexOf("Germany"));
    form.areaCode()->setText("030");
    form.phoneNumber()->setText("123456789012345");
    // "+49 (030) " leaves nine characters for the number.
    EXPECT_EQ(form.phoneNumber()->text(), "123456789");
    // A longer calling code takes a digit away; going back gives it back, as typed.
    form.country()->setCurrentIndex(CountryTable::indexOf("Portugal"));
    EXPECT_EQ(form.phoneNumber()->text(), "12345678");
    form.country()->setCurrentIndex(CountryTable::indexOf("Germany"));
    EXPECT_EQ(form.phoneNumber()->text(), "123456789");
    reporter.queueAnswer(MessageAnswer::Ok); // no wave file
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(form.pressOk());
    EXPECT_EQ(fieldText(readRecord().PhoneNumber), "+49 (030) 123456789");
    EXPECT_EQ(registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "COUNTRY")->text(),
              "Germany");
    EXPECT_EQ(registry.queryValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "PHONENUMBER")->text(),
              "+49 (030) 123456789");

    // Without an area code the number is saved alone.
    SettingsForm again(environment);
    EXPECT_EQ(again.areaCode()->text(), "030");
    EXPECT_EQ(again.country()->currentText(), "Germany");
    again.areaCode()->clear();
    again.phoneNumber()->setText("5551234");
    reporter.queueAnswer(MessageAnswer::Ok);
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(again.pressOk());
    EXPECT_EQ(fieldText(readRecord().PhoneNumber), "5551234");
}

TEST_F(WizardTest, TheMailDialogsKeepTheirValues) {
    {
        SmtpDialog dialog(registry, reporter);
        EXPECT_FALSE(dialog.authentication()->isChecked());
        EXPECT_FALSE(dialog.user()->isEnabled());
        // A first setup remembers the password, so that alerts at an alarm can log in.
        EXPECT_TRUE(dialog.remember()->isChecked());
        dialog.server()->setText("smtp.example.com");
        dialog.authentication()->click();
        EXPECT_TRUE(dialog.user()->isEnabled() && dialog.password()->isEnabled() &&
                    dialog.remember()->isEnabled());
        dialog.user()->setText("guard");
        dialog.password()->setText("abcde");
        EXPECT_EQ(dialog.password()->maxLength(), 189);
        // The natural first setup: alerts at an alarm can log in, and nobody is told otherwise.
        reporter.clear();
        EXPECT_TRUE(dialog.pressOk());
        EXPECT_TRUE(reporter.texts().empty());
    }
    const auto password = registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Password");
    ASSERT_TRUE(password);
    EXPECT_EQ(password->type, RegType::Binary);
    EXPECT_EQ(std::string(password->data.begin(), password->data.end()), "YWJjZGU=");
    EXPECT_EQ(registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Prompt for Password")
                  ->dwordValue(),
              0u);
    // The file with the password is its owner's alone.
    struct stat st {};
    ASSERT_EQ(::stat(registry.filePath(RegistryRoot::LocalMachine).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
        SmtpDialog dialog(registry, reporter);
        EXPECT_EQ(dialog.password()->text(), "abcde");
        EXPECT_TRUE(dialog.authentication()->isChecked());
        EXPECT_TRUE(dialog.remember()->isChecked());
        dialog.store(); // OK without changes
        EXPECT_TRUE(SmtpDialog::automaticLoginProblem(registry).empty());
        // Not to be remembered: not kept, and the user hears that alerts cannot log in.
        dialog.remember()->setChecked(false);
        reporter.clear();
        EXPECT_TRUE(dialog.pressOk());
        ASSERT_EQ(reporter.texts().size(), 1u);
        EXPECT_EQ(
            reporter.texts()[0],
            "The password of guard is not remembered, so the e-mail sent at an alarm cannot log in to "
            "smtp.example.com and will not go out; only mail sent by hand from the Tracing Box, which asks "
            "for the password, will. Check \"Remeber password\" for alerts at every alarm.");
        dialog.user()->clear();
        dialog.store();
    }
    const auto kept = registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Password");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->data.empty());
    SmtpDialog cleared(registry, reporter);
    EXPECT_FALSE(cleared.authentication()->isChecked());
    EXPECT_FALSE(cleared.remember()->isChecked());
    // Authentication unchecked with a user and a password typed: nothing to log in with is kept.
    {
        SmtpDialog dialog(registry, reporter);
        dialog.authentication()->click();
        dialog.user()->setText("guard");
        dialog.password()->setText("abcde");
        dialog.authentication()->click();
        EXPECT_FALSE(dialog.authentication()->isChecked());
        dialog.store();
    }
    EXPECT_EQ(registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "User ID")->text(), "");
    const auto none = registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Password");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->data.empty());
    // A password is limited by what is stored: 189 letters of two bytes each are refused, and
    // the longest password that fits comes back whole.
    {
        SmtpDialog dialog(registry, reporter);
        dialog.authentication()->click();
        dialog.user()->setText("guard");
        dialog.remember()->setChecked(true);
        dialog.password()->setText(QString(189, QChar(0x00E9)));
        reporter.clear();
        EXPECT_FALSE(dialog.pressOk());
        ASSERT_EQ(reporter.texts().size(), 1u);
        EXPECT_EQ(reporter.texts()[0],
                  "The password is too long to be kept: at most 189 bytes, and this one takes "
                  "378 (letters beyond English take two to four bytes each).");
        dialog.password()->setText(QString(94, QChar(0x00E9)) + "x");
        EXPECT_TRUE(dialog.pressOk());
    }
    {
        SmtpDialog dialog(registry, reporter);
        EXPECT_EQ(dialog.password()->text(), QString(94, QChar(0x00E9)) + "x");
    }

    EmailBodyDialog body;
    body.setBody("first\r\nsecond\r\n");
    EXPECT_EQ(body.editor()->toPlainText(), "first\nsecond\n");
    body.editor()->setPlainText("one\ntwo");
    EXPECT_EQ(body.body(), "one\r\ntwo\r\n");
    body.editor()->setPlainText(QString(300, 'x'));
    EXPECT_EQ(body.body().size(), 259u);
    // Opened and closed with OK, again and again: the body stays as it was.
    std::string roundTrip = "first\r\nsecond\r\n";
    for (int i = 0; i < 3; ++i) {
        body.setBody(roundTrip);
        roundTrip = body.body();
    }
    EXPECT_EQ(roundTrip, "first\r\nsecond\r\n");
}

TEST_F(WizardTest, TheDirectoryChooserTakesOnlyLocalHardDrives) {
    TempDir memory;
    mounts = {{"/", "ext4", "/dev/sda1", false, false},
              {program.path(), "ext4", "/dev/sda2", false, false},
              {memory.path(), "tmpfs", "tmpfs", false, false},
              {"/media/stick", "vfat", "/dev/sdb1", false, true},
              {"/mnt/share", "nfs4", "server:/share", false, false},
              {"/proc", "proc", "proc", false, false}};
    DirectoryChooser chooser(reporter, [this] { return mounts; });
    QStringList drives;
    for (int i = 0; i < chooser.drives()->count(); ++i)
        drives << chooser.drives()->itemData(i).toString();
    EXPECT_FALSE(drives.contains(QString::fromStdString(memory.path())));
    EXPECT_TRUE(drives.contains("/mnt/share") && drives.contains("/media/stick"));
    EXPECT_FALSE(drives.contains("/proc"));

    // A memory file system is refused, and nothing is made there.
    EXPECT_EQ(chooser.checkPath(memory.file("evidence"), false), "");
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "Please choose one local hard drive!");
    EXPECT_EQ(reporter.messages()[0].caption, "Select Directory");
    EXPECT_FALSE(fs::exists(memory.file("evidence")));
    EXPECT_EQ(chooser.checkPath("/mnt/share/evidence", false), "");
    EXPECT_EQ(chooser.checkPath("/media/stick", true), "");
    EXPECT_EQ(chooser.checkPath("/", false), "");
    reporter.clear();
    // The root may be browsed from the drive list (the only drive of a one-partition machine).
    EXPECT_EQ(chooser.checkPath("/", true), "/");
    EXPECT_TRUE(reporter.messages().empty());
    EXPECT_EQ(chooser.checkPath("relative/path", false), "");
    reporter.clear();
    // A local folder is made once, then taken as it is; a drive itself is taken without making.
    EXPECT_EQ(chooser.checkPath(program.file("evidence"), false), program.file("evidence"));
    EXPECT_TRUE(fs::is_directory(program.file("evidence")));
    EXPECT_EQ(chooser.checkPath(program.file("evidence/"), false), program.file("evidence"));
    EXPECT_EQ(chooser.checkPath(program.path(), true), program.path());
    EXPECT_TRUE(reporter.messages().empty());
    // Only one folder is made: a missing parent is a failure.
    EXPECT_EQ(chooser.checkPath(program.file("a/b"), false), "");
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "Creating the new directory has failed! Please choose another one!");
    EXPECT_EQ(reporter.messages()[0].caption, "Create Directory");

    // From the form: the chosen folder becomes the working directory.
    writeRecord(validRecord());
    SettingsForm form(environment);
    DirectoryChooser* formChooser = form.directoryChooser();
    EXPECT_EQ(formChooser, form.directoryChooser()); // made once
    QTimer::singleShot(0, [&] {
        formChooser->name()->setText(QString::fromStdString(program.file("picked")));
        formChooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    form.workingDirectoryBrowse()->click();
    EXPECT_EQ(form.workingDirectory()->text().toStdString(), program.file("picked"));
}

TEST(LocalFileSystems, MountInfoIsReadWithItsEscapes) {
    const auto mounts =
        parseMountInfo("22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                       "30 22 0:25 / /home/guard/My\\040Disk rw shared:2 - btrfs /dev/nvme0n1p3 rw\n"
                       "31 22 0:26 / /run rw,nosuid - tmpfs tmpfs rw\n"
                       "32 22 0:27 / /mnt/backup ro,relatime - xfs /dev/sdc1 ro\n"
                       "33 22 0:28 / /net rw - cifs //server/share rw\n"
                       "broken line\n");
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[1].mountPoint, "/home/guard/My Disk");
    EXPECT_EQ(mounts[1].type, "btrfs");
    EXPECT_TRUE(isLocalHardDrive(mounts[1]));
    EXPECT_EQ(driveKind(mounts[2]), DriveKind::Memory);
    EXPECT_TRUE(mounts[3].readOnly);
    EXPECT_FALSE(isLocalHardDrive(mounts[3]));
    EXPECT_EQ(driveKind(mounts[4]), DriveKind::Network);
    EXPECT_EQ(driveKind({"/x", "fuse.sshfs", "a:", false, false}), DriveKind::Network);
    EXPECT_EQ(mountOf(mounts, "/home/guard/My Disk/evidence/new")->type, "btrfs");
    EXPECT_EQ(mountOf(mounts, "/home/guard/My Diskette")->type, "ext4");
}

TEST_F(WizardTest, ARunningGardivoHearsOfEveryChange) {
    listDevices({{"Brightness", {0, 128, 0, 255, 1}}, {"Hue", {0, 0, -180, 180, 1}}});
    WatchdogSettings record = validRecord();
    record.CaptureDevice = 0;
    record.Brightness = 300; // beyond the device's range
    writeRecord(record);
    FakeGardivo gardivo;
    ASSERT_TRUE(gardivo.listening());
    SettingsForm form(environment);
    EXPECT_FALSE(form.workingDirectory()->isEnabled()); // not while gardivo runs
    EXPECT_EQ(form.captureDevice()->count(), 2);
    EXPECT_EQ(form.colour(0)->value(), 255);
    EXPECT_EQ(form.colourMinimum(3)->text(), "-180");
    EXPECT_EQ(form.colourMaximum(3)->text(), "180");
    form.captureDevice()->setCurrentIndex(1);
    form.videoStandard()->setCurrentIndex(7);
    form.colour(3)->setValue(-20);
    form.resetColours()->click();
    EXPECT_EQ(form.colour(0)->value(), 128);
    form.pressOk();
    // The sends were answered before the form went on; the posts arrive in their own time.
    const auto received = gardivo.received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0].message, WM_APP_SELECT_DEVICE);
    EXPECT_EQ(received[0].wParam, 1);
    EXPECT_EQ(received[1].message, WM_APP_SELECT_STANDARD);
    EXPECT_EQ(received[1].wParam, 7);
    EXPECT_TRUE(waitUntil([&] { return gardivo.got(WM_APP_PROC_AMP, 1004, -20); }));
    EXPECT_TRUE(waitUntil([&] { return gardivo.got(WM_APP_PROC_AMP, 1001, 128); }));
    EXPECT_TRUE(waitUntil([&] { return gardivo.got(WM_APP_SETTINGS_CHANGED, 0, 0); }));
    // With gardivo running nobody is asked whether to start it.
    EXPECT_TRUE(reporter.texts().empty());
    EXPECT_EQ(readRecord().CaptureDevice, 1);
    EXPECT_EQ(readRecord().Brightness, 128);
    EXPECT_EQ(readRecord().Contrast, record.Contrast); // no range: never shown, kept

    const auto changes = [&] {
        const auto all = gardivo.received();
        return std::count_if(all.begin(), all.end(), [](const FakeGardivo::Received& r) {
            return r.message == WM_APP_SETTINGS_CHANGED;
        });
    };
    SettingsForm again(environment);
    again.pressCancel();
    EXPECT_TRUE(waitUntil([&] { return changes() == 2; }));
}

TEST_F(WizardTest, GardivosMessagesReachTheOpenForm) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    ASSERT_TRUE(form.listen());
    EXPECT_EQ(form.captureDevice()->count(), 0);
    registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kCaptureDevicesKey, "Device0",
                      RegistryValue::string("New Camera", 256));
    ASSERT_TRUE(LocalEndpoint::post(SettingsForm::kEndpointName, WM_APP_SELECT_DEVICE, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return form.captureDevice()->count() == 1; }));
    EXPECT_EQ(form.captureDevice()->itemText(0), "New Camera");
    // Another program presses OK.
    reporter.queueAnswer(MessageAnswer::Yes);
    form.show();
    ASSERT_TRUE(LocalEndpoint::post(SettingsForm::kEndpointName, WM_APP_SETUP_OK, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return !form.isVisible(); }));
    // No gardivo running: asked, and started.
    EXPECT_EQ(reporter.texts(), std::vector<std::string>{"Do you want to execute Gardivo now?"});
    EXPECT_EQ(started, std::vector<std::string>{program.file("gardivo")});
}

TEST_F(WizardTest, AutoRunKeepsAnAutostartEntryAndHelpAndDefaultDoTheirWork) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    form.autoRun()->setChecked(true);
    reporter.queueAnswer(MessageAnswer::Yes);
    startSucceeds = false;
    ASSERT_TRUE(form.pressOk());
    EXPECT_EQ(reporter.texts(),
              (std::vector<std::string>{"Do you want to execute Gardivo now?", "Cannot execute Gardivo..."}));
    Autostart autostart(config.file("autostart"));
    ASSERT_TRUE(autostart.isEnabled());
    const std::string entry = readText(autostart.entryPath());
    EXPECT_NE(entry.find("Exec=\"" + program.file("gardivo") + "\"\n"), std::string::npos);
    EXPECT_NE(entry.find("[Desktop Entry]"), std::string::npos);

    SettingsForm again(environment);
    EXPECT_TRUE(again.autoRun()->isChecked());
    again.autoRun()->setChecked(false);
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(again.pressOk());
    EXPECT_FALSE(autostart.isEnabled());

    // Default puts back what the file holds, not the built-in defaults.
    SettingsForm third(environment);
    third.sensitivity()->setValue(10);
    third.emailAddress()->setText("changed@example.com");
    third.pressDefault();
    EXPECT_EQ(third.sensitivity()->value(), 42);
    EXPECT_EQ(third.emailAddress()->text(), "guard@example.com");
    // Help finds help/help.htm whatever the letter case.
    third.pressHelp();
    EXPECT_EQ(opened, std::vector<std::string>{program.file("help/help.htm")});
    fs::remove_all(program.file("help"));
    reporter.clear();
    third.pressHelp();
    EXPECT_EQ(reporter.texts(), std::vector<std::string>{"Can't find help file..."});
}

TEST_F(WizardTest, FilesChosenForTheWaveAndTheProgram) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    form.phoneCall()->click();
    chosenFile = "/sounds/alarm";
    form.waveBrowse()->click();
    EXPECT_EQ(form.waveFile()->text(), "/sounds/alarm.wav");
    chosenFile = "/sounds/ALARM.WAV";
    form.waveBrowse()->click();
    EXPECT_EQ(form.waveFile()->text(), "/sounds/ALARM.WAV");
    chosenFile = "/sounds/alarm.mp3";
    form.waveBrowse()->click();
    EXPECT_EQ(form.waveFile()->text(), "/sounds/ALARM.WAV");
    EXPECT_EQ(reporter.texts(), std::vector<std::string>{"It must be a wave file..."});
}

TEST_F(WizardTest, PicturesOfTheTabs) {
    if (qEnvironmentVariableIsEmpty("GARDIVO_TEST_SCREENSHOTS"))
        GTEST_SKIP() << "only for the README's pictures";
    registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kCaptureDevicesKey, "Device0",
                      RegistryValue::string("Test Pattern", 256));
    {
        RecordingReporter quiet;
        SettingsStore store(ProgramKind::Wizard, registry, quiet, program.dir(), home.path());
        store.writeProcAmpRange("Brightness", {0, 128, 0, 255, 1});
        store.writeProcAmpRange("Contrast", {0, 64, 0, 127, 1});
        store.writeProcAmpRange("Saturation", {0, 64, 0, 127, 1});
        store.writeProcAmpRange("Hue", {0, 0, -180, 180, 1});
        WatchdogSettings& s = store.settings();
        setFieldText(s.WorkingDirectory, "/home/guard/Gardivo");
        setFieldText(s.EmailAddress, "guard@example.com");
        setFieldText(s.PhoneNumber, "+44 (20) 79460123");
        s.ActionFlags = 1 | 2 | 4;
        s.TracingMode = 1;
        s.StopRule = 1;
        s.RecordTimeLimit = 30;
        s.Sensitivity = 80;
        s.CaptureDevice = 0;
        store.save();
    }
    registry.setValue(RegistryRoot::CurrentUser, SettingsStore::kKeyPath, "COUNTRY",
                      RegistryValue::string("United Kingdom"));
    SettingsForm form(environment);
    const char* names[6] = {"setup-main",   "setup-working-mode", "setup-handling",
                            "setup-device", "setup-storage",      "setup-connections"};
    for (int tab = 0; tab < 6; ++tab) {
        form.tabs()->setCurrentIndex(tab);
        screenshot(form, names[tab]);
    }
}

namespace {

TEST_F(WizardTest, TheStorageTabKeepsItsValuesInTheRegistryAndLeavesTheRecordAlone) {
    writeRecord(validRecord());
    const std::vector<uint8_t> recordBefore = readBytes(program.file("watchdog.cfg"));
    {
        SettingsForm form(environment);
        form.show();
        ASSERT_GE(form.tabs()->count(), 5);
        EXPECT_EQ(form.tabs()->tabText(4), "Storage and clips");
        // A fresh machine: today's behaviour, with three seconds before the alarm.
        EXPECT_EQ(form.preRecord()->value(), 3);
        EXPECT_FALSE(form.retainSize()->isChecked());
        EXPECT_FALSE(form.retainGigabytes()->isEnabled());
        EXPECT_FALSE(form.retainAge()->isChecked());
        EXPECT_TRUE(form.lightingRule()->isChecked());
        EXPECT_TRUE(form.lightingPercent()->isEnabled());
        EXPECT_EQ(form.mailPicture()->currentIndex(), 0);

        form.preRecord()->setValue(12);
        form.retainSize()->setChecked(true);
        EXPECT_TRUE(form.retainGigabytes()->isEnabled());
        form.retainGigabytes()->setValue(2.5);
        form.retainAge()->setChecked(true);
        form.retainDays()->setValue(45);
        form.lightingPercent()->setValue(70);
        form.lightingRule()->setChecked(false);
        EXPECT_FALSE(form.lightingPercent()->isEnabled());
        form.playableCopies()->setChecked(false);
        EXPECT_FALSE(form.mailPlayableCopy()->isEnabled());
        form.mailPicture()->setCurrentIndex(2);
        // Out of range is out of reach.
        form.preRecord()->setValue(99);
        EXPECT_EQ(form.preRecord()->value(), 30);
        form.preRecord()->setValue(12);
        reporter.queueAnswer(MessageAnswer::No);
        ASSERT_TRUE(form.pressOk());
    }
    EvidenceOptions expected;
    expected.preRecordSeconds = 12;
    expected.retentionMegabytes = 2500;
    expected.retentionDays = 45;
    expected.lightingRule = false;
    expected.lightingPercent = 70;
    expected.playableCopies = false;
    expected.mailPlayableCopy = true;
    expected.mailPictureFormat = EvidenceOptions::Jpeg;
    const RegistryRoot root = registryRootFor(OsVersionCode());
    EXPECT_EQ(EvidenceOptions::read(registry, root), expected);
    const auto preRecord = registry.queryValue(root, EvidenceOptions::kKeyPath, "PreRecordSeconds");
    ASSERT_TRUE(preRecord);
    EXPECT_EQ(preRecord->dwordValue(), 12u);
    // The record is the same size it always was.
    EXPECT_EQ(readBytes(program.file("watchdog.cfg")).size(), recordBefore.size());

    // The next start shows what was saved; limits turned off again go back to none.
    SettingsForm again(environment);
    EXPECT_EQ(again.preRecord()->value(), 12);
    EXPECT_TRUE(again.retainSize()->isChecked());
    EXPECT_DOUBLE_EQ(again.retainGigabytes()->value(), 2.5);
    EXPECT_EQ(again.retainDays()->value(), 45);
    EXPECT_FALSE(again.lightingRule()->isChecked());
    EXPECT_EQ(again.mailPicture()->currentIndex(), 2);
    again.retainSize()->setChecked(false);
    again.retainAge()->setChecked(false);
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(again.pressOk());
    EXPECT_EQ(EvidenceOptions::read(registry, root).retentionMegabytes, 0);
    EXPECT_EQ(EvidenceOptions::read(registry, root).retentionDays, 0);
}

TEST_F(WizardTest, TheConnectionsTabRefusesWhatCannotWorkAndKeepsTheRest) {
    writeRecord(validRecord());
    {
        SettingsForm form(environment);
        form.show();
        ASSERT_EQ(form.tabs()->count(), 6);
        EXPECT_EQ(form.tabs()->tabText(5), "Connections");
        EXPECT_FALSE(form.mqtt()->isChecked());
        EXPECT_FALSE(form.offsite()->isChecked());
        EXPECT_EQ(form.mqttPort()->value(), 1883);

        form.mqtt()->setChecked(true);
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{"Please fill in the MQTT broker's host name or address..."});
        EXPECT_EQ(form.tabs()->currentIndex(), 5);
        form.mqttHost()->setText("broker.lan");
        form.mqttUser()->setText("camera");
        form.mqttPassword()->setText("p4ss");
        // A password would go in the clear: refused until TLS is on or the user allows it.
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        ASSERT_EQ(reporter.texts().size(), 1u);
        EXPECT_EQ(reporter.texts()[0].rfind("The MQTT password would be sent unencrypted", 0), 0u);
        form.mqttTls()->setChecked(true);
        EXPECT_EQ(form.mqttPort()->value(), 8883);
        EXPECT_FALSE(form.mqttPlainPassword()->isEnabled());
        form.mqttName()->setText("front door");
        form.mqttCommands()->setChecked(true);

        form.offsite()->setChecked(true);
        form.offsiteRemote()->setText("no remote");
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{"Please fill in the rclone remote, such as backup:gardivo..."});
        form.offsiteRemote()->setText("backup:gardivo/front");
        reporter.queueAnswer(MessageAnswer::No);
        ASSERT_TRUE(form.pressOk());
    }
    const ConnectionOptions saved = ConnectionOptions::read(registry, registryRootFor(OsVersionCode()));
    EXPECT_TRUE(saved.mqtt);
    EXPECT_EQ(saved.mqttHost, "broker.lan");
    EXPECT_EQ(saved.mqttPort, 8883);
    EXPECT_TRUE(saved.mqttTls);
    EXPECT_EQ(saved.mqttUser, "camera");
    EXPECT_EQ(saved.mqttPassword, "p4ss");
    EXPECT_EQ(saved.topicName(), "front_door");
    EXPECT_TRUE(saved.mqttCommands);
    EXPECT_TRUE(saved.offsite);
    EXPECT_EQ(saved.offsiteRemote, "backup:gardivo/front");
    // The password is not kept as typed.
    const auto stored =
        registry.queryValue(registryRootFor(OsVersionCode()), ConnectionOptions::kKeyPath, "MqttPassword");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->text().find("p4ss"), std::string::npos);
    SettingsForm again(environment);
    EXPECT_TRUE(again.mqtt()->isChecked());
    EXPECT_EQ(again.mqttHost()->text(), "broker.lan");
    EXPECT_EQ(again.offsiteRemote()->text(), "backup:gardivo/front");
}

TEST_F(WizardTest, TheWebViewNeedsAUserAndShowsItsCertificatesFingerprint) {
    writeRecord(validRecord());
    {
        SettingsForm form(environment);
        form.show();
        form.web()->setChecked(true);
        // Turned on, the certificate is made so that its fingerprint can be read out.
        EXPECT_NE(form.webFingerprint()->text().indexOf("Certificate SHA-256: "), -1);
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{
                      "The web view needs a user: please fill in a user name and a password..."});
        form.webUser()->setText("guard");
        form.webPassword()->setText("short");
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{"The web user's password needs at least 8 characters..."});
        form.webPassword()->setText("correct horse");
        form.webPort()->setValue(9443);
        // A certificate of the user's own needs its key, and both must exist.
        form.webCert()->setText(QString::fromStdString(program.file("mine.pem")));
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{"Please fill in both the certificate and its key, or neither..."});
        form.webKey()->setText(QString::fromStdString(program.file("mine.key")));
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        EXPECT_EQ(reporter.texts(),
                  std::vector<std::string>{
                      "The certificate or key file does not exist, please fill another one..."});
        form.webCert()->clear();
        form.webKey()->clear();
        reporter.queueAnswer(MessageAnswer::No);
        ASSERT_TRUE(form.pressOk());
    }
    const ConnectionOptions saved = ConnectionOptions::read(registry, registryRootFor(OsVersionCode()));
    EXPECT_TRUE(saved.web);
    EXPECT_EQ(saved.webPort, 9443);
    SettingsStore store(ProgramKind::Wizard, registry, reporter, program.dir(), home.path());
    EXPECT_TRUE(WebAccounts(store.places().settings + "web-users").verify("guard", "correct horse"));
    // Later, the user need not be typed again.
    SettingsForm again(environment);
    EXPECT_NE(again.webFingerprint()->text().indexOf("Users: guard"), -1);
    reporter.queueAnswer(MessageAnswer::No);
    EXPECT_TRUE(again.pressOk());
}

TEST_F(WizardTest, ASaveThatFailsSaysWhyAndKeepsEverythingTyped) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    form.show();
    form.sensitivity()->setValue(11);
    // The record cannot be replaced: its name is taken by a folder.
    fs::remove(program.file("watchdog.cfg"));
    fs::create_directories(program.file("watchdog.cfg/inside"));
    reporter.clear();
    EXPECT_FALSE(form.pressOk());
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_EQ(
        reporter.texts()[0].rfind("Cannot save the settings to " + program.file("watchdog.cfg") + " (", 0),
        0u)
        << reporter.texts()[0];
    EXPECT_TRUE(form.isVisible());
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.sensitivity()->value(), 11);
    // Once it can be written, the same OK saves what was typed.
    fs::remove_all(program.file("watchdog.cfg"));
    reporter.clear();
    reporter.queueAnswer(MessageAnswer::No);
    EXPECT_TRUE(form.pressOk());
    EXPECT_EQ(readRecord().Sensitivity, 11);
}

TEST_F(WizardTest, EscapeAndTheCloseBoxAreCancel) {
    writeRecord(validRecord());
    FakeGardivo gardivo;
    ASSERT_TRUE(gardivo.listening());
    const auto changes = [&] {
        const auto all = gardivo.received();
        return std::count_if(all.begin(), all.end(), [](const FakeGardivo::Received& r) {
            return r.message == WM_APP_SETTINGS_CHANGED;
        });
    };
    {
        SettingsForm form(environment);
        form.show();
        ASSERT_TRUE(waitUntil([&] { return form.isVisible(); }));
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&form, &escape);
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(waitUntil([&] { return changes() == 1; }));
    }
    {
        SettingsForm form(environment);
        form.show();
        ASSERT_TRUE(waitUntil([&] { return form.isVisible(); }));
        form.close();
        EXPECT_TRUE(waitUntil([&] { return changes() == 2; }));
    }
    // Nothing was saved either way.
    EXPECT_EQ(readRecord().Sensitivity, 42);
}

TEST_F(WizardTest, PathsAreKeptWholeFromTheHomeOrTheRootAndTextsCutBetweenLetters) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    // "~" is the home directory.
    form.workingDirectory()->setText("~/guarded");
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(form.pressOk());
    EXPECT_EQ(fieldText(readRecord().WorkingDirectory), home.file("guarded"));
    EXPECT_TRUE(fs::is_directory(home.file("guarded")));

    // A relative path is refused, and nothing is made where cfgwiz happens to run.
    SettingsForm relative(environment);
    relative.show();
    ASSERT_TRUE(waitUntil([&] { return relative.isVisible(); }));
    relative.workingDirectory()->setText("evidence-here");
    reporter.clear();
    EXPECT_FALSE(relative.pressOk());
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "The working directory must be a full path, such as " + home.path() +
                                       "/Gardivo. Please fill another directory...");
    EXPECT_FALSE(fs::exists("evidence-here"));

    // Paths of two-byte letters that fit the box but not the record are refused, not cut.
    const QString longName = QString(200, QChar(0x00E9)); // é, two bytes each
    relative.workingDirectory()->setText(QString::fromStdString(home.path() + "/") + longName);
    reporter.clear();
    EXPECT_FALSE(relative.pressOk());
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_NE(reporter.texts()[0].find("is too long to be kept (at most 259 bytes)"), std::string::npos);
    relative.workingDirectory()->setText(QString::fromStdString(home.file("evidence")));
    relative.runProgram()->click();
    relative.programFile()->setText("/opt/" + longName);
    reporter.clear();
    EXPECT_FALSE(relative.pressOk());
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_EQ(
        reporter.texts()[0],
        "The program file name is too long to be kept (at most 259 bytes), please fill a shorter one...");
    EXPECT_EQ(relative.focusWidget(), relative.programFile());

    // A text field is cut between letters: 49 two-byte letters keep 24 of them.
    relative.programFile()->setText("/usr/bin/true");
    relative.emailAddress()->setText(QString(49, QChar(0x00E9)));
    reporter.clear();
    reporter.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(relative.pressOk());
    const std::string stored = fieldText(readRecord().EmailAddress);
    EXPECT_EQ(QString::fromUtf8(stored.data(), static_cast<qsizetype>(stored.size())),
              QString(24, QChar(0x00E9)));
}

TEST_F(WizardTest, TheAutostartEntrySaysWhichPartFailed) {
    writeRecord(validRecord());
    // The autostart folder's name is taken by a file: it cannot be made.
    writeText(config.file("autostart"), "x");
    {
        SettingsForm form(environment);
        form.autoRun()->setChecked(true);
        reporter.clear();
        reporter.queueAnswer(MessageAnswer::Ok);
        reporter.queueAnswer(MessageAnswer::No);
        ASSERT_TRUE(form.pressOk());
        EXPECT_EQ(reporter.texts()[0], "Writing registry occured error! can't set always run at starting...");
    }
    // The folder is there, but the entry's name is taken by a folder that cannot be replaced.
    fs::remove(config.file("autostart"));
    fs::create_directories(config.file("autostart/gardivo.desktop/kept"));
    for (const bool on : {true, false}) {
        SettingsForm form(environment);
        form.autoRun()->setChecked(on);
        reporter.clear();
        reporter.queueAnswer(MessageAnswer::Ok);
        reporter.queueAnswer(MessageAnswer::No);
        ASSERT_TRUE(form.pressOk());
        EXPECT_EQ(reporter.texts()[0], "Writing registry occured error!") << on;
    }
}

TEST(Country, TheLocaleOrTheTimeZoneChoosesTheCountryByItsTableName) {
    // The locale's plain name finds the table's fuller one.
    const IntlProfile hongKong = intlProfileForLocale("zh_HK.UTF-8");
    EXPECT_EQ(hongKong.iCountry, "852");
    EXPECT_EQ(CountryTable::at(CountryTable::indexOf(hongKong.sCountry)).name,
              std::string("Hong Kong S.A.R."));
    // "Korea" is a row of its own, not the first row that starts with it.
    EXPECT_EQ(CountryTable::at(CountryTable::indexOf("Korea")).name, std::string("Korea"));
    EXPECT_EQ(CountryTable::indexOf("Nowhere"), 0);
    // A locale without a territory: the time zone tells the country.
    TempDir tables;
    writeText(tables.file("zone.tab"), "# comment\nJP\t+353916+1394441\tAsia/Tokyo\n"
                                       "US\t+404251-0740023\tAmerica/New_York\tEastern (most areas)\n");
    EXPECT_EQ(intlProfileForTimeZone("America/New_York", tables.file("zone.tab")).sCountry, "United States");
    EXPECT_EQ(intlProfileForTimeZone("Asia/Tokyo", tables.file("zone.tab")).iCountry, "81");
    EXPECT_EQ(intlProfileForTimeZone("Etc/UTC", tables.file("zone.tab")).iCountry, "0");
    EXPECT_EQ(intlProfileForTimeZone("Asia/Tok", tables.file("zone.tab")).iCountry, "0");
}

} // namespace

namespace {

TEST_F(WizardTest, EachWindowStyleButtonStandsForItsOwnValue) {
    const std::map<int, QString> captions = {
        {0, "Normal"}, {1, "Always on top"}, {2, "Minimized as a tray icon"}};
    for (const auto& [stored, caption] : captions) {
        WatchdogSettings record = validRecord();
        record.WindowStyle = stored;
        writeRecord(record);
        SettingsForm form(environment);
        // The button that is checked is the one whose caption names the stored style.
        for (QRadioButton* button : form.findChildren<QRadioButton*>())
            if (button->objectName().startsWith("windowStyle"))
                EXPECT_EQ(button->isChecked(), button->text() == caption)
                    << stored << " " << button->text().toStdString();
        // Choosing each caption saves its value.
        for (const auto& [value, other] : captions) {
            for (QRadioButton* button : form.findChildren<QRadioButton*>())
                if (button->text() == other)
                    button->click();
            reporter.queueAnswer(MessageAnswer::No);
            ASSERT_TRUE(form.pressOk());
            EXPECT_EQ(readRecord().WindowStyle, value) << other.toStdString();
        }
    }
}

TEST_F(WizardTest, ASpinBoxLeftWithoutANumberTakesItsMinimum) {
    writeRecord(validRecord());
    SettingsForm form(environment);
    form.show();
    ASSERT_TRUE(waitUntil([&] { return form.isVisible(); }));
    form.tabs()->setCurrentIndex(1);
    QSpinBox* spin = form.releaseTime();
    ASSERT_NE(spin->value(), spin->minimum());
    spin->setFocus();
    spin->findChild<QLineEdit*>()->clear();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(spin, &enter);
    EXPECT_EQ(spin->value(), spin->minimum());
    EXPECT_EQ(spin->text(), QString::number(spin->minimum()));
}

TEST_F(WizardTest, TheDeviceTabFollowsTheDeviceItsSlidersAndItsLists) {
    listDevices({{"Brightness", {0, 128, 0, 255, 1}}});
    WatchdogSettings record = validRecord();
    record.CaptureDevice = 1;
    record.Brightness = 100;
    writeRecord(record);
    SettingsForm form(environment);
    // The stored device is chosen, and chosen again when gardivo says the list changed.
    EXPECT_EQ(form.captureDevice()->currentIndex(), 1);
    form.refreshDevices();
    EXPECT_EQ(form.captureDevice()->currentIndex(), 1);
    EXPECT_EQ(form.captureDevice()->currentText(), "USB Camera");
    // The value beside a slider follows it.
    EXPECT_EQ(form.colourValue(0)->text(), "100");
    form.colour(0)->setValue(170);
    EXPECT_EQ(form.colourValue(0)->text(), "170");
    // Another device has other ranges (gardivo writes them as it switches): the sliders take them.
    writeRanges({{"Brightness", {0, 10, -20, 40, 2}}});
    form.captureDevice()->setCurrentIndex(0);
    EXPECT_EQ(form.colour(0)->minimum(), -20);
    EXPECT_EQ(form.colour(0)->maximum(), 40);
    EXPECT_EQ(form.colourMinimum(0)->text(), "-20");
    EXPECT_EQ(form.colourMaximum(0)->text(), "40");
}

TEST_F(WizardTest, ARefusedDriveGoesBackToTheHomeDriveAndAuthenticationOffForgetsThePassword) {
    TempDir memory;
    TempDir other;
    mounts = {{"/", "ext4", "/dev/sda1", false, false},
              {other.path(), "ext4", "/dev/sda2", false, false},
              {memory.path(), "tmpfs", "tmpfs", false, false}};
    DirectoryChooser chooser(reporter, [this] { return mounts; });
    const auto driveShown = [&] { return chooser.drives()->currentData().toString().toStdString(); };
    for (int i = 0; i < chooser.drives()->count(); ++i)
        if (chooser.drives()->itemData(i).toString().toStdString() == other.path())
            chooser.drives()->setCurrentIndex(i);
    ASSERT_EQ(driveShown(), other.path());
    EXPECT_EQ(chooser.checkPath(memory.file("evidence"), false), "");
    // The home folder is on "/" here (the test's HOME is not under the other drive).
    ASSERT_EQ(homeDirectory().rfind(other.path(), 0), std::string::npos);
    EXPECT_EQ(driveShown(), "/");

    // A password kept for a login is forgotten once there is no login.
    {
        SmtpDialog dialog(registry, reporter);
        dialog.server()->setText("smtp.example.com");
        dialog.authentication()->click();
        dialog.user()->setText("guard");
        dialog.password()->setText("abcde");
        ASSERT_TRUE(dialog.pressOk());
    }
    ASSERT_FALSE(registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Password")->data.empty());
    {
        SmtpDialog dialog(registry, reporter);
        ASSERT_TRUE(dialog.authentication()->isChecked());
        dialog.authentication()->click();
        ASSERT_TRUE(dialog.pressOk());
    }
    EXPECT_TRUE(registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "Password")->data.empty());
    EXPECT_EQ(registry.queryValue(RegistryRoot::LocalMachine, SmtpDialog::kKey, "User ID")->text(), "");
}

} // namespace

namespace {

TEST_F(WizardTest, WithEverythingWrongAtOnceTheChecksSpeakInTheirOrder) {
    writeRecord(validRecord());
    writeText(program.file("Warning.wav"), "RIFF");
    writeText(home.file("file"), "x");
    SettingsForm form(environment);
    form.workingDirectory()->setText(QString::fromStdString(home.file("file/evidence")));
    form.sendEmail()->click();
    form.emailAddress()->setText("nobody");
    form.emailCc()->setText("nobody");
    form.phoneCall()->click();
    form.phoneNumber()->clear();
    form.runProgram()->click();
    form.programFile()->clear();
    std::vector<std::string> said;
    const auto next = [&] {
        reporter.clear();
        EXPECT_FALSE(form.pressOk());
        said.push_back(reporter.texts().empty() ? "" : reporter.texts()[0]);
    };
    next();
    form.workingDirectory()->setText(QString::fromStdString(home.file("evidence")));
    next();
    form.emailAddress()->setText("guard@example.com");
    next();
    form.emailCc()->clear();
    next();
    form.phoneNumber()->setText("5551234");
    next();
    EXPECT_EQ(said, (std::vector<std::string>{
                        "Cannot create working directory " + home.file("file/evidence") +
                            ". Please fill another directory...",
                        "EMail address format is not valid, please fill a valid e-mail address...",
                        "CC EMail address format is not valid, please fill a valid e-mail address...",
                        "Please fill in the phone number...",
                        "Program file name can't be blank, please fill a program file name..."}));
}

} // namespace

namespace {

TEST_F(WizardTest, WindowTitlesAreTheCaptionsAloneAndTheRecorderIsOne) {
    // A display name of the application's own would be added to every title by the desktop.
    nameWizardApplication(*QCoreApplication::instance());
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    EXPECT_EQ(QCoreApplication::applicationName(), "cfgwiz");

    // "Recording" tries the desktop's sound recorders in turn (nothing else: no CD ripper).
    writeRecord(validRecord());
    SettingsForm form(environment);
    startSucceeds = false;
    form.phoneCall()->click();
    form.findChild<QPushButton*>("soundRecorder")->click();
    EXPECT_EQ(started, (std::vector<std::string>{"gnome-sound-recorder", "audacity", "kwave", "tenacity",
                                                 "ocenaudio"}));
    EXPECT_EQ(reporter.texts(), std::vector<std::string>{"Can't execute voice recording program..."});
}

} // namespace
