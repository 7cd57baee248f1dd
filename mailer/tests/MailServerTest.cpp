// Alert mail through the mail server the wizard names, and straight to the recipient's mail
// exchangers otherwise: TLS, logins, certificates, tries again after a temporary failure.

#include "ScriptedSmtpServer.h"
#include "TlsSmtpServer.h"
#include "mailer/MailRoute.h"
#include "mailer/NotificationRun.h"
#include "mailer/SmtpConnection.h"
#include "platform/Base64.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/CompiledLocale.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <ctime>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

std::string plainLogin(const std::string& user, const std::string& password) {
    return base64Encode(std::string(1, '\0') + user + '\0' + password);
}

class MailServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        // The client trusts the test's certificate as it would a provider's: through the trust
        // store, which SSL_CERT_FILE names.
        writeText(trust.file("ca.pem"), good.certificate);
        setenv("SSL_CERT_FILE", trust.file("ca.pem").c_str(), 1);
        store =
            std::make_unique<SettingsStore>(ProgramKind::Email, registry, reporter, program.dir(), "/home/g");
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    // A run whose mail goes through the server at localhost:port.
    std::unique_ptr<NotificationRun> runThrough(int port, const std::string& user = "guard@example.com",
                                                const std::string& password = "s3cret") {
        auto run = std::make_unique<NotificationRun>(*store, reporter, std::vector<std::string>{"1"});
        EXPECT_TRUE(run->start());
        MailServer server;
        server.host = "localhost";
        server.port = port;
        server.user = user;
        server.password = password;
        run->setMailServer(server);
        run->setSmtpTimeouts(3000ms, 3000ms);
        run->setWait([this](std::chrono::seconds wait) { waits.push_back(wait); });
        return run;
    }
    MailFields alert() const {
        return {"example.com", "10.0.0.5", "owner@example.com", "", "", "Alert", "Someone", {}, {}};
    }
    std::string log() { return readText(program.file("Email.Log")); }

    TestCertificate good = TestCertificate::forHost("localhost");
    TempDir trust;
    TempDir program;
    TempDir registryDir;
    RegistryStore registry{registryDir.path()};
    RecordingReporter reporter;
    std::unique_ptr<SettingsStore> store;
    std::vector<std::chrono::seconds> waits;
};

} // namespace

TEST_F(MailServerTest, StartTlsThenAuthPlainAndTheUserSends) {
    TlsSmtpServer server(good);
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    ASSERT_TRUE(run->send(alert(), error)) << error << "\n" << log();
    // Only the greeting and STARTTLS went in the clear; the login and the mail inside TLS.
    EXPECT_NE(server.clearText().find("STARTTLS\r\n"), std::string::npos);
    EXPECT_EQ(server.clearText().find("AUTH"), std::string::npos);
    EXPECT_EQ(server.clearText().find("MAIL"), std::string::npos);
    const std::string inside = server.encryptedText();
    // The session starts afresh inside TLS: the client greets the server again first.
    EXPECT_EQ(inside.rfind("EHLO ", 0), 0u) << inside;
    EXPECT_NE(inside.find("AUTH PLAIN " + plainLogin("guard@example.com", "s3cret") + "\r\n"),
              std::string::npos);
    EXPECT_NE(inside.find("MAIL From: <guard@example.com>\r\n"), std::string::npos);
    EXPECT_NE(inside.find("RCPT TO: <owner@example.com>\r\n"), std::string::npos);
    EXPECT_NE(log().find("Warning EMail sending OK."), std::string::npos);
    EXPECT_TRUE(waits.empty());
}

TEST_F(MailServerTest, AUserWithoutADomainSendsFromTheUserAtThisHostNotFromAnAddress) {
    TlsSmtpServer server(good);
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port(), "guard");
    std::string error;
    ASSERT_TRUE(run->send(alert(), error)) << error << "\n" << log();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_NE(server.encryptedText().find("MAIL From: <guard@" + std::string(host) + ">\r\n"),
              std::string::npos)
        << server.encryptedText();
    EXPECT_EQ(server.encryptedText().find("MAIL From: <10.0.0.5>"), std::string::npos);
}

TEST_F(MailServerTest, AuthLoginWhenThatIsAllTheServerOffers) {
    TlsSmtpServer server(good);
    server.authMechanisms = "LOGIN";
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    ASSERT_TRUE(run->send(alert(), error)) << error << "\n" << log();
    const std::string inside = server.encryptedText();
    EXPECT_NE(inside.find("AUTH LOGIN\r\n" + base64Encode("guard@example.com") + "\r\n" +
                          base64Encode("s3cret") + "\r\n"),
              std::string::npos);
}

TEST_F(MailServerTest, TlsFromTheFirstByteOnItsOwnPort) {
    TlsSmtpServer server(good);
    server.implicitTls = true;
    server.offerStartTls = false;
    ASSERT_TRUE(server.listen());
    SmtpSecurity security;
    security.extended = true;
    security.implicitTls = true;
    security.user = "guard";
    security.password = "pw";
    SmtpConnection connection("localhost", server.port(), security);
    connection.setTimeouts(3000ms, 3000ms);
    ASSERT_TRUE(connection.Connect()) << connection.GetLastError() << ": " << connection.reason();
    EXPECT_TRUE(connection.isEncrypted());
    MimeMessage message;
    message.From = "guard@example.com";
    message.Subject = "s";
    message.Body = ".starts with a dot\r\n";
    message.AddRecipients("owner@example.com", RecipientTo);
    EXPECT_TRUE(connection.SendMessage(message)) << connection.GetLastError();
    connection.Disconnect();
    EXPECT_TRUE(server.clearText().empty());
    EXPECT_NE(server.encryptedText().find("\r\n..starts with a dot\r\n"), std::string::npos);

    // The wizard's "host:port" and the port that means TLS at once.
    std::string host;
    int port = 0;
    ASSERT_TRUE(parseServerName(" smtp.example.com:465 ", host, port));
    EXPECT_EQ(host, "smtp.example.com");
    EXPECT_EQ(port, SmtpConnection::kImplicitTlsPort);
    ASSERT_TRUE(parseServerName("mail.example.com", host, port));
    EXPECT_EQ(port, 25);
    ASSERT_TRUE(parseServerName("[2001:db8::1]:587", host, port));
    EXPECT_EQ(host, "2001:db8::1");
    EXPECT_EQ(port, 587);
    for (const char* bad :
         {"host:0", "host:70000", "host:25x", "2001:db8::1", "a b", "user@host", "[::1", ""})
        EXPECT_FALSE(parseServerName(bad, host, port)) << bad;
}

TEST_F(MailServerTest, ARefusedLoginIsAFailureThatIsNotTriedAgain) {
    TlsSmtpServer server(good);
    server.acceptLogin = false;
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(error, "Authentication Error!");
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(server.connections(), 1);
    EXPECT_NE(log().find("the mail server refused the user name or password (535 5.7.8 bad credentials)"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("EMail sending failed..."), std::string::npos);
}

TEST_F(MailServerTest, ACertificateForAnotherHostIsRefusedBeforeAnyLogin) {
    TlsSmtpServer server(TestCertificate::forHost("mail.elsewhere.example"));
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(error, "TLS Error!");
    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(server.encryptedText().empty());
    EXPECT_EQ(server.clearText().find("AUTH"), std::string::npos);
    EXPECT_NE(log().find("the server's certificate was not accepted"), std::string::npos) << log();
}

TEST_F(MailServerTest, ATrustedCertificateForAnotherHostIsStillRefused) {
    // The certificate's chain is good (the trust store holds it): only its host name is wrong.
    const TestCertificate elsewhere = TestCertificate::forHost("mail.elsewhere.example");
    writeText(trust.file("ca.pem"), good.certificate + elsewhere.certificate);
    TlsSmtpServer server(elsewhere);
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(error, "TLS Error!");
    EXPECT_TRUE(server.encryptedText().empty());
    EXPECT_EQ(server.clearText().find("AUTH"), std::string::npos);
    // The same certificate for the host that is asked for is taken.
    TlsSmtpServer named(good);
    ASSERT_TRUE(named.listen());
    auto again = runThrough(named.port());
    EXPECT_TRUE(again->send(alert(), error)) << error;
}

TEST_F(MailServerTest, NoPasswordIsSentWithoutEncryption) {
    TlsSmtpServer server(good);
    server.offerStartTls = false;
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(server.clearText().find("AUTH"), std::string::npos);
    EXPECT_EQ(server.clearText().find(plainLogin("guard@example.com", "s3cret")), std::string::npos);
    EXPECT_EQ(server.clearText().find("s3cret"), std::string::npos);
    EXPECT_EQ(server.clearText().find("MAIL"), std::string::npos);
    EXPECT_NE(log().find("offers no encryption (STARTTLS), so the password was not sent"), std::string::npos)
        << log();
    // Without a user the mail goes, in the clear, as the server allows.
    auto open = runThrough(server.port(), "", "");
    EXPECT_TRUE(open->send(alert(), error)) << error;
}

TEST_F(MailServerTest, ATemporaryFailureIsTriedAgainAndAPermanentOneIsNot) {
    TlsSmtpServer server(good);
    server.temporaryFailures = 1;
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    std::string error;
    EXPECT_TRUE(run->send(alert(), error)) << error;
    EXPECT_EQ(waits, std::vector<std::chrono::seconds>{30s});
    EXPECT_EQ(server.connections(), 2);
    // One outcome line for the send, however often it was tried.
    const std::string text = log();
    EXPECT_EQ(text.find("EMail Log:"), text.rfind("EMail Log:")) << text;

    waits.clear();
    server.temporaryFailures = 5;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(waits, (std::vector<std::chrono::seconds>{30s, 120s}));

    waits.clear();
    server.temporaryFailures = 0;
    server.rcptReply = "550 5.1.1 no such user\r\n";
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(error, "550:SMTP server error...");
    EXPECT_TRUE(waits.empty());
    EXPECT_NE(log().find("the mail server refused the recipient owner@example.com (550 5.1.1 no such user)"),
              std::string::npos)
        << log();
}

TEST_F(MailServerTest, WithoutAServerTheMailGoesToTheDomainsMailExchangersInOrder) {
    EXPECT_EQ(deliveryHosts("192.0.2.7", nullptr), std::vector<std::string>{"192.0.2.7"});
    EXPECT_EQ(deliveryHosts("example.com", [](const std::string&) { return std::vector<std::string>{}; }),
              std::vector<std::string>{"example.com"});
    EXPECT_EQ(deliveryHosts("example.com",
                            [](const std::string&) {
                                return std::vector<std::string>{"mx1.example.com", "mx2.example.com"};
                            }),
              (std::vector<std::string>{"mx1.example.com", "mx2.example.com", "example.com"}));

    ScriptedSmtpServer server;
    ASSERT_TRUE(server.listen());
    auto run = std::make_unique<NotificationRun>(*store, reporter, std::vector<std::string>{"1"});
    ASSERT_TRUE(run->start());
    run->setSmtpPort(server.port());
    run->setSmtpTimeouts(3000ms, 3000ms);
    run->setRetryDelays({});
    std::vector<std::string> asked;
    // The first exchanger cannot be reached; the second takes the mail.
    run->setMxLookup([&](const std::string& domain) {
        asked.push_back(domain);
        return std::vector<std::string>{"unreachable.invalid", "127.0.0.1"};
    });
    std::string error;
    ASSERT_TRUE(run->send(alert(), error)) << error;
    EXPECT_EQ(asked, std::vector<std::string>{"example.com"});
    // The old plain dialogue, as before.
    EXPECT_EQ(server.received().rfind("HELO ", 0), 0u);
}

TEST_F(MailServerTest, APasswordAskedForEachMailCannotBeGivenToAnAutomaticRun) {
    registry.update(RegistryRoot::LocalMachine, [](RegistryHive& hive) {
        hive.setValue(MailServer::kKey, "SMTP Server Name", RegistryValue::string("mail.example.com:587"));
        hive.setValue(MailServer::kKey, "User ID", RegistryValue::string("guard"));
        const std::string encoded = base64Encode("pw");
        hive.setValue(MailServer::kKey, "Password", RegistryValue::binary({encoded.begin(), encoded.end()}));
        hive.setValue(MailServer::kKey, "Prompt for Password", RegistryValue::dword(1));
    });
    const MailServer read = MailServer::fromRegistry(registry);
    EXPECT_EQ(read.host, "mail.example.com");
    EXPECT_EQ(read.port, 587);
    EXPECT_EQ(read.password, "pw");
    EXPECT_TRUE(read.promptForPassword);

    TlsSmtpServer server(good);
    ASSERT_TRUE(server.listen());
    auto run = runThrough(server.port());
    MailServer asking = run->mailServer();
    asking.promptForPassword = true;
    run->setMailServer(asking);
    EXPECT_TRUE(run->needsPassword());
    std::string error;
    EXPECT_FALSE(run->send(alert(), error));
    EXPECT_EQ(server.connections(), 0);
    EXPECT_NE(log().find("an automatic run cannot ask"), std::string::npos) << log();
    // The form asks, and the answer is used.
    MailFields given = alert();
    given.password = "typed";
    EXPECT_TRUE(run->send(given, error)) << error;
    EXPECT_NE(server.encryptedText().find(plainLogin("guard@example.com", "typed")), std::string::npos);
}

TEST(MailDate, DayAndMonthNamesAreEnglishWhateverTheLocale) {
    const char* previous = std::setlocale(LC_TIME, nullptr);
    const std::string saved = previous ? previous : "C";
    TempDir locales;
    if (!useCompiledLocale(LC_TIME, "de_DE.UTF-8", locales.path()))
        GTEST_SKIP() << "no German locale and localedef cannot make one (Debian package locales)";
    char monday[32] = {};
    std::tm tm{};
    tm.tm_wday = 1;
    std::strftime(monday, sizeof monday, "%a", &tm);
    EXPECT_STREQ(monday, "Mo"); // the locale really is German
    MimeMessage m;
    m.From = "a@b";
    m.AddRecipients("c@d", RecipientTo);
    m.setFixedTime(86400 * 4 + 12 * 3600); // a Monday in January 1970
    m.FormatMessage();
    std::setlocale(LC_TIME, saved.c_str());
    EXPECT_NE(m.header().find("Date: Mon, 05 Jan 70 "), std::string::npos) << m.header();
}
