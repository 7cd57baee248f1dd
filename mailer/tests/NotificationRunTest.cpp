#include "mailer/NotificationRun.h"
#include "ScriptedSmtpServer.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <signal.h>
#include <sys/wait.h>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

class NotificationTest : public ::testing::Test {
protected:
    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;

    // Writes the record email will read, as cfgwiz would have saved it.
    void writeSettings(const std::string& to, const std::string& cc, const std::string& body) {
        auto s = defaultSettings(ProgramKind::Wizard, "/home/g");
        setFieldText(s.EmailAddress, to);
        setFieldText(s.EmailCc, cc);
        setFieldText(s.EmailBody, body);
        const auto bytes = s.toBytes();
        writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    std::unique_ptr<SettingsStore> store() {
        return std::make_unique<SettingsStore>(ProgramKind::Email, m_registry, m_reporter, m_program.dir(),
                                               "/home/g");
    }
};

TEST_F(NotificationTest, FillsTheFormFromSettingsAndEvidence) {
    writeSettings("guard@mail.example.org", "boss@example.org", "Someone is in the shop.");
    ASSERT_TRUE(m_registry.update(RegistryRoot::CurrentUser, [](RegistryHive& h) {
        h.setValue(SettingsStore::kKeyPath, "AttachedImageFileName",
                   RegistryValue::multiString("/ev/error001.bmp", 260));
        h.setValue(SettingsStore::kKeyPath, "AttachedVideoFileName",
                   RegistryValue::multiString("/ev/error001.avi", 260));
    }));
    auto s = store();
    NotificationRun run(*s, m_reporter, {"/x", "7"});
    EXPECT_TRUE(run.autoMode());
    EXPECT_EQ(run.runArgument(), 7);
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 9;
    t.tm_isdst = -1;
    ASSERT_TRUE(run.start(std::mktime(&t)));
    const MailFields f = run.initialFields();
    EXPECT_EQ(f.server, "mail.example.org");
    EXPECT_EQ(f.to, "guard@mail.example.org");
    EXPECT_EQ(f.cc, "boss@example.org");
    EXPECT_EQ(f.subject, "Tavrin Gardivo Warning....");
    EXPECT_EQ(f.body, "Someone is in the shop.  Date:2026/1/5   Time:3:4:9");
    EXPECT_EQ(f.from, NotificationRun::localAddress());
    EXPECT_EQ(run.imageAttachment(), "/ev/error001.bmp");
    EXPECT_EQ(run.videoAttachment(), "/ev/error001.avi");
    EXPECT_TRUE(m_reporter.messages().empty());

    // A mail that waited for an earlier one is handed its own alarm's evidence; the registry
    // holds a later alarm's by then. A mail by hand takes the registry's.
    ::setenv(SettingsStore::kAttachedImageVariable, "/ev/error007.bmp", 1);
    ::setenv(SettingsStore::kAttachedVideoVariable, "/ev/error007.avi", 1);
    NotificationRun waited(*s, m_reporter, {"/x", "7"});
    NotificationRun byHand(*s, m_reporter, {});
    const bool started = waited.start() && byHand.start();
    ::unsetenv(SettingsStore::kAttachedImageVariable);
    ::unsetenv(SettingsStore::kAttachedVideoVariable);
    ASSERT_TRUE(started);
    EXPECT_EQ(waited.imageAttachment(), "/ev/error007.bmp");
    EXPECT_EQ(waited.videoAttachment(), "/ev/error007.avi");
    EXPECT_EQ(byHand.imageAttachment(), "/ev/error001.bmp");

    EXPECT_EQ(NotificationRun::serverFromAddress("nohost"), "nohost");
    EXPECT_EQ(NotificationRun::serverFromAddress("a@b@c"), "b@c");
}

TEST_F(NotificationTest, TheMailTakesThePictureAndTheClipAsTheEvidenceSettingsSay) {
    writeSettings("guard@example.org", "", "x");
    const std::string bmp = m_program.file("error001.bmp"), avi = m_program.file("error001.avi");
    writeText(bmp, "BM picture");
    writeText(avi, "RIFF clip");
    ASSERT_TRUE(m_registry.update(RegistryRoot::CurrentUser, [&](RegistryHive& h) {
        h.setValue(SettingsStore::kKeyPath, "AttachedImageFileName", RegistryValue::multiString(bmp, 260));
        h.setValue(SettingsStore::kKeyPath, "AttachedVideoFileName", RegistryValue::multiString(avi, 260));
    }));
    EvidenceOptions options;
    options.mailPictureFormat = EvidenceOptions::Jpeg;
    ASSERT_TRUE(options.write(m_registry, RegistryRoot::CurrentUser));
    auto s = store();
    s->settings().RecordTimeLimit = 1;
    NotificationRun run(*s, m_reporter, {"/x", "1"});
    ASSERT_TRUE(run.start());
    run.setCopyPoll(20ms);
    run.setCopyTime(1500ms);
    std::vector<std::string> written;
    const auto writer = [&](const std::string& from, const std::string& to, int format) {
        written.push_back(from + " -> " + to + " as " + std::to_string(format));
        writeText(to, "picture");
        return true;
    };
    // The copy is made while the mail waits for it.
    std::thread copier([&] {
        std::this_thread::sleep_for(300ms);
        writeText(m_program.file("error001.mp4"), "copy");
    });
    const auto mailed = run.evidenceForMail({bmp, avi, m_program.file("notes.txt")}, writer);
    copier.join();
    EXPECT_EQ(mailed,
              (std::vector<std::string>{m_program.file("error001.jpg"), m_program.file("error001.mp4"),
                                        m_program.file("notes.txt")}));
    EXPECT_EQ(written, std::vector<std::string>{bmp + " -> " + m_program.file("error001.jpg") + " as 2"});

    // A copy that never comes: the clip goes as it is once the wait is over, and the log says so.
    std::filesystem::remove(m_program.file("error001.mp4"));
    run.setCopyIdle(60s);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run.evidenceForMail({avi}, writer), std::vector<std::string>{avi});
    EXPECT_GE(std::chrono::steady_clock::now() - began, 2s);
    // A clip nobody has written to for a while gets no copy any more: no wait at all.
    run.setCopyIdle(1s);
    std::filesystem::last_write_time(avi,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    const auto idleBegan = std::chrono::steady_clock::now();
    EXPECT_EQ(run.evidenceForMail({avi}, writer), std::vector<std::string>{avi});
    EXPECT_LT(std::chrono::steady_clock::now() - idleBegan, 1s);
    run.closeLog();
    EXPECT_NE(readText(run.logPath())
                  .find("EMail Log: The playable copy of " + avi + " did not come; the clip goes as it is ("),
              std::string::npos);

    // With copies off, or a run by hand, nothing is waited for or changed.
    options.playableCopies = false;
    options.mailPictureFormat = EvidenceOptions::Bitmap;
    ASSERT_TRUE(options.write(m_registry, RegistryRoot::CurrentUser));
    auto plain = store();
    NotificationRun quick(*plain, m_reporter, {"/x", "2"});
    NotificationRun byHand(*s, m_reporter, {});
    ASSERT_TRUE(quick.start() && byHand.start());
    EXPECT_EQ(quick.evidenceForMail({bmp, avi}, writer), (std::vector<std::string>{bmp, avi}));
    EXPECT_EQ(byHand.evidenceForMail({bmp, avi}, writer), (std::vector<std::string>{bmp, avi}));
}

TEST_F(NotificationTest, ArgumentsChooseTheMode) {
    auto s = store();
    EXPECT_FALSE(NotificationRun(*s, m_reporter, {}).autoMode());
    EXPECT_FALSE(NotificationRun(*s, m_reporter, {"-geometry", "/x"}).autoMode());
    EXPECT_TRUE(NotificationRun(*s, m_reporter, {"-v", "1"}).autoMode());
    EXPECT_TRUE(NotificationRun(*s, m_reporter, {"abc"}).autoMode());
    EXPECT_EQ(NotificationRun(*s, m_reporter, {"abc"}).runArgument(), 0);
}

TEST_F(NotificationTest, FieldChecksComeInOrder) {
    auto s = store();
    NotificationRun run(*s, m_reporter, {});
    ASSERT_TRUE(run.start());
    MailFields f;
    EXPECT_FALSE(run.checkFields(f));
    f.to = "a@b";
    EXPECT_FALSE(run.checkFields(f));
    f.subject = "s";
    EXPECT_FALSE(run.checkFields(f));
    f.body = "b";
    EXPECT_FALSE(run.checkFields(f));
    f.server = "b";
    EXPECT_TRUE(run.checkFields(f));
    EXPECT_EQ(m_reporter.texts(), (std::vector<std::string>{
                                      "Please fill -to- field", "Please fill -subject- field",
                                      "Please write something for sending..", "Please fill server field.."}));
    EXPECT_EQ(m_reporter.messages()[0].caption, "Tavrin Gardivo - EMail Notification");
}

TEST_F(NotificationTest, AnInstalledCopyKeepsItsLogInTheUsersStateFolder) {
    // An installed copy's program directory is the users' to read only: the log goes to the
    // user's own state folder, made on the first run.
    writeText(m_program.file("installed"), "");
    TempDir home;
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string saved = state ? state : "";
    ::unsetenv("XDG_STATE_HOME");
    SettingsStore installed(ProgramKind::Email, m_registry, m_reporter, m_program.dir(), home.path());
    NotificationRun run(installed, m_reporter, {});
    const bool started = run.start();
    if (state)
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    ASSERT_TRUE(started);
    run.closeLog();
    EXPECT_TRUE(std::filesystem::exists(home.file(".local/state/gardivo/Email.Log")));
    EXPECT_FALSE(std::filesystem::exists(m_program.file("Email.Log")));
}

TEST_F(NotificationTest, EverySendAppendsOneLogLine) {
    auto s = store();
    ScriptedSmtpServer server;
    ASSERT_TRUE(server.listen());
    {
        NotificationRun run(*s, m_reporter, {"1"});
        run.setSmtpPort(server.port());
        run.setSmtpTimeouts(2000ms, 2000ms);
        run.setRetryDelays({});
        ASSERT_TRUE(run.start());
        MailFields f{"127.0.0.1", "10.0.0.5", "guard@127.0.0.1", "", "", "Alert", "Body", {}, {}};
        std::string error;
        EXPECT_TRUE(run.send(f, error)) << error;
        f.server = "127.0.0.1";
        run.setSmtpPort(1); // nobody there
        EXPECT_FALSE(run.send(f, error));
        EXPECT_EQ(error, "Mail Server must be connected....");
    }
    {
        NotificationRun again(*s, m_reporter, {"1"});
        again.setSmtpPort(1);
        again.setRetryDelays({});
        ASSERT_TRUE(again.start());
        std::string error;
        EXPECT_FALSE(again.send({"127.0.0.1", "x", "a@b", "", "", "s", "b", {}, {}}, error));
    }
    const std::string log = readText(m_program.file("Email.Log"));
    const std::regex ok(R"(EMail Log: Warning EMail sending OK\. \(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\)\n)");
    const std::regex failed(
        R"(EMail Log: EMail Address or Server or network error, EMail sending failed\.\.\. )"
        R"(\(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\)\n)");
    // The outcome lines, one a send; a failure says why in a line of its own before its outcome.
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(log);
    int reasons = 0;
    while (std::getline(in, line)) {
        if (line.rfind("EMail Log: no connection to 127.0.0.1 port 1.", 0) == 0)
            ++reasons;
        else
            lines.push_back(line + "\n");
    }
    EXPECT_EQ(reasons, 2) << log;
    ASSERT_EQ(lines.size(), 3u) << log;
    EXPECT_TRUE(std::regex_match(lines[0], ok)) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], failed)) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], failed)) << lines[2];
}

TEST_F(NotificationTest, AnAttachmentThatCannotBeReadIsLoggedAndTheMailStillGoes) {
    auto s = store();
    ScriptedSmtpServer server;
    ASSERT_TRUE(server.listen());
    const std::string deep =
        m_program.file(std::string(200, 'd') + "/" + std::string(60, 'e') + "/error001.bmp");
    ASSERT_GT(deep.size(), 260u);
    std::filesystem::create_directories(std::filesystem::path(deep).parent_path());
    writeText(deep, "BM");
    const std::string missing = m_program.file("gone/error001.avi");
    NotificationRun run(*s, m_reporter, {"1"});
    run.setSmtpPort(server.port());
    run.setSmtpTimeouts(2000ms, 2000ms);
    ASSERT_TRUE(run.start());
    std::string error;
    MailFields f{"127.0.0.1", "10.0.0.5", "guard@127.0.0.1",   "", "",
                 "Alert",     "Body",     {deep, missing, ""}, {}};
    EXPECT_TRUE(run.send(f, error)) << error;
    run.closeLog();
    // The long path is attached (it names the file whole); the missing one is said in the log.
    EXPECT_NE(server.data().find("filename=error001.bmp"), std::string::npos);
    const std::string log = readText(m_program.file("Email.Log"));
    EXPECT_EQ(
        log.rfind("EMail Log: Attached file cannot be read: " + missing + ": No such file or directory (", 0),
        0u)
        << log;
    EXPECT_NE(log.find("\nEMail Log: Warning EMail sending OK."), std::string::npos) << log;
}

TEST_F(NotificationTest, UnusableRegistryAndLogAreSaid) {
    TempDir other;
    writeText(other.file("blocker"), "");
    RegistryStore broken(other.file("blocker") + "/Tavrin");
    SettingsStore s(ProgramKind::Email, broken, m_reporter, m_program.dir(), "/home/g");
    std::filesystem::create_directory(m_program.file("Email.Log")); // cannot be opened as a file
    NotificationRun run(s, m_reporter, {"1"});
    EXPECT_FALSE(run.start());
    EXPECT_EQ(run.imageAttachment(), "");
    const auto messages = m_reporter.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Opening registry key failed...");
    EXPECT_EQ(messages[0].caption, "Tavrin Gardivo");
    EXPECT_TRUE(messages[0].topmost);
    EXPECT_EQ(messages[1].text, "Error write log file....");
    EXPECT_EQ(messages[1].caption, "Tavrin Gardivo - EMail Notification");
}

// The email program as gardivo starts it, against a server on port 25 (which needs root).
TEST_F(NotificationTest, AutomaticModeSendsTheEvidenceAndQuits) {
    ScriptedSmtpServer server;
    if (::geteuid() != 0 || !server.listen(25))
        GTEST_SKIP() << "port 25 needs root";
    std::filesystem::copy_file(GARDIVO_PROGRAM_DIR "/email", m_program.file("email"));
    std::filesystem::permissions(m_program.file("email"), std::filesystem::perms::owner_all);
    writeSettings("guard@127.0.0.1", "", "Motion at the back door.");
    TempDir evidence;
    writeText(evidence.file("error001.bmp"), "BMpicture");
    writeText(evidence.file("error001.avi"), "RIFFclip");
    // The clip as it is, not its playable copy (which no gardivo makes here).
    EvidenceOptions options;
    options.mailPlayableCopy = false;
    ASSERT_TRUE(options.write(m_registry, RegistryRoot::CurrentUser));
    ASSERT_TRUE(m_registry.update(RegistryRoot::CurrentUser, [&](RegistryHive& h) {
        h.setValue(SettingsStore::kKeyPath, "AttachedImageFileName",
                   RegistryValue::multiString(evidence.file("error001.bmp"), 260));
        h.setValue(SettingsStore::kKeyPath, "AttachedVideoFileName",
                   RegistryValue::multiString(evidence.file("error001.avi"), 260));
    }));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TAVRIN_REGISTRY_DIR", m_registryDir.path().c_str(), 1);
        const std::string program = m_program.file("email");
        ::execl(program.c_str(), program.c_str(), "1", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < 300 && ::waitpid(child, &status, WNOHANG) == 0; ++waited)
        std::this_thread::sleep_for(100ms);
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "email did not quit by itself";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const std::string data = server.data();
    EXPECT_NE(data.find("To: <guard@127.0.0.1>\r\n"), std::string::npos);
    EXPECT_NE(data.find("Motion at the back door.  Date:"), std::string::npos);
    // Both pieces of evidence, in the sorted order of their paths: the clip before the bitmap.
    const size_t avi = data.find("filename=error001.avi");
    const size_t bmp = data.find("filename=error001.bmp");
    ASSERT_NE(avi, std::string::npos);
    ASSERT_NE(bmp, std::string::npos);
    EXPECT_LT(avi, bmp);
    EXPECT_NE(data.find("UklGRmNsaXA="), std::string::npos); // "RIFFclip"
    EXPECT_EQ(readText(m_program.file("Email.Log")).rfind("EMail Log: Warning EMail sending OK.", 0), 0u);
}

} // namespace
