// Gardivo as a user meets it: the shipped skins in the real web engine, the real pipeline on a
// quick Test Pattern, driven by clicking the pages' own buttons and the program's menus, and
// checked by reading what the pages show.

#include "LiveSkinKit.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/shell/TrayIcon.h"
#include "monitor/shell/VideoWidget.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>

#include <filesystem>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

TEST_F(LiveSkinTest, WatchingGivesAlarmsThatTheHistoryWindowShowsAndDeletes) {
    start();
    SkinWindow& panel = main();
    // The live picture is painted in the video window.
    ASSERT_NE(shell->videoWidget(), nullptr);
    EXPECT_EQ(shell->videoWidget()->geometry(), QRect(16, 40, 640, 480));
    ASSERT_TRUE(waitUntil([&] { return shell->videoWidget()->paintedFrames() > 10; }));

    click(panel, "#start");
    ASSERT_TRUE(waitUntil([&] { return text(panel, "mode") == "Watching"; }));
    EXPECT_EQ(text(panel, "start-label"), "Stop");
    EXPECT_EQ(shell->tray().tip(), "Detecting...");

    // The figure walks in: an alarm, with its picture, clip and history row; the main page opens
    // the history window, which lists the run.
    ASSERT_TRUE(waitUntil([&] { return conditions() >= 1; }, 30000));
    const std::string evidence = settings->evidenceDirectory();
    const std::string group = fs::path(evidence).filename().string();
    EXPECT_TRUE(fs::exists(evidence + "/error001.bmp"));
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) != nullptr; }));
    SkinWindow& history = *shell->findWindow(kHistory);
    ASSERT_TRUE(waitUntil(
        [&] { return listed(history, "groups", "data-group").contains(QString::fromStdString(group)); }));
    ASSERT_TRUE(waitUntil(
        [&] { return listed(history, "conditions", "data-description").contains("Condition001"); }));
    EXPECT_TRUE(waitUntil([&] { return fs::exists(evidence + "/error001.avi"); }));
    // The picture shown is the alarm's bitmap, as the page loaded it.
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(history, "document.getElementById('evidence').naturalHeight").toInt() == 960;
    }));
    EXPECT_TRUE(evaluate(history, "document.getElementById('evidence').src").toString().contains("/error00"));

    // A second alarm, then stop.
    ASSERT_TRUE(waitUntil([&] { return conditions() >= 2; }, 30000));
    click(panel, "#start");
    ASSERT_TRUE(waitUntil([&] { return text(panel, "mode") == "Standing by"; }));
    EXPECT_EQ(shell->tray().tip(), "Tavrin Gardivo");
    ASSERT_TRUE(waitUntil(
        [&] { return listed(history, "conditions", "data-description").contains("Condition002"); }));
    screenshot("history");
    HistoryStore rows(program.dir());
    const size_t before = rows.allRecords().size();
    ASSERT_GE(before, 2u);

    // Delete one condition: asked first, then gone from the page, the table and the disk.
    click(history, "#conditions li[data-description='Condition001']");
    click(history, "#delete");
    ASSERT_FALSE(evaluate(history, "document.getElementById('confirm').hidden").toBool());
    click(history, "#confirm-yes");
    ASSERT_TRUE(waitUntil(
        [&] { return !listed(history, "conditions", "data-description").contains("Condition001"); }));
    EXPECT_EQ(rows.allRecords().size(), before - 1);
    EXPECT_FALSE(fs::exists(evidence + "/error001.bmp"));
    EXPECT_FALSE(fs::exists(evidence + "/error001.avi"));
    EXPECT_TRUE(fs::exists(evidence + "/error002.bmp"));

    // Keep, then delete the whole run.
    click(history, "#delete-group");
    click(history, "#confirm-no");
    EXPECT_TRUE(listed(history, "groups", "data-group").contains(QString::fromStdString(group)));
    click(history, "#delete-group");
    click(history, "#confirm-yes");
    ASSERT_TRUE(waitUntil([&] { return listed(history, "groups", "data-group").isEmpty(); }));
    EXPECT_TRUE(rows.allRecords().empty());
    EXPECT_FALSE(fs::exists(evidence + "/error002.bmp"));
    EXPECT_FALSE(text(history, "empty").isEmpty());

    // Play and folder hand the files to the desktop; closing the history clears its flag.
    click(history, "#close");
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) == nullptr; }));
    EXPECT_FALSE(shell->historyOpen);
}

TEST_F(LiveSkinTest, TheHistoryFollowsTheDiskAndHandsFilesToTheDesktop) {
    const std::string working = home.file("Gardivo");
    HistoryStore rows(program.dir());
    for (const char* group : {"2026.12.01_08.00.00", "2026.12.02_09.00.00"}) {
        fs::create_directories(working + "/" + group);
        writeText(working + "/" + group + "/error001.bmp", "BM");
        writeText(working + "/" + group + "/error001.avi", "RIFF");
        rows.AddRecord(group,
                       {group, "2026/12/01 08:00:05", "released at 08:01:00", "Condition001",
                        working + "/" + group + "/error001.bmp", working + "/" + group + "/error001.avi"});
    }
    start();
    click(main(), "#history");
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) != nullptr; }));
    SkinWindow& history = *shell->findWindow(kHistory);
    ASSERT_TRUE(waitUntil([&] { return listed(history, "groups", "data-group").size() == 2; }));
    // Newest run first, and chosen.
    EXPECT_EQ(listed(history, "groups", "data-group").front(), "2026.12.02_09.00.00");
    EXPECT_EQ(text(history, "remark"), "released at 08:01:00");

    click(history, "#play");
    click(history, "#folder");
    ASSERT_TRUE(waitUntil([&] { return opener.opened.size() == 2; }));
    EXPECT_EQ(opener.opened[0], working + "/2026.12.02_09.00.00/error001.avi");
    EXPECT_EQ(opener.opened[1], working + "/2026.12.02_09.00.00");

    // A run's folder deleted in the file manager leaves the page.
    fs::remove_all(working + "/2026.12.01_08.00.00");
    ASSERT_TRUE(waitUntil([&] { return listed(history, "groups", "data-group").size() == 1; }));
    EXPECT_EQ(listed(history, "groups", "data-group").front(), "2026.12.02_09.00.00");
    EXPECT_EQ(rows.allRecords().size(), 1u);
}

TEST_F(LiveSkinTest, AFirstStartShowsNoBoxAndTheHistoryFollowsTheDiskFromTheStart) {
    const std::string working = home.file("Gardivo");
    ASSERT_FALSE(fs::exists(working)); // a new user: no working directory yet
    start();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(working); }));
    EXPECT_TRUE(reporter.texts().empty()) << ::testing::PrintToString(reporter.texts());
    // The watcher runs: a run's folder deleted by hand leaves the history page.
    const std::string group = "2026.12.03_10.00.00";
    fs::create_directories(working + "/" + group);
    writeText(working + "/" + group + "/error001.bmp", "BM");
    HistoryStore(program.dir())
        .AddRecord(group, {group, "2026/12/03 10:00:05", "", "Condition001",
                           working + "/" + group + "/error001.bmp", ""});
    click(main(), "#history");
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) != nullptr; }));
    SkinWindow& history = *shell->findWindow(kHistory);
    ASSERT_TRUE(waitUntil([&] { return listed(history, "groups", "data-group").size() == 1; }));
    fs::remove_all(working + "/" + group);
    EXPECT_TRUE(waitUntil([&] { return listed(history, "groups", "data-group").empty(); }));
}

TEST_F(LiveSkinTest, ARegionIsDraggedOverThePicture) {
    start();
    SkinWindow& screen = *shell->findWindow(kScreen);
    QWidget* input = screen.view()->focusProxy();
    ASSERT_NE(input, nullptr);
    bool rectangleSeen = false;
    reporter.onQuestion = [&](const Message& message) {
        if (message.buttons != MessageButtons::YesNo)
            return;
        // The rectangle is on the picture while the user is asked to confirm it.
        const QImage overlay = shell->overlay().drawing().image;
        const auto drawn = [&](int x, int y) {
            for (int dy = -1; dy <= 1; ++dy)
                if (overlay.pixelColor(x, y + dy).red() > 200 && overlay.pixelColor(x, y + dy).alpha() > 200)
                    return true;
            return false;
        };
        rectangleSeen = drawn(250, 121) && drawn(250, 319) && overlay.pixelColor(250, 220).alpha() == 0;
        QMetaObject::invokeMethod(
            shell.get(),
            [] {
                spin(300);
                screenshot("region");
            },
            Qt::BlockingQueuedConnection);
    };
    click(main(), "#region");
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(main(), "document.body.classList.contains('selecting')").toBool(); }));
    const auto mouse = [&](QEvent::Type type, QPoint client, Qt::MouseButtons buttons) {
        const QPoint global = screen.mapToGlobal(client);
        QMouseEvent event(type, QPointF(input->mapFromGlobal(global)), QPointF(global),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &event);
    };
    mouse(QEvent::MouseButtonPress, QPoint(16 + 100, 40 + 80), Qt::LeftButton);
    for (int step = 1; step <= 10; ++step) {
        mouse(QEvent::MouseMove, QPoint(16 + 100 + 30 * step, 40 + 80 + 20 * step), Qt::LeftButton);
        spin(20);
    }
    mouse(QEvent::MouseButtonRelease, QPoint(16 + 400, 40 + 280), Qt::NoButton);
    ASSERT_TRUE(waitUntil([&] { return text(main(), "region-state") == "a part of the picture"; }));
    EXPECT_TRUE(rectangleSeen);
    EXPECT_FALSE(evaluate(main(), "document.body.classList.contains('selecting')").toBool());
    bool regionMode = false;
    bool done = false;
    shell->engine().post([&](EngineHost& host) {
        const auto& r = host.engine()->selectionRect();
        regionMode = host.settings().settings().RegionMode == 1 && r.x1 == 116 && r.y1 == 120 &&
                     r.x2 == 416 && r.y2 == 320;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_TRUE(regionMode);
}

TEST_F(LiveSkinTest, TheDelayedStartShowsItsNoticeOnThePicture) {
    settings->settings().StartDelay = 2;
    start();
    click(main(), "#start");
    // The notice is drawn over the picture while the program waits, and the mode stays.
    ASSERT_TRUE(waitUntil(
        [&] {
            const QImage overlay = shell->overlay().drawing().image;
            if (overlay.isNull())
                return false;
            for (int x = 16; x < 316; x += 2)
                for (int y = 40 + 460; y < 40 + 480 && y < overlay.height(); ++y)
                    if (isNoticeYellow(overlay.pixelColor(x, y)))
                        return true;
            return false;
        },
        5000));
    EXPECT_EQ(text(main(), "mode"), "Standing by");
    // And it is painted over the live picture (the notice sits in the picture's bottom rows).
    const QImage painted = shell->videoWidget()->grab().toImage();
    bool paintedYellow = false;
    for (int x = 0; x < 300 && !paintedYellow; x += 2)
        for (int y = 460; y < 480 && y < painted.height(); ++y)
            paintedYellow |= isNoticeYellow(painted.pixelColor(x, y));
    EXPECT_TRUE(paintedYellow);
    ASSERT_TRUE(waitUntil([&] { return text(main(), "mode") == "Watching"; }, 6000));
    // The notice is gone.
    const QImage overlay = shell->overlay().drawing().image;
    bool yellow = false;
    for (int x = 16; x < 316 && !yellow; ++x)
        for (int y = 40 + 460; y < 40 + 480 && y < overlay.height(); ++y)
            yellow |= isNoticeYellow(overlay.pixelColor(x, y));
    EXPECT_FALSE(yellow);
    // From the tray menu: Stop.
    shell->tray().action(kCommandStopWatchdog)->trigger();
    ASSERT_TRUE(waitUntil([&] { return text(main(), "mode") == "Standing by"; }));
    // The Stop cut the waits short once; later ones (the settle after a clip or a source
    // switch during a trace) wait their time again.
    bool interrupted = true;
    bool done = false;
    shell->engine().post([&](EngineHost& host) {
        interrupted = host.waitsInterrupted();
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_FALSE(interrupted);
}

TEST_F(LiveSkinTest, AnotherSkinReplacesThePagesAndQuittingSavesTheSettings) {
    start();
    click(main(), "#history");
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) != nullptr; }));
    SkinWindow& screen = *shell->findWindow(kScreen);
    screenshot("default");

    shell->showSkinMenu(main(), QPoint(50, 50));
    ASSERT_NE(shell->popupMenu(), nullptr);
    QAction* compact = nullptr;
    for (QAction* item : shell->popupMenu()->actions())
        if (item->text() == "Compact")
            compact = item;
    ASSERT_NE(compact, nullptr);
    shell->popupMenu()->hide();
    compact->trigger();
    // The history window closes, the main page and the video page are the Compact skin's.
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) == nullptr; }));
    ASSERT_TRUE(waitUntil([&] { return evaluate(main(), "!!document.querySelector('.dial')").toBool(); }));
    ASSERT_TRUE(waitUntil([&] { return screen.shapeSize() == QSize(352, 300) && screen.isVisible(); }));
    EXPECT_EQ(main().shapeSize(), QSize(300, 330));
    EXPECT_TRUE(main().isVisible());
    ASSERT_TRUE(waitUntil([&] { return shell->videoWidget()->geometry() == QRect(16, 36, 320, 240); }));
    ASSERT_TRUE(waitUntil([&] { return text(main(), "picture-size") == QString("320 \u00d7 240"); }));
    EXPECT_EQ(shell->currentSkin, "Compact");
    click(main(), "#history");
    ASSERT_TRUE(waitUntil([&] { return shell->findWindow(kHistory) != nullptr; }));
    SkinWindow& history = *shell->findWindow(kHistory);
    ASSERT_TRUE(waitUntil([&] { return history.isPageLoaded() && history.shapeSize() == QSize(600, 380); }));
    EXPECT_TRUE(evaluate(history, "document.body.className").toString().contains("history-window"));
    spin(500);
    screenshot("compact");

    // Minimise to the tray (none on this desktop: minimised) and back.
    settings->settings().WindowStyle = 2;
    click(main(), "#minimize");
    ASSERT_TRUE(waitUntil([&] { return main().isMinimized() && !screen.isVisible(); }));
    WindowMessageEvent trayClick(WM_APP_TRAY, 1, WM_LBUTTONDOWN);
    shell->windowProc(main(), trayClick);
    ASSERT_TRUE(waitUntil([&] { return screen.isVisible(); }));

    // Quit from the page: everything closes, and the settings are written.
    settings->settings().Sensitivity = 77;
    click(main(), "#close");
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    shell.reset();
    companions.reset();
    settings.reset();
    const auto saved = readBytes(program.file("watchdog.cfg"));
    ASSERT_EQ(saved.size(), sizeof(WatchdogSettings));
    WatchdogSettings record{};
    std::memcpy(&record, saved.data(), sizeof record);
    EXPECT_EQ(record.Sensitivity, 77);
}
