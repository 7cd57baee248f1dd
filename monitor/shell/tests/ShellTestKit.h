#pragma once

// The windowed program in a test: a program directory of test pages, a shell on it with the real
// web engine, and the means to drive pages as a user's clicks would (their own window.external
// calls) and to read what they show.

#include "PaletteBitmap.h"
#include "monitor/live/EngineHost.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/shell/ExternalObject.h"
#include "monitor/shell/MonitorShell.h"
#include "monitor/shell/SkinWindow.h"
#include "monitor/shell/TrayIcon.h"
#include "monitor/shell/WebEngineSetup.h"
#include "platform/RecordingReporter.h"
#include "platform/tests/QtTestApplication.h"
#include "platform/tests/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace gardivo::testing {

inline void ensureWebApplication() {
    if (QApplication::instance())
        return;
    // As the program runs itself, and without a graphics card.
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    prepareWebEngineEnvironment();
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "gardivo-shell-tests";
    static char* argv[] = {name, nullptr};
    auto* app = new QApplication(argc, argv);
    app->setQuitOnLastWindowClosed(false);
    // Test Pattern and the codec come from the build's program directory.
    initMediaFramework(GARDIVO_PROGRAM_DIR);
}

// The shell as the tests run it: no splash and no endpoint, the United States' texts, no device
// watch or sound card, and the desktop's part played by the test.
inline MonitorShell::Options testShellOptions(DesktopOpener& opener) {
    MonitorShell::Options options;
    options.showSplash = false;
    options.listen = false;
    options.opener = &opener;
    options.country = "1";
    options.adjustEngine = [](EngineHost::Setup& setup) {
        setup.watchDevices = false;
        setup.makeMixer = nullptr;
    };
    return options;
}

// Lets the program run for a while.
inline void spin(int duration_ms) {
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= duration_ms; }, duration_ms + 1000);
}

// A script's value in a window's page.
inline QVariant evaluate(SkinWindow& window, const QString& script) {
    QVariant value;
    bool done = false;
    window.view()->page()->runJavaScript(script, [&](const QVariant& v) {
        value = v;
        done = true;
    });
    waitUntil([&] { return done; }, 10000);
    return value;
}

// What a window.external call gave the page: the promise's value, or the name of its error.
struct BridgeOutcome {
    bool settled = false;
    QVariant value;
    QString error;
};

inline BridgeOutcome callFromPage(SkinWindow& window, const QString& call) {
    const QVariant n = evaluate(window, QStringLiteral(R"JS(
        (function () {
            window.__calls = window.__calls || [];
            var n = window.__calls.length;
            window.__calls.push(null);
            try {
                window.external.%1.then(function (v) { window.__calls[n] = { value: v === undefined ? null : v }; },
                                        function (e) { window.__calls[n] = { error: e.name }; });
            } catch (x) {
                window.__calls[n] = { error: 'threw ' + x };
            }
            return n;
        })()
    )JS")
                                            .arg(call));
    BridgeOutcome outcome;
    if (!n.isValid())
        return outcome;
    const QString read = QStringLiteral("JSON.stringify(window.__calls[%1])").arg(n.toInt());
    QString json;
    outcome.settled = waitUntil(
        [&] {
            json = evaluate(window, read).toString();
            return !json.isEmpty() && json != "null";
        },
        10000);
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    if (object.contains("error"))
        outcome.error = object.value("error").toString();
    else
        outcome.value = object.value("value").toVariant();
    return outcome;
}

inline int resultOf(SkinWindow& window, const QString& call) {
    const BridgeOutcome outcome = callFromPage(window, call);
    EXPECT_TRUE(outcome.settled) << call.toStdString();
    EXPECT_TRUE(outcome.error.isEmpty()) << call.toStdString() << ": " << outcome.error.toStdString();
    return outcome.value.isValid() ? outcome.value.toInt() : -1;
}

inline QString errorOf(SkinWindow& window, const QString& call) {
    const BridgeOutcome outcome = callFromPage(window, call);
    EXPECT_TRUE(outcome.settled) << call.toStdString();
    return outcome.error;
}

// The calls the program made into a test page, as "Function(arg,arg)" lines.
inline QStringList pageLog(SkinWindow& window) {
    return evaluate(window, "(window.log || []).join('\\n')").toString().split('\n', Qt::SkipEmptyParts);
}

// Every function the program calls in pages, writing into window.log.
inline const char* kPageFunctions = R"(
<script>
window.log = [];
function note(name, args) { window.log.push(name + '(' + Array.prototype.join.call(args, ',') + ')'); }
function DescChange() { note('DescChange', arguments); }
function Localize() { note('Localize', arguments); }
function InitGroups() { note('InitGroups', arguments); }
function SelectRecord() { note('SelectRecord', arguments); }
function DeleteItemFromGroups() { note('DeleteItemFromGroups', arguments); }
function CreateHistoryWindow() { note('CreateHistoryWindow', arguments); }
function SetRegion() { note('SetRegion', arguments); }
</script>
)";

class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureWebApplication(); }

    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(program.file("skins/default"));
        fs::create_directories(program.file("skins/Blue"));
        fs::create_directories(program.file("skins/HTML"));
        fs::create_directories(program.file("Info"));
        page("skins/default/skin.htm", "window.registered = window.external.RegisterID('ControlPanel');");
        page("skins/Blue/skin.htm", "window.external.RegisterID('ControlPanel'); window.blue = true;");
        page("skins/default/screen.htm", "window.external.RegisterID('Screen');");
        page("skins/default/plain.htm", "");
        for (const char* info : {"jinfo.txt", "cinfo.txt", "einfo.txt"})
            writeText(program.file(std::string("Info/") + info), info);
        writeText(program.file("page.htm"), "<html><body>not a skin page</body></html>");
        prepare();
        makeShell();
    }

    void TearDown() override {
        shell.reset();
        companions.reset();
        settings.reset();
    }

    // Called before the shell is made, to add what a test needs to the program directory.
    virtual void prepare() {}

    void makeShell(const std::function<void(MonitorShell::Options&)>& adjust = {}) {
        settings = std::make_unique<SettingsStore>(ProgramKind::Gardivo, registry, reporter, program.dir(),
                                                   home.path());
        companions = std::make_unique<CompanionLauncher>(*settings, reporter);
        MonitorShell::Options options = testShellOptions(opener);
        if (adjust)
            adjust(options);
        shell = std::make_unique<MonitorShell>(*settings, reporter, *companions, options);
        QObject::connect(shell.get(), &MonitorShell::ended, [this] { ended = true; });
        shell->start();
        ASSERT_TRUE(waitUntil([&] { return shell->mainWindow() && shell->mainWindow()->isPageLoaded(); }));
        // The main page registers itself as its scripts run; a broken one never does.
        waitUntil([&] { return shell->findWindow(kControlPanel) != nullptr; }, 3000);
    }

    // A test page: the page functions, then the script, in a skin page.
    void page(const std::string& path, const std::string& script, const std::string& body = "") {
        writeText(program.file(path), std::string("<html><head>") + kPageFunctions + "<script>\n" + script +
                                          "\n</script></head><body>" + body + "</body></html>");
    }

    SkinWindow& main() { return *shell->mainWindow(); }

    // A content window opened by the main page, once its page has loaded and registered.
    SkinWindow* openContent(const std::string& page, const std::string& name) {
        if (resultOf(main(), QString::fromStdString("CreateContentWindow('" + page + "')")) != 0)
            return nullptr;
        SkinWindow* window = nullptr;
        waitUntil([&] {
            window = shell->findWindow(name);
            return window && window->isPageLoaded();
        });
        return window;
    }

    SkinWindow* newestWindow() {
        const auto windows = shell->registry().windows();
        return windows.empty() ? nullptr : windows.back();
    }

    TempDir program;
    TempDir home;
    RegistryStore registry;
    RecordingReporter reporter;
    RecordingDesktopOpener opener;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<CompanionLauncher> companions;
    std::unique_ptr<MonitorShell> shell;
    bool ended = false;
};

} // namespace gardivo::testing
