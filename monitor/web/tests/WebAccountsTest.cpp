// The web view's accounts, login slowdown and sessions.

#include "monitor/web/WebAccounts.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

TEST(WebAccounts, PasswordsAreKeptOnlyAsArgon2idHashesThatOnlyTheOwnerReads) {
    TempDir dir;
    WebAccounts accounts(dir.file("web/users"));
    std::string why;
    ASSERT_TRUE(accounts.setPassword("guard", "correct horse", &why)) << why;
    ASSERT_TRUE(accounts.setPassword("neighbour", "battery staple"));
    const std::string file = readText(dir.file("web/users"));
    EXPECT_EQ(file.find("correct horse"), std::string::npos);
    EXPECT_NE(file.find("guard:$argon2id$"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("web/users").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_TRUE(accounts.verify("guard", "correct horse"));
    EXPECT_FALSE(accounts.verify("guard", "correct horse "));
    EXPECT_FALSE(accounts.verify("guard", "battery staple"));
    EXPECT_FALSE(accounts.verify("nobody", "correct horse"));
    EXPECT_EQ(accounts.names(), (std::vector<std::string>{"guard", "neighbour"}));
    // A new password replaces the old; a removed account logs in no more.
    ASSERT_TRUE(accounts.setPassword("guard", "another one"));
    EXPECT_FALSE(accounts.verify("guard", "correct horse"));
    EXPECT_TRUE(accounts.verify("guard", "another one"));
    EXPECT_TRUE(accounts.remove("neighbour"));
    EXPECT_FALSE(accounts.verify("neighbour", "battery staple"));
    EXPECT_FALSE(accounts.remove("neighbour"));
}

TEST(WebAccounts, NamesAndPasswordsThatCannotBeKeptAreRefused) {
    TempDir dir;
    WebAccounts accounts(dir.file("users"));
    std::string why;
    for (const std::string& name : std::vector<std::string>{"", "a:b", "line\nbreak", std::string(65, 'x')})
        EXPECT_FALSE(accounts.setPassword(name, "long enough", &why)) << name;
    EXPECT_FALSE(accounts.setPassword("guard", "short", &why));
    EXPECT_EQ(why, "a password has at least 8 characters");
    EXPECT_TRUE(accounts.names().empty());
    // A line of another kind in the file (a plain password written by hand) never logs in.
    writeText(dir.file("users"), "intruder:plaintext-password\n");
    EXPECT_FALSE(accounts.verify("intruder", "plaintext-password"));
}

TEST(LoginThrottle, FailuresSlowAClientDownAndAGoodLoginForgetsThem) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    LoginThrottle throttle([&] { return now; });
    throttle.failed("10.0.0.5");
    throttle.failed("10.0.0.5");
    EXPECT_EQ(throttle.wait("10.0.0.5"), 0ms);
    throttle.failed("10.0.0.5");
    EXPECT_EQ(throttle.wait("10.0.0.5"), 1000ms);
    throttle.failed("10.0.0.5");
    EXPECT_EQ(throttle.wait("10.0.0.5"), 2000ms);
    for (int i = 0; i < 10; ++i)
        throttle.failed("10.0.0.5");
    EXPECT_EQ(throttle.wait("10.0.0.5"), 60000ms);
    // Another client is not held up by the first.
    EXPECT_EQ(throttle.wait("10.0.0.6"), 0ms);
    now += 61s;
    EXPECT_EQ(throttle.wait("10.0.0.5"), 0ms);
    throttle.succeeded("10.0.0.5");
    EXPECT_EQ(throttle.failures("10.0.0.5"), 0);
}

TEST(WebSessions, SessionsAreRandomAndEndWhenUnusedOrOld) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    WebSessions sessions([&] { return now; });
    const WebSession a = sessions.create("guard");
    const WebSession b = sessions.create("guard");
    EXPECT_EQ(a.id.size(), 64u);
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a.csrf, a.id);
    ASSERT_TRUE(sessions.find(a.id));
    EXPECT_EQ(sessions.find(a.id)->user, "guard");
    EXPECT_FALSE(sessions.find("0" + a.id.substr(1)));
    EXPECT_TRUE(WebSessions::csrfMatches(a, a.csrf));
    EXPECT_FALSE(WebSessions::csrfMatches(a, b.csrf));
    EXPECT_FALSE(WebSessions::csrfMatches(a, ""));
    // Used every 20 minutes, a session lives to its twelfth hour and no longer.
    for (int i = 0; i < 35; ++i) {
        now += 20min;
        ASSERT_TRUE(sessions.find(a.id)) << i;
    }
    now += 20min;
    EXPECT_FALSE(sessions.find(a.id));
    // b was never used again: it ended after half an hour, and is gone from the table.
    EXPECT_FALSE(sessions.find(b.id));
    EXPECT_EQ(sessions.count(), 0u);
    const WebSession c = sessions.create("guard");
    sessions.end(c.id);
    EXPECT_FALSE(sessions.find(c.id));
}

} // namespace
