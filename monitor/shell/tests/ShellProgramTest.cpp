// The program around the pages: its messages, the tray menu, the Tracing Box, the skin menu,
// the start-up checks, the endpoint other programs talk to, and two copies started at once.

#include "ShellTestKit.h"
#include "codec_filter/AviReader.h"
#include "monitor/capture/tests/PlayedFrames.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/shell/ShellReporter.h"
#include "monitor/shell/SplashScreen.h"
#include "monitor/shell/StartUpChecks.h"
#include "monitor/shell/TracingBox.h"
#include "monitor/shell/TrayIcon.h"
#include "platform/SystemInfo.h"
#include "platform/qt/LocalEndpoint.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// A shell whose program directory has the Test Pattern and the conversion module, so that a
// video page gets live pictures.
class LiveShellTest : public ShellTest {
protected:
    void prepare() override {
        writeText(program.file("sources.txt"), readText(std::string(GARDIVO_PROGRAM_DIR) + "/sources.txt"));
        fs::copy_file(std::string(GARDIVO_PROGRAM_DIR) + "/libdeinterlace.so",
                      program.file("libdeinterlace.so"));
        page("skins/default/screen.htm",
             "window.external.RegisterID('Screen'); window.external.SetWindowRegion(0, 0, 320, 240);");
    }

    // Runs on the engine thread and waits for it.
    template <typename Work>
    void onEngine(Work work) {
        bool done = false;
        shell->engine().post([&](EngineHost& host) {
            work(host);
            done = true;
        });
        ASSERT_TRUE(waitUntil([&] { return done; }));
    }
};

bool isBitmapOf(const std::string& path, int width, int height) {
    const auto bytes = readBytes(path);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    const auto le32 = [&](size_t at) {
        return int32_t(uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
                       uint32_t(bytes[at + 3]) << 24);
    };
    return le32(18) == width && le32(22) == height && bytes[28] == 24 &&
           bytes.size() >= 54 + size_t(width) * 3 * size_t(height);
}

} // namespace

TEST(TrayMenu, ItemsFollowTheModeAndTheWizard) {
    ensureWebApplication();
    int mode = StandBy;
    bool wizard = false;
    bool waiting = false;
    std::vector<int> chosen;
    TrayIcon tray({[&](int id) { chosen.push_back(id); },
                   {},
                   [&] { return mode; },
                   [&] { return wizard; },
                   [&] { return waiting; }});
    QMenu& menu = *tray.menu();
    QStringList texts;
    for (QAction* item : menu.actions())
        texts << (item->isSeparator() ? "-" : item->text());
    EXPECT_EQ(texts, (QStringList{"Start Watchdog", "Stop Watchdog", "-", "Open Setup wizard", "-", "Exit"}));

    // The states are set as the menu opens.
    mode = WatchDog;
    emit menu.aboutToShow();
    EXPECT_TRUE(tray.action(kCommandStartWatchdog)->isChecked());
    EXPECT_FALSE(tray.action(kCommandStartWatchdog)->isEnabled());
    EXPECT_TRUE(tray.action(kCommandStopWatchdog)->isEnabled());
    EXPECT_TRUE(tray.action(kCommandOpenSetupWizard)->isEnabled());
    mode = StandBy;
    wizard = true;
    emit menu.aboutToShow();
    EXPECT_FALSE(tray.action(kCommandStartWatchdog)->isChecked());
    EXPECT_TRUE(tray.action(kCommandStartWatchdog)->isEnabled());
    EXPECT_FALSE(tray.action(kCommandStopWatchdog)->isEnabled());
    EXPECT_TRUE(tray.action(kCommandOpenSetupWizard)->isChecked());
    EXPECT_FALSE(tray.action(kCommandOpenSetupWizard)->isEnabled());
    mode = Tracing;
    emit menu.aboutToShow();
    EXPECT_FALSE(tray.action(kCommandStartWatchdog)->isEnabled());
    // A Start that waits out its delay can be called off.
    mode = StandBy;
    waiting = true;
    emit menu.aboutToShow();
    EXPECT_TRUE(tray.action(kCommandStartWatchdog)->isChecked());
    EXPECT_FALSE(tray.action(kCommandStartWatchdog)->isEnabled());
    EXPECT_TRUE(tray.action(kCommandStopWatchdog)->isEnabled());

    tray.action(kCommandExit)->trigger();
    EXPECT_EQ(chosen, (std::vector<int>{kCommandExit}));
    EXPECT_EQ(TrayIcon::tipFor(StandBy), "Tavrin Gardivo");
    EXPECT_EQ(TrayIcon::tipFor(WatchDog), "Detecting...");
    EXPECT_EQ(TrayIcon::tipFor(Tracing), "Tracing...");
}

TEST_F(ShellTest, TheProgramsMessagesReachThePages) {
    SkinWindow& window = main();
    shell->postToWindow(kControlPanel, WM_APP_REPORT, 640, 480);
    ASSERT_TRUE(waitUntil([&] { return pageLog(window).contains("DescChange(dimension,640x480)"); }));
    // The first new record opens the history window; later ones select the run's group.
    shell->postToWindow(kControlPanel, WM_APP_NEW_RECORD, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(window).contains("CreateHistoryWindow()"); }));
    EXPECT_TRUE(shell->historyOpen);
    shell->postToWindow(kControlPanel, WM_APP_REGION_DONE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(window).contains("SetRegion(0)"); }));
    // A name nobody registered: nothing happens.
    shell->postToWindow("Nobody", WM_APP_REPORT, 1, 1);

    // Pruning: rows of vanished runs go, and the page hears of each group.
    const std::string working = home.file("Gardivo");
    fs::create_directories(working + "/kept");
    HistoryStore history(program.dir());
    history.AddRecord("kept", {"kept", "t", "", "Condition001", "", ""});
    history.AddRecord("gone1", {"gone1", "t", "", "Condition001", "", ""});
    history.AddRecord("gone2", {"gone2", "t", "", "Condition001", "", ""});
    shell->postToWindow(kControlPanel, WM_APP_PRUNE_HISTORY, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(window).contains("DeleteItemFromGroups(gone2)"); }));
    EXPECT_TRUE(pageLog(window).contains("DeleteItemFromGroups(gone1)"));
    EXPECT_EQ(history.allRecords().size(), 1u);
}

TEST_F(ShellTest, TopMostAndTheSplashFollowTheirRules) {
    // TopMost, once the wizard's settings say so, reaches every named window.
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    EXPECT_FALSE(main().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    settings->settings().TopMost = 1;
    ASSERT_TRUE(settings->save());
    settings->settings().TopMost = 0; // only the file says so
    shell->postToWindow(kControlPanel, WM_APP_SETTINGS_CHANGED, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return screen->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }));
    EXPECT_TRUE(main().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(screen->isVisible());
    // A window given a shape stays on top, and one that registers its name later is on top too.
    EXPECT_EQ(resultOf(*screen, "WindowShape(3, 0, 0, 100, 0, 50, 80)"), 0);
    EXPECT_TRUE(screen->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    page("skins/default/later.htm", "window.external.RegisterID('Later');");
    SkinWindow* later = openContent("skins/default/later.htm", "Later");
    ASSERT_NE(later, nullptr);
    EXPECT_TRUE(later->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    // The wizard's "always on top" does the same; neither: not on top.
    settings->settings().TopMost = 0;
    settings->settings().WindowStyle = 1;
    ASSERT_TRUE(settings->save());
    shell->postToWindow(kControlPanel, WM_APP_SETTINGS_CHANGED, 0, 0);
    spin(300);
    EXPECT_TRUE(screen->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    settings->settings().WindowStyle = 0;
    ASSERT_TRUE(settings->save());
    shell->postToWindow(kControlPanel, WM_APP_SETTINGS_CHANGED, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !screen->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }));

    // The splash goes by itself.
    QPointer<SplashScreen> splash = new SplashScreen;
    splash->show();
    spin(SplashScreen::kShowTime_ms - 500);
    EXPECT_TRUE(splash && splash->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !splash; }, 2000));
}

TEST_F(ShellTest, ScriptsForAPageThatIsNotReadyAreTriedAgain) {
    page("skins/default/slow.htm",
         "window.external.RegisterID('Slow'); setTimeout(function () {"
         " window.Later = function (a) { window.log.push('Later(' + a + ')'); }; }, 1200);");
    SkinWindow* slow = openContent("skins/default/slow.htm", "Slow");
    ASSERT_NE(slow, nullptr);
    shell->sink().runScript("Slow", "Later(\"x\")");
    ASSERT_TRUE(waitUntil([&] { return pageLog(*slow).contains("Later(x)"); }));
    EXPECT_EQ(pageLog(*slow).count("Later(x)"), 1);
}

TEST_F(ShellTest, MinimizeWithoutATrayMinimisesTheMainWindowAndHidesTheOthers) {
    SkinWindow* other = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(other, nullptr);
    settings->settings().WindowStyle = 2; // to the tray
    shell->setTrayAvailable(false);
    EXPECT_EQ(resultOf(main(), "Minimize()"), 0);
    ASSERT_TRUE(waitUntil([&] { return !other->isVisible() && main().isMinimized(); }));
    // Brought back from the task bar: the others come back too.
    main().showNormal();
    ASSERT_TRUE(waitUntil([&] { return other->isVisible(); }));
    // A content window only hides itself.
    EXPECT_EQ(resultOf(*other, "Minimize()"), 0);
    EXPECT_FALSE(other->isVisible());
    EXPECT_TRUE(main().isVisible());
}

TEST_F(ShellTest, AnAutomaticStartKeepsTheShapedWindowsOutOfSight) {
    settings->settings().AutoRun = 1;
    shell->setTrayAvailable(false);
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(resultOf(*screen, "WindowShape(3, 0, 0, 50, 0, 0, 50)"), 0);
    EXPECT_FALSE(screen->isVisible());
    EXPECT_EQ(resultOf(main(), "WindowShape(3, 0, 0, 50, 0, 0, 50)"), 0);
    ASSERT_TRUE(waitUntil([&] { return main().isMinimized(); })); // no tray here: minimised, never hidden
    // Once the history is open, shaped windows show.
    shell->historyOpen = true;
    EXPECT_EQ(resultOf(*screen, "WindowShape(3, 0, 0, 50, 0, 0, 50)"), 0);
    EXPECT_TRUE(screen->isVisible());
}

TEST_F(ShellTest, TheSkinMenuOffersEverySkinAndSwitchesToTheChosenOne) {
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    page("skins/Blue/skin.htm", "window.external.RegisterID('ControlPanel'); window.blue = true;"
                                "window.external.CreateContentWindow('skins/Blue/screen.htm');");
    page("skins/Blue/screen.htm", "window.blueScreen = true;");

    shell->showSkinMenu(*screen, QPoint(10, 10)); // not on content windows
    EXPECT_EQ(shell->popupMenu(), nullptr);
    shell->showSkinMenu(main(), QPoint(10, 10));
    ASSERT_NE(shell->popupMenu(), nullptr);
    QStringList items;
    for (QAction* item : shell->popupMenu()->actions())
        items << item->text() + (item->isChecked() ? "*" : "");
    EXPECT_EQ(items, (QStringList{"Blue", "default*"}));
    shell->popupMenu()->hide();

    shell->popupMenu()->actions().at(0)->trigger();
    EXPECT_EQ(shell->currentSkin, "Blue");
    // The new main page asks for its video page: the video window stays and shows it.
    ASSERT_TRUE(waitUntil(
        [&] { return main().isPageLoaded() && evaluate(main(), "window.blue === true").toBool(); }));
    ASSERT_TRUE(waitUntil(
        [&] { return screen->isPageLoaded() && evaluate(*screen, "window.blueScreen === true").toBool(); }));
    EXPECT_FALSE(shell->skinChangePending);
    EXPECT_EQ(shell->registry().windows().size(), 2u);
}

TEST_F(ShellTest, ABrokenSkinPageLeavesAWindowThatCanBeClosed) {
    page("skins/default/skin.htm", "throw new Error('broken'); window.external.WindowShape(1, 2);",
         "<p>broken");
    writeText(program.file("skins/default/screen.htm"), "<html><script>this is not script</script></html>");
    shell.reset();
    makeShell();
    EXPECT_FALSE(main().windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(main().isVisible());
    main().close();
    ASSERT_TRUE(waitUntil([&] { return ended; }));
}

TEST_F(ShellTest, AMissingSkinStillGivesAWindowThatCanBeClosed) {
    fs::remove_all(program.file("skins"));
    shell.reset();
    settings.reset();
    settings =
        std::make_unique<SettingsStore>(ProgramKind::Gardivo, registry, reporter, program.dir(), home.path());
    companions = std::make_unique<CompanionLauncher>(*settings, reporter);
    MonitorShell::Options options;
    options.showSplash = false;
    options.listen = false;
    options.opener = &opener;
    shell = std::make_unique<MonitorShell>(*settings, reporter, *companions, options);
    QObject::connect(shell.get(), &MonitorShell::ended, [this] { ended = true; });
    // The end of the first load is said by this shell as well as by the one before it.
    int loads = 0;
    QObject::connect(shell.get(), &MonitorShell::mainPageLoaded, [&] { ++loads; });
    shell->start();
    ASSERT_TRUE(waitUntil([&] { return !main().url().isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return loads == 1; }));
    spin(500);
    EXPECT_TRUE(main().isVisible());
    EXPECT_FALSE(main().hasBridge());
    main().close();
    ASSERT_TRUE(waitUntil([&] { return ended; }));
}

TEST_F(LiveShellTest, TheTracingBoxTakesPicturesAndClipsWhileTheTraceWaits) {
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(waitUntil([&] { return pageLog(main()).contains("DescChange(dimension,320x240)"); }));
    EXPECT_EQ(resultOf(main(), "Start()"), 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(main()).contains("DescChange(mode,WatchDog)"); }));
    const std::string evidence = settings->evidenceDirectory();
    ASSERT_FALSE(evidence.empty());

    shell->sink().openTracingBox();
    ASSERT_TRUE(waitUntil([&] { return shell->tracingBox() != nullptr; }));
    TracingBox& box = *shell->tracingBox();
    EXPECT_EQ(box.windowTitle(), "Tracing Box");
    EXPECT_EQ(box.parentWidget(), &main()); // owned by the ControlPanel window
    for (int id : {TracingBox::SnapShot, TracingBox::Capture, TracingBox::SendMail, TracingBox::PhoneCall})
        EXPECT_TRUE(box.button(id)->isVisible() && box.button(id)->isEnabled()) << id;
    EXPECT_FALSE(box.button(TracingBox::StopTracing)->isVisible());
    EXPECT_FALSE(box.button(TracingBox::StopTracing)->isEnabled());
    EXPECT_EQ(box.button(TracingBox::SnapShot)->text(), "SnapShot");

    box.button(TracingBox::SnapShot)->click();
    box.button(TracingBox::SnapShot)->click();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(evidence + "/manual002.bmp"); }));
    EXPECT_TRUE(isBitmapOf(evidence + "/manual001.bmp", 320, 240));
    EXPECT_TRUE(isBitmapOf(evidence + "/manual002.bmp", 320, 240));
    bool pauseSet = false;
    onEngine([&](EngineHost& host) { pauseSet = host.engine()->pauseTracingEvent().isSet(); });
    EXPECT_TRUE(pauseSet); // the trace goes on once the picture is taken
    // Just after the picture changes size there is none of the new size yet: the snapshot waits
    // for one rather than failing without a word and leaving a gap in the numbers.
    bool taken = false;
    onEngine([&](EngineHost& host) {
        host.setVideoRect(0, 0, 160, 120);
        taken = host.manualSnapshot();
    });
    EXPECT_TRUE(taken);
    EXPECT_TRUE(isBitmapOf(evidence + "/manual003.bmp", 160, 120));
    onEngine([&](EngineHost& host) { host.setVideoRect(0, 0, 320, 240); });

    // A clip: the buttons wait while it is written.
    box.button(TracingBox::Capture)->click();
    ASSERT_TRUE(waitUntil([&] { return !box.button(TracingBox::SnapShot)->isEnabled(); }));
    EXPECT_FALSE(box.button(TracingBox::Capture)->isEnabled());
    EXPECT_TRUE(waitUntil([&] {
        std::error_code ec;
        return fs::file_size(evidence + "/manual001.avi", ec) > 0 && !ec;
    }));
    onEngine([&](EngineHost& host) { pauseSet = host.engine()->pauseTracingEvent().isSet(); });
    EXPECT_TRUE(pauseSet);
    shell->postToWindow(kTracingBox, WM_APP_CAPTURE_IDLE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return box.button(TracingBox::SnapShot)->isEnabled(); }));

    // No e-mail or dial program in this program directory: the user is told.
    box.button(TracingBox::SendMail)->click();
    box.button(TracingBox::PhoneCall)->click();
    ASSERT_TRUE(waitUntil([&] { return reporter.texts().size() >= 2; }));
    const auto texts = reporter.texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Failed to launch Tavrin Email program...."),
              texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Failed to launch Tavrin Dial program...."), texts.end());

    shell->sink().closeTracingBox();
    ASSERT_TRUE(waitUntil([&] { return shell->tracingBox() == nullptr; }));

    // The end of the program finishes the clip.
    shell->shutDown();
    const auto clip = readBytes(evidence + "/manual001.avi");
    ASSERT_GE(clip.size(), 12u);
    EXPECT_EQ(std::string(clip.begin(), clip.begin() + 4), "RIFF");
}

TEST(WebEngine, TheProgramsSwitchesJoinTheUsersWithoutReplacingThem) {
    EXPECT_EQ(withProgramSwitches(""), "--process-per-site --no-unsandboxed-zygote");
    // The user's own switches stay, in their order, and ours are not given twice.
    EXPECT_EQ(withProgramSwitches("--disable-gpu --process-per-site"),
              "--disable-gpu --process-per-site --no-unsandboxed-zygote");
    EXPECT_EQ(withProgramSwitches("--no-unsandboxed-zygote=1 --js-flags=--lite-mode"),
              "--no-unsandboxed-zygote=1 --js-flags=--lite-mode --process-per-site");
}

TEST(Reporter, QuestionsFromTheEngineThreadWaitForTheUserButNeverForTheEnd) {
    ensureWebApplication();
    ShellReporter reporter;
    QPointer<QMessageBox> open;
    reporter.onBox = [&](QMessageBox& box) { open = &box; };
    const Message question{"Press Yes to confirm", "Tavrin Gardivo", MessageIcon::Question,
                           MessageButtons::YesNo, false};
    // The user answers; the GUI thread runs on meanwhile.
    std::atomic<int> answer{-1};
    std::thread engine([&] { answer = static_cast<int>(reporter.show(question)); });
    ASSERT_TRUE(waitUntil([&] { return open && open->isVisible(); }));
    EXPECT_EQ(open->text(), "Press Yes to confirm");
    EXPECT_EQ(answer, -1);
    open->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(waitUntil([&] { return answer != -1; }));
    engine.join();
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::Yes));

    // A box with only OK never holds the caller.
    EXPECT_EQ(reporter.show({"Disk is gonna be full!", "", MessageIcon::Warning, MessageButtons::Ok, false}),
              MessageAnswer::Ok);
    ASSERT_TRUE(waitUntil([&] { return open && open->text() == "Disk is gonna be full!"; }));
    open->close();

    // The program ends while a question is open: it is answered with the way out, its box goes.
    answer = -1;
    std::thread asking([&] {
        answer = static_cast<int>(
            reporter.show({"Go on?", "", MessageIcon::Question, MessageButtons::OkCancel, false}));
    });
    ASSERT_TRUE(waitUntil([&] { return open && open->text() == "Go on?" && open->isVisible(); }));
    reporter.setEnding();
    ASSERT_TRUE(waitUntil([&] { return answer != -1; }));
    asking.join();
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::Cancel));
    EXPECT_TRUE(waitUntil([&] { return !open; }));
    // And later questions are not asked at all.
    std::thread late([&] { answer = static_cast<int>(reporter.show(question)); });
    late.join();
    EXPECT_EQ(answer, static_cast<int>(MessageAnswer::No));
}

TEST(StartUp, ASecondCopyLeavesSilentlyAndAnotherProgramsLockIsReported) {
    TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    RecordingReporter reporter;

    StartUpChecks refused;
    refused.isAdministrator = [] { return false; };
    EXPECT_EQ(passStartUpChecks(reporter, refused), nullptr);
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "Since the login account does not have the required priviledge to make "
                                   "application work properly,\nprogram will now exit...");
    EXPECT_EQ(reporter.messages()[0].caption, "Tavrin Gardivo");
    EXPECT_EQ(reporter.messages()[0].icon, MessageIcon::Warning);
    reporter.clear();

    StartUpChecks checks;
    checks.isAdministrator = [] { return true; };
    checks.attempts = 2;
    bool gardivoAnswers = true;
    checks.otherCopyAnswers = [&] { return gardivoAnswers; };
    auto first = passStartUpChecks(reporter, checks);
    ASSERT_NE(first, nullptr);
    // A second gardivo: the running one answers, nothing is said.
    EXPECT_EQ(passStartUpChecks(reporter, checks), nullptr);
    EXPECT_TRUE(reporter.messages().empty());
    // The lock held, but no gardivo answers: the sibling recorder holds it.
    gardivoAnswers = false;
    EXPECT_EQ(passStartUpChecks(reporter, checks), nullptr);
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_EQ(reporter.texts()[0], "Another user is using Tavrin Recordo!");
    EXPECT_EQ(reporter.messages()[0].caption, "Tavrin Recordo");
    // Once the first copy ends, the next one runs.
    first.reset();
    EXPECT_NE(passStartUpChecks(reporter, checks), nullptr);
}

TEST_F(ShellTest, OtherProgramsReachTheRunningGardivoThroughItsEndpoint) {
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0700);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    ASSERT_TRUE(shell->listen());
    const QString probe = QString::fromStdString(std::string(GARDIVO_BINARY_DIR) + "/endpoint_probe");
    const auto run = [&](const QStringList& args, QString* out = nullptr) {
        QProcess process;
        process.start(probe, args);
        EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 15000));
        if (out)
            *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        return process.exitCode();
    };
    QString answer;
    EXPECT_EQ(run({"exists", MonitorShell::kEndpointName}), 0);
    // A send waits until the engine thread has handled it: the settings were read again.
    ASSERT_TRUE(settings->save());
    settings->settings().DetectInterval = 12345;
    EXPECT_EQ(run({"send", MonitorShell::kEndpointName, QString::number(WM_APP_SETTINGS_CHANGED), "0", "0"},
                  &answer),
              0);
    EXPECT_EQ(answer, "1");
    bool reloaded = false;
    shell->engine().post(
        [&](EngineHost& host) { reloaded = host.settings().settings().DetectInterval != 12345; });
    EXPECT_TRUE(waitUntil([&] { return reloaded; }));
    // Posts do not wait; messages nobody outside has reason to send are refused.
    EXPECT_EQ(run({"post", MonitorShell::kEndpointName, QString::number(WM_APP_PROC_AMP), "1001", "5"}), 0);
    EXPECT_EQ(run({"send", MonitorShell::kEndpointName, QString::number(WM_CLOSE), "0", "0"}, &answer), 0);
    EXPECT_EQ(answer, "0");
    EXPECT_TRUE(main().isVisible());
    EXPECT_EQ(run({"send", "TfrmSetup", QString::number(WM_APP_SETUP_OK), "0", "0"}), 1); // no wizard open

    if (::geteuid() == 0) {
        // Another user is turned away even where the file system would let it in.
        ::chmod(runtime.path().c_str(), 0755);
        ::chmod(LocalEndpoint::pathFor(MonitorShell::kEndpointName).c_str(), 0777);
        EXPECT_EQ(run({"--as-nobody", "send", MonitorShell::kEndpointName,
                       QString::number(WM_APP_SETTINGS_CHANGED), "0", "0"}),
                  1);
    }
}

TEST(Program, ALostDisplayEndsItInOrderWithTheSettingsWritten) {
    ensureWebApplication();
    // A display of its own, to be taken away; and a program directory of its own.
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(waitUntil([&] { return xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning; }, 10000));
    const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
    TempDir program, runtime, registryDir, home;
    ::chmod(runtime.path().c_str(), 0700);
    std::filesystem::copy(GARDIVO_PROGRAM_DIR, program.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(program.file("watchdog.mdb"));
    // Watching the Test Pattern, which walks in at once; the alarm's clip runs until something
    // ends it.
    writeText(program.file("sources.txt"),
              "Quick|gardivotestsrc still-seconds=1 move-seconds=0.5 rest-seconds=30\n");
    auto s = defaultSettings(ProgramKind::Wizard, program.path());
    setFieldText(s.WorkingDirectory, home.file("work"));
    s.ActionFlags = 1;
    s.RecordTimeLimit = 0;
    s.TracingMode = 0;
    s.StopRule = 0;
    const auto record = s.toBytes();
    writeBytes(program.file("watchdog.cfg"), std::vector<uint8_t>(record.begin(), record.end()));
    const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    std::filesystem::last_write_time(program.file("watchdog.cfg"), past);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path()));
    environment.insert("TAVRIN_REGISTRY_DIR", QString::fromStdString(registryDir.path()));
    environment.insert("HOME", QString::fromStdString(home.path()));
    environment.insert("GARDIVO_TIMING", "1");
    environment.insert("GARDIVO_SOURCE", "Quick");
    environment.insert("GARDIVO_START_WATCHING", "1");
    QProcess gardivo;
    gardivo.setProcessEnvironment(environment);
    gardivo.setProcessChannelMode(QProcess::MergedChannels);
    gardivo.start(QString::fromStdString(program.file("gardivo")), {});
    QByteArray said;
    ASSERT_TRUE(waitUntil(
        [&] {
            said += gardivo.readAll();
            return said.contains("main page loaded") || gardivo.state() == QProcess::NotRunning;
        },
        30000))
        << said.toStdString();
    // The alarm's clip is being written.
    std::string clip;
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code ec;
            for (const auto& e : std::filesystem::recursive_directory_iterator(home.file("work"), ec))
                if (e.path().extension() == ".avi" && e.file_size(ec) > 300000)
                    clip = e.path().string();
            return !clip.empty();
        },
        30000));
    // The display goes, as when a logout ends XWayland.
    xvfb.kill();
    xvfb.waitForFinished(5000);
    ASSERT_TRUE(waitUntil([&] { return gardivo.state() == QProcess::NotRunning; }, 30000));
    // The settings were written, and the clip was finished: it has its index and plays.
    EXPECT_NE(std::filesystem::last_write_time(program.file("watchdog.cfg")), past);
    EXPECT_EQ(std::filesystem::file_size(program.file("watchdog.cfg")), WatchdogSettings::kSize);
    gst_init(nullptr, nullptr);
    gst_registry_scan_path(gst_registry_get(), GARDIVO_PROGRAM_DIR);
    EXPECT_GT(playedFrames(clip), 10) << clip;
    // Its headers count the frames, which only the finishing of the file writes.
    const auto info = readTrv2StreamInfo(clip);
    ASSERT_TRUE(info);
    EXPECT_GT(info->frames, 10u);
}

TEST(Program, ASecondGardivoExitsAndTheFirstKeepsRunning) {
    ensureWebApplication();
    TempDir runtime;
    TempDir registryDir;
    ::chmod(runtime.path().c_str(), 0700);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path()));
    environment.insert("TAVRIN_REGISTRY_DIR", QString::fromStdString(registryDir.path()));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    const QString gardivo = QString::fromStdString(std::string(GARDIVO_PROGRAM_DIR) + "/gardivo");

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(gardivo, {});
    ASSERT_TRUE(waitUntil([&] { return LocalEndpoint::exists(MonitorShell::kEndpointName, 200); }, 30000));

    // The second copy leaves without touching the settings file.
    const std::string cfg = std::string(GARDIVO_PROGRAM_DIR) + "/watchdog.cfg";
    if (!std::filesystem::exists(cfg))
        writeBytes(cfg, std::vector<uint8_t>(WatchdogSettings::kSize, 0));
    const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    std::filesystem::last_write_time(cfg, past);
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(gardivo, {});
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(std::filesystem::last_write_time(cfg), past);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(LocalEndpoint::exists(MonitorShell::kEndpointName, 500));

    // The end of the session closes it the way Exit does.
    first.terminate();
    ASSERT_TRUE(waitUntil([&] { return first.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(LocalEndpoint::exists(MonitorShell::kEndpointName, 200));
}
