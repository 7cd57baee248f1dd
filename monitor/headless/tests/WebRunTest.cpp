// gardivo-monitor's web view as a phone's browser uses it: a user made with --web-user, the login,
// the live picture, Start from the page, and the alarm's row on the history.

#include "HeadlessTestKit.h"

#include "monitor/outward/tests/OutwardServers.h"

#include <httplib.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;

namespace {

TEST_F(HeadlessMonitor, TheWebViewLogsInShowsThePictureStartsWatchingAndListsTheAlarm) {
    // The user, as an administrator would make it.
    writeText(m_program.file("password.txt"), "correct horse\n");
    const pid_t setter = spawn(
        {GARDIVO_PROGRAM_DIR "/gardivo-monitor", "--program-dir", m_program.path(), "--web-user", "guard"},
        m_program.file("setter.txt"), m_program.file("password.txt"));
    int status = 0;
    ::waitpid(setter, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(m_program.file("setter.txt"));

    const int port = freePort();
    const pid_t pid = start({"--web", std::to_string(port), "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("web: https://", 20s)) << output();
    EXPECT_NE(output().find("certificate SHA-256 "), std::string::npos);
    httplib::SSLClient c("127.0.0.1", port);
    c.enable_server_certificate_verification(false);
    c.set_read_timeout(5, 0);
    const auto login =
        c.Post("/login", "user=guard&password=correct+horse", "application/x-www-form-urlencoded");
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 303);
    const std::string setCookie = login->get_header_value("Set-Cookie");
    const httplib::Headers cookie = {{"Cookie", setCookie.substr(0, setCookie.find(';'))}};
    const auto page = c.Get("/", cookie);
    ASSERT_TRUE(page);
    const auto at = page->body.find("name=\"csrf\" content=\"");
    ASSERT_NE(at, std::string::npos);
    const std::string token = page->body.substr(at + 21, 64);

    // Two pictures of the live stream, of the camera's picture.
    int jpegs = 0;
    c.Get("/live.mjpg", cookie, [&](const char* data, size_t length) {
        const std::string chunk(data, length);
        for (auto p = chunk.find("\xff\xd8\xff"); p != std::string::npos;
             p = chunk.find("\xff\xd8\xff", p + 1))
            ++jpegs;
        return jpegs < 2;
    });
    EXPECT_GE(jpegs, 2);

    httplib::Headers change = cookie;
    change.emplace("X-CSRF-Token", token);
    ASSERT_EQ(c.Post("/api/start", change, "", "text/plain")->status, 200);
    ASSERT_TRUE(waitForOutput("start: WatchDog", 10s) || waitForOutput("mode WatchDog", 10s)) << output();
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    std::string history;
    for (int i = 0; i < 40 && history.find("Condition001") == std::string::npos; ++i) {
        history = c.Get("/api/history", cookie)->body;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(history.find("\"condition\":\"Condition001\""), std::string::npos) << history;
    stop(pid);
}

} // namespace
