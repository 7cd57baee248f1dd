// The web view in a real browser (the web engine the program itself uses) at a phone's size:
// it logs in, sees the live picture change, starts watching, sees the alarm's row appear on the
// history page, opens its picture and deletes it. With GARDIVO_TEST_SCREENSHOTS set, each page is
// kept as a picture there.

#include "ShellTestKit.h"

#include "monitor/capture/testsrc/TestPatternScene.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/web/Certificate.h"
#include "monitor/web/WebView.h"

#include <QImage>
#include <QWebEngineCertificateError>

#include <atomic>
#include <mutex>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// A phone's browser: the test's own certificate is taken (on loopback only) and every "are you
// sure?" is answered yes.
class PhonePage final : public QWebEnginePage {
public:
    explicit PhonePage(QObject* parent) : QWebEnginePage(parent) {
        connect(this, &QWebEnginePage::certificateError, this, [](QWebEngineCertificateError error) {
            if (error.url().host() == "127.0.0.1")
                error.acceptCertificate();
            else
                error.rejectCertificate();
        });
    }

protected:
    bool javaScriptConfirm(const QUrl&, const QString&) override { return true; }
};

QVariant script(QWebEngineView& view, const QString& text) {
    QVariant value;
    bool done = false;
    view.page()->runJavaScript(text, [&](const QVariant& v) {
        value = v;
        done = true;
    });
    waitUntil([&] { return done; }, 10000);
    return value;
}

void screenshot(QWebEngineView& view, const char* name) {
    const QByteArray directory = qgetenv("GARDIVO_TEST_SCREENSHOTS");
    // A moment for the page to be painted as it now is.
    QElapsedTimer painted;
    painted.start();
    waitUntil([&] { return painted.elapsed() > 700; }, 2000);
    if (!directory.isEmpty())
        view.grab().save(QString::fromUtf8(directory) + "/" + name + ".png");
}

TEST(WebBrowser, APhoneLogsInWatchesStartsAndDeletesTheAlarm) {
    ensureWebApplication();
    TempDir state;
    const std::string work = state.file("work");
    const std::string run = "2026.12.08_10.00.00";
    fs::create_directories(work + "/" + run);
    ASSERT_TRUE(ensureSelfSignedCertificate(state.file("cert.pem"), state.file("key.pem"), "shop-pc"));
    WebAccounts(state.file("users")).setPassword("guard", "correct horse");

    // The Test Pattern's room as the camera, its figure walking in, and a mode the page can change.
    TestPatternScene::Timing timing;
    timing.stillSeconds = 1;
    timing.moveSeconds = 3;
    TestPatternScene scene(160, 120, timing);
    QElapsedTimer clock;
    clock.start();
    std::mutex sceneMutex;
    std::atomic<bool> watching{false};
    WebViewSetup setup;
    setup.address = "127.0.0.1";
    setup.port = 0;
    setup.certFile = state.file("cert.pem");
    setup.keyFile = state.file("key.pem");
    setup.accountsFile = state.file("users");
    setup.workingDirectory = work;
    setup.historyDirectory = state.dir();
    setup.framesPerSecond = 5;
    setup.latestPicture = [&](std::vector<uint8_t>& uyvy, int& w, int& h) {
        w = 160;
        h = 120;
        uyvy.resize(static_cast<size_t>(w) * h * 2);
        std::lock_guard lock(sceneMutex);
        const double seconds = clock.elapsed() / 1000.0;
        scene.render(seconds, static_cast<uint64_t>(seconds * 30), uyvy.data());
        return true;
    };
    setup.mode = [&] { return std::string(watching ? "WatchDog" : "StandBy"); };
    setup.startStop = [&](bool start) {
        watching = start;
        if (!start)
            return;
        // The alarm the watching raises: its picture (the room with the figure above the empty
        // room, as the engine keeps it) and its row.
        QImage bitmap(160, 240, QImage::Format_RGB888);
        std::vector<uint8_t> uyvy(160 * 120 * 2);
        for (const auto& [seconds, top] : {std::pair{3.0, 0}, std::pair{0.0, 120}}) {
            scene.render(seconds, 0, uyvy.data());
            for (int y = 0; y < 120; ++y)
                for (int x = 0; x < 160; ++x) {
                    const uint8_t* p = uyvy.data() + (y * 160 + (x & ~1)) * 2;
                    const double luma = 1.164 * (p[(x & 1) ? 3 : 1] - 16), cb = p[0] - 128, cr = p[2] - 128;
                    const auto clamp = [](double v) { return std::clamp(static_cast<int>(v), 0, 255); };
                    bitmap.setPixel(x, top + y,
                                    qRgb(clamp(luma + 1.596 * cr), clamp(luma - 0.392 * cb - 0.813 * cr),
                                         clamp(luma + 2.017 * cb)));
                }
        }
        bitmap.save(QString::fromStdString(work + "/" + run + "/error001.bmp"), "BMP");
        HistoryStore(state.dir())
            .AddRecord(run, {run, "2026/12/08 10:00:01", "", "Condition001",
                             work + "/" + run + "/error001.bmp", ""});
    };
    WebView web(setup);
    std::string why;
    ASSERT_TRUE(web.start(&why)) << why;
    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(web.port());

    QWebEngineView view;
    view.setPage(new PhonePage(&view));
    view.resize(390, 844);
    view.show();
    const auto loadPage = [&](const QString& url) {
        bool loaded = false;
        auto connection =
            QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        view.load(QUrl(url));
        waitUntil([&] { return loaded; }, 15000);
        QObject::disconnect(connection);
    };

    // Without a session the live page sends the browser to the login.
    loadPage(base + "/");
    ASSERT_TRUE(waitUntil([&] { return view.url().path() == "/login"; }, 10000))
        << view.url().toString().toStdString();
    screenshot(view, "web-login");
    bool loaded = false;
    auto connection = QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    script(view, "document.querySelector('input[name=user]').value = 'guard';"
                 "document.querySelector('input[name=password]').value = 'correct horse';"
                 "document.querySelector('form').submit();");
    ASSERT_TRUE(waitUntil([&] { return loaded && view.url().path() == "/"; }, 15000));
    QObject::disconnect(connection);

    // The live picture arrives and changes.
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.getElementById('live').naturalWidth").toInt() == 160; }, 10000));
    const uint64_t before = web.framesEncoded();
    ASSERT_TRUE(waitUntil([&] { return web.framesEncoded() >= before + 3; }, 10000));
    EXPECT_EQ(web.viewers(), 1);
    // What the page shows changes as the figure walks in: the picture is read twice through a canvas.
    const QString sample =
        "(() => { const i = document.getElementById('live'); const c = document.createElement('canvas');"
        "c.width = i.naturalWidth; c.height = i.naturalHeight; const g = c.getContext('2d');"
        "g.drawImage(i, 0, 0); const d = g.getImageData(0, 0, c.width, c.height).data;"
        "let sum = 0; for (let k = 0; k < d.length; k += 4) sum += d[k] * (k % 997); return sum; })()";
    const double first = script(view, sample).toDouble();
    ASSERT_TRUE(waitUntil([&] { return script(view, sample).toDouble() != first; }, 10000));
    EXPECT_EQ(script(view, "document.getElementById('mode').textContent").toString(), "StandBy");
    screenshot(view, "web-live");
    script(view, "document.getElementById('start').click()");
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.getElementById('mode').textContent").toString() == "WatchDog"; },
        10000));

    // The history shows the alarm's row, with its picture.
    loadPage(base + "/history");
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.querySelectorAll('.condition').length").toInt() == 1; }, 10000));
    EXPECT_EQ(script(view, "document.querySelector('.condition').dataset.condition").toString(),
              "Condition001");
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.querySelector('img.evidence').naturalWidth").toInt() == 160; },
        10000));
    screenshot(view, "web-history");
    // Its picture opens by itself.
    loadPage(base + QString::fromStdString("/evidence?run=" + run + "&condition=Condition001&kind=picture"));
    EXPECT_EQ(script(view, "document.images.length && document.images[0].naturalHeight").toInt(), 240);
    // Deleted from the page, as the history window would.
    loadPage(base + "/history");
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.querySelectorAll('.condition').length").toInt() == 1; }, 10000));
    script(view, "document.querySelector('.condition button.danger').click()");
    ASSERT_TRUE(waitUntil([&] { return HistoryStore(state.dir()).allRecords().empty(); }, 10000));
    EXPECT_FALSE(fs::exists(work + "/" + run + "/error001.bmp"));
    ASSERT_TRUE(waitUntil(
        [&] { return script(view, "document.querySelectorAll('.condition').length").toInt() == 0; }, 10000));
}

} // namespace
