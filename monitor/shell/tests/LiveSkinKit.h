#pragma once

// Gardivo with its shipped skins in the real web engine on a quick Test Pattern, for the tests
// that drive it as a user does: the pages' own buttons, the program's menus and its tray.
//
// With GARDIVO_TEST_SCREENSHOTS=DIR the tests leave pictures of the screen there.

#include "ShellTestKit.h"
#include "monitor/messages/WindowMessages.h"

#include <QGuiApplication>
#include <QScreen>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace gardivo::testing {

inline void screenshot(const char* name) {
    const QByteArray directory = qgetenv("GARDIVO_TEST_SCREENSHOTS");
    if (directory.isEmpty())
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        screen->grabWindow(0).save(QString::fromUtf8(directory) + "/" + name + ".png");
}

// Answers the program's questions like a user would, and can look at the screen while one is up.
class AnsweringReporter final : public Reporter {
public:
    MessageAnswer show(const Message& message) override {
        {
            std::lock_guard lock(m_mutex);
            m_texts.push_back(message.text);
        }
        if (onQuestion && message.buttons != MessageButtons::Ok)
            onQuestion(message);
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : defaultAnswer(message.buttons);
    }
    std::vector<std::string> texts() const {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }
    std::function<void(const Message&)> onQuestion;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

inline bool isNoticeYellow(const QColor& colour) {
    return colour.alpha() > 200 && colour.red() > 200 && colour.green() > 200 && colour.blue() < 80;
}

class LiveSkinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureWebApplication(); }

    void SetUp() override {
        const std::string shipped = GARDIVO_PROGRAM_DIR;
        for (const char* folder : {"skins", "Info", "help"})
            std::filesystem::copy(shipped + "/" + folder, program.file(folder),
                                  std::filesystem::copy_options::recursive);
        std::filesystem::copy_file(shipped + "/libdeinterlace.so", program.file("libdeinterlace.so"));
        std::filesystem::copy_file(shipped + "/gardivo.png", program.file("gardivo.png"));
        // A figure that walks in after two seconds, and again every six.
        writeText(program.file("sources.txt"),
                  "Test Pattern|gardivotestsrc still-seconds=2 move-seconds=2 rest-seconds=2\n");
        settings = std::make_unique<SettingsStore>(ProgramKind::Gardivo, registry, reporter, program.dir(),
                                                   home.path());
        auto& s = settings->settings();
        s.ActionFlags = 1; // a clip with every alarm
        s.TracingMode = 0;
        s.StopRule = 1; // watch on after an alarm
        s.RecordTimeLimit = 1;
        s.WarningSound = 0;
        companions = std::make_unique<CompanionLauncher>(*settings, reporter);
    }

    void start() {
        shell = std::make_unique<MonitorShell>(*settings, reporter, *companions, testShellOptions(opener));
        QObject::connect(shell.get(), &MonitorShell::ended, [this] { ended = true; });
        // The shared test display has no notification area; the tray tests bring their own.
        if (!withTray)
            shell->setTrayAvailable(false);
        shell->start();
        ASSERT_TRUE(
            waitUntil([&] { return shell->findWindow(kScreen) && shell->findWindow(kControlPanel); }));
        ASSERT_TRUE(waitUntil([&] { return text(main(), "picture-size") == QString("640 \u00d7 480"); }));
    }

    void TearDown() override {
        shell.reset();
        companions.reset();
        settings.reset();
    }

    SkinWindow& main() { return *shell->mainWindow(); }

    // What an element of a page shows.
    static QString text(SkinWindow& window, const char* id) {
        return evaluate(window, QString("(document.getElementById('%1') || {}).textContent || ''").arg(id))
            .toString();
    }
    static void click(SkinWindow& window, const QString& selector) {
        evaluate(window, QString("document.querySelector(\"%1\").click()").arg(selector));
    }
    static QStringList listed(SkinWindow& window, const char* list, const char* attribute) {
        return evaluate(window, QString("Array.prototype.map.call(document.querySelectorAll('#%1 li'), "
                                        "function (li) { return li.getAttribute('%2'); }).join('|')")
                                    .arg(list, attribute))
            .toString()
            .split('|', Qt::SkipEmptyParts);
    }

    uint32_t conditions() {
        uint32_t count = 0;
        bool done = false;
        shell->engine().post([&](EngineHost& host) {
            count = host.engine() ? host.engine()->conditionCount() : 0;
            done = true;
        });
        waitUntil([&] { return done; });
        return count;
    }

    TempDir program;
    TempDir home;
    RegistryStore registry;
    AnsweringReporter reporter;
    RecordingDesktopOpener opener;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<CompanionLauncher> companions;
    std::unique_ptr<MonitorShell> shell;
    bool ended = false;
    bool withTray = false;
};

} // namespace gardivo::testing
