#include "mailer/SmtpConnection.h"
#include "ScriptedSmtpServer.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

MimeMessage alert(const std::string& to = "guard@example.org") {
    MimeMessage m;
    m.From = "10.0.0.5";
    m.Subject = "Alert";
    m.Body = "first\r\n.\r\nlast";
    m.AddRecipients(to, RecipientTo);
    return m;
}

class SmtpTest : public ::testing::Test {
protected:
    ScriptedSmtpServer m_server;
    std::unique_ptr<SmtpConnection> connect() {
        if (!m_server.listen())
            ADD_FAILURE() << "no loopback port";
        auto c = std::make_unique<SmtpConnection>("127.0.0.1", m_server.port());
        c->setTimeouts(2000ms, 2000ms);
        return c;
    }
};

TEST_F(SmtpTest, SendsTheWholeDialogue) {
    auto c = connect();
    ASSERT_TRUE(c->Connect()) << c->GetLastError();
    EXPECT_TRUE(c->Connect()); // already connected
    auto m = alert();
    m.AddRecipients("boss@example.org", RecipientCc);
    m.AddRecipients("audit@example.org", RecipientBcc);
    ASSERT_TRUE(c->SendMessage(m)) << c->GetLastError();
    EXPECT_TRUE(c->Disconnect());
    EXPECT_EQ(c->GetLastError(), "OK");

    const std::string got = m_server.received();
    char host[81] = {};
    ::gethostname(host, 80);
    const std::string opening = std::string("HELO ") + host +
                                "\r\n"
                                "MAIL From: <10.0.0.5>\r\n"
                                "RCPT TO: <guard@example.org>\r\n"
                                "RCPT TO: <boss@example.org>\r\n"
                                "RCPT TO: <audit@example.org>\r\n"
                                "DATA\r\n";
    EXPECT_EQ(got.substr(0, opening.size()), opening);
    EXPECT_EQ(got.substr(got.size() - 11), "\r\n.\r\nQUIT\r\n");
    // Header first, then the body with the lone dot doubled.
    const std::string data = m_server.data();
    EXPECT_EQ(data.rfind("From: 10.0.0.5\r\nTo: <guard@example.org>\r\nCc: <boss@example.org>\r\n", 0), 0u);
    EXPECT_EQ(data.find("audit@"), std::string::npos); // Bcc is in no header
    EXPECT_NE(data.find("first\r\n..\r\nlast\r\n"), std::string::npos);
}

TEST_F(SmtpTest, RepliesSplitAcrossPacketsAndMultiLineRepliesAreReadWhole) {
    m_server.splitReplies = true;
    m_server.greeting = "220-welcome\r\n220-to the\r\n220 test\r\n";
    m_server.replies["HELO"] = "250-hello\r\n250-SIZE 1000\r\n250 HELP\r\n";
    auto c = connect();
    ASSERT_TRUE(c->Connect()) << c->GetLastError();
    auto m = alert();
    ASSERT_TRUE(c->SendMessage(m)) << c->GetLastError();
    EXPECT_TRUE(c->Disconnect());
}

TEST_F(SmtpTest, AGreetingOtherThan220MeansTheServerDidNotRespond) {
    m_server.greeting = "554 go away\r\n";
    auto c = connect();
    EXPECT_FALSE(c->Connect());
    EXPECT_EQ(c->GetLastError(), "Server didn't respond...");
    auto m = alert();
    EXPECT_FALSE(c->SendMessage(m));
    EXPECT_EQ(c->GetLastError(), "Mail Server must be connected....");
}

TEST_F(SmtpTest, ARefusedSenderEndsTheSendWithTheServersCode) {
    m_server.replies["MAIL"] = "550 no such sender\r\n";
    auto c = connect();
    ASSERT_TRUE(c->Connect());
    auto m = alert();
    EXPECT_FALSE(c->SendMessage(m));
    EXPECT_EQ(c->GetLastError(), "550:SMTP server error...");
    EXPECT_EQ(m_server.received().find("RCPT"), std::string::npos);
}

TEST_F(SmtpTest, RefusedRecipientsDoNotStopTheSend) {
    m_server.replies["RCPT"] = "550 unknown user\r\n";
    auto c = connect();
    ASSERT_TRUE(c->Connect());
    auto m = alert("a@x.org;");
    EXPECT_TRUE(c->SendMessage(m)) << c->GetLastError();
    // The trailing ';' adds an empty recipient, sent as such.
    EXPECT_NE(m_server.received().find("RCPT TO: <a@x.org>\r\nRCPT TO: <>\r\nDATA\r\n"), std::string::npos);
}

TEST_F(SmtpTest, DataRefusedAndQuitRefusedCarryTheirTexts) {
    m_server.replies["DATA"] = "451 later\r\n";
    m_server.replies["QUIT"] = "500 eh\r\n";
    auto c = connect();
    ASSERT_TRUE(c->Connect());
    auto m = alert();
    EXPECT_FALSE(c->SendMessage(m));
    EXPECT_EQ(c->GetLastError(), "451:SMTP server not ready for data...");
    EXPECT_FALSE(c->Disconnect());
    EXPECT_EQ(c->GetLastError(), "500:SMTP server didn't terminate session...");
    EXPECT_FALSE(c->isConnected());
}

TEST_F(SmtpTest, ASilentServerTimesOut) {
    m_server.greeting.clear();
    ASSERT_TRUE(m_server.listen());
    SmtpConnection c("127.0.0.1", m_server.port());
    c.setTimeouts(1000ms, 200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.Connect());
    EXPECT_EQ(c.GetLastError(), "Server didn't respond...");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(SmtpTest, AServerThatStopsReadingDuringTheDataTimesOut) {
    m_server.stopReadingAfter = "DATA\r\n";
    ASSERT_TRUE(m_server.listen());
    SmtpConnection c("127.0.0.1", m_server.port());
    c.setTimeouts(1000ms, 300ms);
    ASSERT_TRUE(c.Connect());
    // An attachment far larger than the socket buffers hold.
    TempDir dir;
    writeText(dir.file("clip.avi"), std::string(24 << 20, 'x'));
    auto m = alert();
    m.AddMimePart(dir.file("clip.avi"), OctetStreamPart, "", 4, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.SendMessage(m));
    EXPECT_EQ(c.GetLastError(), "Socket Error!");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

TEST_F(SmtpTest, AServerThatHangsUpMidwayGivesASocketError) {
    m_server.closeAfter = "MAIL";
    auto c = connect();
    ASSERT_TRUE(c->Connect());
    auto m = alert();
    EXPECT_FALSE(c->SendMessage(m));
    EXPECT_EQ(c->GetLastError(), "Socket Error!");
}

TEST(Smtp, NoServerNoRecipientsNoConnection) {
    SmtpConnection nowhere("127.0.0.1", 1); // nothing listens on port 1
    EXPECT_FALSE(nowhere.Connect());
    EXPECT_EQ(nowhere.GetLastError(), "Unable to connect to Mail server...");
    SmtpConnection unknown("no-such-host.invalid");
    EXPECT_FALSE(unknown.Connect());
    EXPECT_EQ(unknown.GetLastError(), "Unable to connect to Mail server...");

    ScriptedSmtpServer server;
    ASSERT_TRUE(server.listen());
    SmtpConnection c("127.0.0.1", server.port());
    ASSERT_TRUE(c.Connect());
    MimeMessage empty;
    EXPECT_FALSE(c.SendMessage(empty));
    EXPECT_EQ(c.GetLastError(), "No Recipients....");
}

} // namespace
