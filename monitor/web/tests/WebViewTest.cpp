// The web view's server through an HTTPS client: nothing without a session, the login and its
// cookie, the token every change needs, paths from requests never reaching files, the live
// picture encoded once for all its viewers.

#include "monitor/web/WebView.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/web/Certificate.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(
            ensureSelfSignedCertificate(m_state.file("web/cert.pem"), m_state.file("web/key.pem"), "", &why))
            << why;
        WebAccounts(m_state.file("web/users")).setPassword("guard", "correct horse");
        fs::create_directories(work() + "/2026.12.08_10.00.00");
        m_picture = std::vector<uint8_t>(64 * 48 * 2, 128);
        WebViewSetup setup;
        setup.address = "127.0.0.1";
        setup.port = 0;
        setup.certFile = m_state.file("web/cert.pem");
        setup.keyFile = m_state.file("web/key.pem");
        setup.accountsFile = m_state.file("web/users");
        setup.workingDirectory = work();
        setup.historyDirectory = m_state.dir();
        setup.framesPerSecond = 10;
        setup.latestPicture = [this](std::vector<uint8_t>& uyvy, int& w, int& h) {
            uyvy = m_picture;
            w = 64;
            h = 48;
            return true;
        };
        setup.mode = [] { return std::string("StandBy"); };
        setup.startStop = [this](bool start) { m_commands.push_back(start ? "start" : "stop"); };
        setup.log = [this](const std::string& line) { m_log.push_back(line); };
        m_view = std::make_unique<WebView>(setup);
        ASSERT_TRUE(m_view->start(&why)) << why;
    }
    std::string work() const { return m_state.file("work"); }
    std::unique_ptr<httplib::SSLClient> client() {
        auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", m_view->port());
        c->enable_server_certificate_verification(false);
        c->set_read_timeout(5, 0);
        return c;
    }
    // Logs in; the cookie's value.
    std::string login() {
        auto client_ = client();
        auto& c = *client_;
        const auto res =
            c.Post("/login", "user=guard&password=correct+horse", "application/x-www-form-urlencoded");
        if (!res || res->status != 303)
            return {};
        const std::string cookie = res->get_header_value("Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    }
    std::string csrf(const std::string& cookie) {
        auto client_ = client();
        auto& c = *client_;
        const auto page = c.Get("/", {{"Cookie", cookie}});
        if (!page)
            return {};
        const auto at = page->body.find("name=\"csrf\" content=\"");
        return at == std::string::npos ? "" : page->body.substr(at + 21, 64);
    }

    TempDir m_state;
    std::vector<uint8_t> m_picture;
    std::vector<std::string> m_commands;
    std::vector<std::string> m_log;
    std::unique_ptr<WebView> m_view;
};

TEST_F(WebViewTest, NothingButTheLoginPageIsReachedWithoutASession) {
    auto client_ = client();
    auto& c = *client_;
    const auto home = c.Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 303);
    EXPECT_EQ(home->get_header_value("Location"), "/login");
    for (const char* path :
         {"/live.mjpg", "/api/history", "/api/state", "/evidence?run=a&condition=b&kind=picture", "/nothing"})
        EXPECT_EQ(c.Get(path)->status, 401) << path;
    EXPECT_EQ(c.Post("/api/start", "", "text/plain")->status, 401);
    EXPECT_EQ(c.Post("/api/delete", "run=x", "application/x-www-form-urlencoded")->status, 401);
    // A made-up session is no session.
    EXPECT_EQ(
        c.Get("/api/state", {{"Cookie", std::string(WebView::kCookie) + "=" + std::string(64, 'a')}})->status,
        401);
    const auto page = c.Get("/login");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("type=\"password\""), std::string::npos);
    EXPECT_TRUE(m_commands.empty());
}

TEST_F(WebViewTest, TheLoginIsRefusedSlowedAndLoggedOrGivesAStrictCookie) {
    auto client_ = client();
    auto& c = *client_;
    const auto wrong = c.Post("/login", "user=guard&password=wrong", "application/x-www-form-urlencoded");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    EXPECT_TRUE(wrong->get_header_value("Set-Cookie").empty());
    ASSERT_EQ(m_log.size(), 1u);
    EXPECT_EQ(m_log[0], "Failed web login for \"guard\" from 127.0.0.1 (1 in a row)");

    const auto good =
        c.Post("/login", "user=guard&password=correct+horse", "application/x-www-form-urlencoded");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->status, 303);
    const std::string cookie = good->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie.rfind(std::string(WebView::kCookie) + "=", 0), 0u);
    for (const char* flag : {"; HttpOnly", "; Secure", "; SameSite=Strict", "; Path=/", "; Max-Age="})
        EXPECT_NE(cookie.find(flag), std::string::npos) << flag;
    EXPECT_EQ(c.Get("/api/state", {{"Cookie", cookie.substr(0, cookie.find(';'))}})->status, 200);

    // Three failures in a row and the client waits.
    for (int i = 0; i < 3; ++i)
        c.Post("/login", "user=guard&password=wrong", "application/x-www-form-urlencoded");
    const auto slowed =
        c.Post("/login", "user=guard&password=correct+horse", "application/x-www-form-urlencoded");
    ASSERT_TRUE(slowed);
    EXPECT_EQ(slowed->status, 429);
    EXPECT_FALSE(slowed->get_header_value("Retry-After").empty());
}

TEST_F(WebViewTest, EveryChangeNeedsTheSessionsToken) {
    const std::string cookie = login();
    ASSERT_FALSE(cookie.empty());
    const std::string token = csrf(cookie);
    ASSERT_EQ(token.size(), 64u);
    auto client_ = client();
    auto& c = *client_;
    EXPECT_EQ(c.Post("/api/start", {{"Cookie", cookie}}, "", "text/plain")->status, 403);
    EXPECT_EQ(
        c.Post("/api/start", {{"Cookie", cookie}, {"X-CSRF-Token", std::string(64, '0')}}, "", "text/plain")
            ->status,
        403);
    EXPECT_TRUE(m_commands.empty());
    EXPECT_EQ(c.Post("/api/start", {{"Cookie", cookie}, {"X-CSRF-Token", token}}, "", "text/plain")->status,
              200);
    EXPECT_EQ(c.Post("/api/stop", {{"Cookie", cookie}, {"X-CSRF-Token", token}}, "", "text/plain")->status,
              200);
    EXPECT_EQ(m_commands, (std::vector<std::string>{"start", "stop"}));
    // Another session's token does not do.
    const std::string other = csrf(login());
    EXPECT_EQ(c.Post("/api/start", {{"Cookie", cookie}, {"X-CSRF-Token", other}}, "", "text/plain")->status,
              403);
    // Logging out ends the session.
    EXPECT_EQ(
        c.Post("/logout", {{"Cookie", cookie}}, "csrf=" + token, "application/x-www-form-urlencoded")->status,
        303);
    EXPECT_EQ(c.Get("/api/state", {{"Cookie", cookie}})->status, 401);
}

TEST_F(WebViewTest, EvidenceIsOnlyWhatARowNamesInsideTheWorkingDirectory) {
    const std::string run = "2026.12.08_10.00.00";
    const std::string dir = work() + "/" + run;
    // A bitmap of 4 x 4 pixels (alarm above reference) and a clip with its playable copy.
    std::vector<uint8_t> bmp(54, 0);
    bmp.resize(54 + 4 * 3 * 4, 90);
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[10] = 54;
    bmp[14] = 40;
    bmp[18] = 4;
    bmp[22] = 4;
    bmp[26] = 1;
    bmp[28] = 24;
    writeBytes(dir + "/error001.bmp", bmp);
    writeText(dir + "/error001.avi", "RIFF clip");
    writeText(dir + "/error001.mp4", "the playable copy");
    TempDir outside;
    writeText(outside.file("secret.txt"), "not evidence");
    HistoryStore history(m_state.dir());
    history.AddRecord(
        run, {run, "2026/12/08 10:00:01", "", "Condition001", dir + "/error001.bmp", dir + "/error001.avi"});
    history.AddRecord(
        run, {run, "2026/12/08 10:00:02", "", "Condition002", outside.file("secret.txt"), "/etc/passwd"});
    const std::string cookie = login();
    auto client_ = client();
    auto& c = *client_;
    const httplib::Headers headers = {{"Cookie", cookie}};
    const auto list = c.Get("/api/history", headers);
    ASSERT_TRUE(list);
    EXPECT_NE(list->body.find("\"condition\":\"Condition001\""), std::string::npos);
    EXPECT_NE(list->body.find("\"playable\":true"), std::string::npos);

    const auto picture = c.Get("/evidence?run=" + run + "&condition=Condition001&kind=picture", headers);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->status, 200);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(picture->body.substr(0, 2), "\xff\xd8");
    const auto clip = c.Get("/evidence?run=" + run + "&condition=Condition001&kind=clip", headers);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->body, "the playable copy");
    EXPECT_EQ(clip->get_header_value("Content-Type"), "video/mp4");
    fs::remove(dir + "/error001.mp4");
    const auto avi = c.Get("/evidence?run=" + run + "&condition=Condition001&kind=clip", headers);
    EXPECT_EQ(avi->body, "RIFF clip");
    EXPECT_NE(avi->get_header_value("Content-Disposition").find("attachment"), std::string::npos);

    // Tricks in every parameter reach nothing.
    for (const std::string& query :
         std::vector<std::string>{"run=" + run + "&condition=Condition002&kind=picture",
                                  "run=" + run + "&condition=Condition002&kind=clip",
                                  "run=..%2F..&condition=Condition001&kind=picture",
                                  "run=" + run + "&condition=..%2Ferror001&kind=picture",
                                  "run=" + run + "&condition=Condition001&kind=..%2F..%2Fetc%2Fpasswd",
                                  "run=x%27%20OR%20%271%27%3D%271&condition=Condition001&kind=picture",
                                  "run=" + run + "&kind=picture"})
        EXPECT_EQ(c.Get("/evidence?" + query, headers)->status, 404) << query;

    // Deleting goes through the history window's checks: the file outside stays.
    const std::string token = csrf(cookie);
    httplib::Headers change = {{"Cookie", cookie}, {"X-CSRF-Token", token}};
    EXPECT_EQ(
        c.Post("/api/delete", change, "run=..%2F..&condition=", "application/x-www-form-urlencoded")->status,
        200);
    EXPECT_EQ(history.allRecords().size(), 2u);
    EXPECT_EQ(c.Post("/api/delete", change, "run=" + run + "&condition=Condition002",
                     "application/x-www-form-urlencoded")
                  ->status,
              200);
    EXPECT_TRUE(fs::exists(outside.file("secret.txt")));
    EXPECT_EQ(history.allRecords().size(), 1u);
    EXPECT_EQ(c.Post("/api/delete", change, "run=" + run + "&condition=", "application/x-www-form-urlencoded")
                  ->status,
              200);
    EXPECT_TRUE(history.allRecords().empty());
    EXPECT_FALSE(fs::exists(dir + "/error001.bmp"));
}

TEST_F(WebViewTest, TheLivePictureIsEncodedOnlyWhileWatchedAndOnceForAllViewers) {
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(m_view->framesEncoded(), 0u);
    const std::string cookie = login();
    std::atomic<int> jpegs[3] = {0, 0, 0};
    std::atomic<bool> done{false};
    std::vector<std::thread> viewers;
    for (int v = 0; v < 3; ++v)
        viewers.emplace_back([&, v] {
            auto client_ = client();
            auto& c = *client_;
            c.Get("/live.mjpg", {{"Cookie", cookie}}, [&](const char* data, size_t length) {
                const std::string chunk(data, length);
                for (auto at = chunk.find("\xff\xd8\xff"); at != std::string::npos;
                     at = chunk.find("\xff\xd8\xff", at + 1))
                    ++jpegs[v];
                return !done.load();
            });
        });
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(m_view->viewers(), 3);
    done = true;
    for (auto& t : viewers)
        t.join();
    // Ten a second for two seconds, for all three viewers together.
    EXPECT_GE(m_view->framesEncoded(), 12u);
    EXPECT_LE(m_view->framesEncoded(), 24u);
    for (auto& j : jpegs)
        EXPECT_GE(j.load(), 10);
    for (int i = 0; i < 50 && m_view->viewers() > 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_view->viewers(), 0);
    const uint64_t after = m_view->framesEncoded();
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(m_view->framesEncoded(), after + 1);
}

TEST(WebCertificate, ASelfSignedCertificateIsMadeOnceWithAnOwnerOnlyKey) {
    TempDir dir;
    std::string why;
    ASSERT_TRUE(ensureSelfSignedCertificate(dir.file("c/cert.pem"), dir.file("c/key.pem"), "shop-pc", &why))
        << why;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("c/key.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string first = certificateFingerprint(dir.file("c/cert.pem"));
    EXPECT_EQ(first.size(), 32u * 3 - 1);
    ASSERT_TRUE(ensureSelfSignedCertificate(dir.file("c/cert.pem"), dir.file("c/key.pem"), "shop-pc"));
    EXPECT_EQ(certificateFingerprint(dir.file("c/cert.pem")), first);
    EXPECT_EQ(certificateFingerprint(dir.file("missing.pem")), "");
}

} // namespace
