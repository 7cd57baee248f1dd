#include "mailer/EmailDialog.h"
#include "ScriptedSmtpServer.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/QtTestApplication.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

class EmailDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApplication(); }

    TempDir m_program;
    TempDir m_registryDir;
    RegistryStore m_registry{m_registryDir.path()};
    RecordingReporter m_reporter;
};

TEST_F(EmailDialogTest, TheAlarmBitmapIsMailedAsAPictureOfTheSameLook) {
    QImage picture(64, 96, QImage::Format_RGB888);
    picture.fill(QColor(200, 30, 40));
    const std::string bmp = m_program.file("error001.bmp");
    ASSERT_TRUE(picture.save(QString::fromStdString(bmp), "BMP"));
    for (const auto& [format, name, magic] :
         {std::tuple{int(EvidenceOptions::Png), "error001.png", "\x89PNG"},
          std::tuple{int(EvidenceOptions::Jpeg), "error001.jpg", "\xff\xd8\xff"}}) {
        const std::string target = m_program.file(name);
        ASSERT_TRUE(EmailDialog::writePicture(bmp, target, format));
        EXPECT_EQ(readText(target).rfind(magic, 0), 0u) << name;
        const QImage back(QString::fromStdString(target));
        ASSERT_EQ(back.size(), picture.size());
        const QColor centre = back.pixelColor(32, 48);
        EXPECT_NEAR(centre.red(), 200, 4);
        EXPECT_NEAR(centre.green(), 30, 4);
        EXPECT_FALSE(std::filesystem::exists(target + ".part"));
    }
    EXPECT_FALSE(EmailDialog::writePicture(m_program.file("missing.bmp"), m_program.file("x.jpg"), 2));
}

TEST_F(EmailDialogTest, TheFormShowsItsFieldsInOrderWithBccHidden) {
    SettingsStore store(ProgramKind::Email, m_registry, m_reporter, m_program.dir(), "/home/g");
    NotificationRun run(store, m_reporter, {});
    ASSERT_TRUE(run.start());
    EmailDialog dialog(run, m_reporter);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.windowTitle(), "Tavrin Gardivo  -  EMail Sender");
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->isVisible())
            labels << label->text();
    EXPECT_EQ(labels, (QStringList{"SMTP Server :", "From:", "To:", "CC:", "Subject:", "Body :"}));
    EXPECT_FALSE(dialog.bccEdit()->isVisible());
    EXPECT_EQ(dialog.subjectEdit()->text(), "Tavrin Gardivo Warning....");
    EXPECT_TRUE(dialog.sendButton()->isDefault());

    // Esc sends; with no recipient the first check says so and the form stays.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Please fill -to- field"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), "Sending EMail, Please wait...");
}

TEST_F(EmailDialogTest, ASuccessfulSendClearsTheFormAndAFailedOneKeepsIt) {
    ScriptedSmtpServer server;
    ASSERT_TRUE(server.listen());
    SettingsStore store(ProgramKind::Email, m_registry, m_reporter, m_program.dir(), "/home/g");
    NotificationRun run(store, m_reporter, {});
    run.setSmtpPort(server.port());
    run.setSmtpTimeouts(2000ms, 2000ms);
    std::vector<std::chrono::seconds> waited;
    run.setWait([&](std::chrono::seconds wait) { waited.push_back(wait); });
    ASSERT_TRUE(run.start());
    EmailDialog dialog(run, m_reporter);
    dialog.show();
    dialog.serverEdit()->setText("127.0.0.1");
    dialog.toEdit()->setText("guard@127.0.0.1");
    dialog.ccEdit()->setText("boss@127.0.0.1");
    dialog.bodyEdit()->setPlainText("line one\nline two");
    dialog.attachmentList()->addItems({"/b/second.bmp", "/a/first.avi"});
    EXPECT_EQ(dialog.attachmentList()->item(0)->text(), "/a/first.avi"); // the list is sorted

    QTest::mouseClick(dialog.sendButton(), Qt::LeftButton);
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Warning EMail is sent completely..."});
    EXPECT_NE(server.data().find("line one\r\nline two"), std::string::npos);
    EXPECT_TRUE(dialog.toEdit()->text().isEmpty());
    EXPECT_TRUE(dialog.ccEdit()->text().isEmpty());
    EXPECT_TRUE(dialog.subjectEdit()->text().isEmpty());
    EXPECT_TRUE(dialog.bodyEdit()->toPlainText().isEmpty());
    EXPECT_EQ(dialog.attachmentList()->count(), 0);
    EXPECT_EQ(dialog.serverEdit()->text(), "127.0.0.1");
    EXPECT_EQ(dialog.windowTitle(), "Tavrin Gardivo - EMail Notification");

    // Nobody listens now: the error is shown and the fields stay, the attachments go.
    run.setSmtpPort(1);
    m_reporter.clear();
    dialog.toEdit()->setText("guard@127.0.0.1");
    dialog.subjectEdit()->setText("Again");
    dialog.bodyEdit()->setPlainText("text");
    dialog.attachmentList()->addItem("/c/x.bmp");
    QTest::mouseClick(dialog.sendButton(), Qt::LeftButton);
    EXPECT_EQ(m_reporter.texts(), std::vector<std::string>{"Mail Server must be connected...."});
    // Tried again after 30 seconds and after 2 minutes before it gave up.
    EXPECT_EQ(waited,
              (std::vector<std::chrono::seconds>{std::chrono::seconds(30), std::chrono::seconds(120)}));
    EXPECT_EQ(dialog.toEdit()->text(), "guard@127.0.0.1");
    EXPECT_EQ(dialog.subjectEdit()->text(), "Again");
    EXPECT_EQ(dialog.attachmentList()->count(), 0);
    EXPECT_EQ(dialog.exitCode(), 0);
}

} // namespace

namespace {

TEST_F(EmailDialogTest, ClosingTheFormDuringASendWaitsForItAndSendsNothingAgain) {
    ScriptedSmtpServer server;
    server.replies["MAIL"] = "451 try again later\r\n"; // every attempt fails for a while
    ASSERT_TRUE(server.listen());
    SettingsStore store(ProgramKind::Email, m_registry, m_reporter, m_program.dir(), "/home/g");
    NotificationRun run(store, m_reporter, {});
    run.setSmtpPort(server.port());
    run.setSmtpTimeouts(2000ms, 2000ms);
    std::atomic<bool> closed{false};
    std::atomic<int> waits{0};
    // The waits between attempts last until the user has closed the form.
    run.setWait([&](std::chrono::seconds) {
        ++waits;
        for (int i = 0; i < 500 && !closed; ++i)
            std::this_thread::sleep_for(10ms);
    });
    ASSERT_TRUE(run.start());
    EmailDialog dialog(run, m_reporter);
    dialog.show();
    dialog.serverEdit()->setText("127.0.0.1");
    dialog.toEdit()->setText("guard@127.0.0.1");
    dialog.subjectEdit()->setText("Someone is here");
    QTimer::singleShot(50, [&] {
        dialog.close(); // the close box, while the first attempt waits to be tried again
        QTest::keyClick(&dialog, Qt::Key_Escape);
        closed = true;
    });
    QTest::mouseClick(dialog.sendButton(), Qt::LeftButton);
    ASSERT_TRUE(closed);
    // One send: its first attempt and the two tries again, and no second send beside it.
    EXPECT_NE(server.received().find("MAIL From"), std::string::npos);
    EXPECT_EQ(waits, 2);
    // Once it has ended, the form closes as it was asked to.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 3000));
}

} // namespace
