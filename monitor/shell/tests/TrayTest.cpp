// What the program does through its notification-area icon, on a desktop that has one: a private
// X display with a real tray host, the shipped skins and the Test Pattern. The icon is clicked and
// its menu chosen from as a user does.

#include "LiveSkinKit.h"
#include "TrayHost.h"
#include "monitor/shell/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include <memory>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

class TrayTest : public LiveSkinTest {
protected:
    static void SetUpTestSuite() {
        // The display with the tray comes first: the application connects to it as it starts.
        // Both stay until the process ends, as the application stays on its display.
        host = std::make_unique<TrayHost>();
        ensureWebApplication();
    }

    void SetUp() override {
        LiveSkinTest::SetUp();
        withTray = true;
        settings->settings().WindowStyle = 2; // "Minimize" goes to the tray
        ASSERT_TRUE(waitUntil([] { return TrayIcon::isAvailable(); }, 10000))
            << "the tray host never took the notification area";
    }

    // The icon as it is docked in the notification area, while it is there.
    static QWidget* icon() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0 && widget->isVisible())
                return widget;
        return nullptr;
    }

    static void press(QWidget& target, QPointF at, Qt::MouseButton button) {
        const QPointF global = target.mapToGlobal(at);
        QMouseEvent down(QEvent::MouseButtonPress, at, global, button, button, Qt::NoModifier);
        QPointer<QWidget> guard(&target);
        QApplication::sendEvent(&target, &down);
        // A click on the icon takes it out of the tray: its window may be gone by now.
        if (!guard)
            return;
        QMouseEvent up(QEvent::MouseButtonRelease, at, global, button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &up);
    }

    static void clickIcon(Qt::MouseButton button) {
        QWidget* target = icon();
        ASSERT_NE(target, nullptr);
        press(*target, QPointF(target->width() / 2.0, target->height() / 2.0), button);
    }

    // Opens the icon's menu with a right click and clicks an item; false when the item cannot
    // be chosen (the menu did not open, or the item is greyed).
    bool choose(int command) {
        clickIcon(Qt::RightButton);
        QMenu* menu = shell->tray().menu();
        if (!waitUntil([&] { return menu->isVisible(); }, 3000))
            return false;
        QAction* item = shell->tray().action(command);
        bool chosen = false;
        const auto connection = QObject::connect(item, &QAction::triggered, [&] { chosen = true; });
        press(*menu, QPointF(menu->actionGeometry(item).center()), Qt::LeftButton);
        QObject::disconnect(connection);
        menu->hide();
        return chosen;
    }

    bool startWaiting() { return shell->engine().startWaiting(); }

    size_t windowCount() { return shell->registry().windows().size(); }

    static inline std::unique_ptr<TrayHost> host;
};

TEST_F(TrayTest, MinimisingPutsEveryWindowInTheTrayAndAClickOnTheIconBringsThemBack) {
    start();
    SkinWindow& screen = *shell->findWindow(kScreen);
    EXPECT_EQ(icon(), nullptr); // no icon while the windows are up
    click(main(), "#minimize");
    ASSERT_TRUE(waitUntil([&] { return icon() && !main().isVisible() && !screen.isVisible(); }));
    EXPECT_EQ(shell->tray().tip(), "Tavrin Gardivo");
    spin(300); // the tray host paints the docked icon
    screenshot("tray");

    clickIcon(Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return main().isVisible() && screen.isVisible(); }));
    // The icon leaves the tray once the windows are back.
    EXPECT_TRUE(waitUntil([&] { return icon() == nullptr; }));
    EXPECT_TRUE(host->running());
}

TEST_F(TrayTest, StopFromTheTrayMenuCallsOffAStartThatWaitsOutItsDelay) {
    settings->settings().StartDelay = 600;
    start();
    click(main(), "#minimize");
    ASSERT_TRUE(waitUntil([&] { return icon() != nullptr; }));
    ASSERT_TRUE(choose(kCommandStartWatchdog));
    ASSERT_TRUE(waitUntil([&] { return startWaiting(); }));
    // While it waits, Start is greyed and Stop is offered.
    ASSERT_TRUE(choose(kCommandStopWatchdog));
    ASSERT_TRUE(waitUntil([&] { return !startWaiting(); }, 5000)) << "the Stop waited for the delay to end";
    // Watching never begins, and the engine goes on serving the windows.
    int mode = -1;
    bool done = false;
    shell->engine().post([&](EngineHost& host) {
        mode = host.engine() ? host.engine()->mode() : -1;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(mode, StandBy);
    EXPECT_FALSE(choose(kCommandStopWatchdog)); // greyed again
}

TEST_F(TrayTest, TheHistoryWindowIsOpenedOnceHoweverOftenItIsAskedFor) {
    start();
    const size_t before = windowCount();
    // Two records in quick succession, before the history page has loaded: the first opens the
    // window, the second selects its record in it.
    shell->postToWindow(kControlPanel, WM_APP_NEW_RECORD, 0, 0);
    shell->postToWindow(kControlPanel, WM_APP_NEW_RECORD, 0, 0);
    ASSERT_TRUE(waitUntil([&] {
        SkinWindow* history = shell->findWindow(kHistory);
        return history && history->isPageLoaded();
    }));
    spin(500);
    EXPECT_EQ(windowCount(), before + 1);
    SkinWindow& history = *shell->findWindow(kHistory);

    // In the tray and back: the history window comes back with the others.
    click(main(), "#minimize");
    ASSERT_TRUE(waitUntil([&] { return icon() && !history.isVisible(); }));
    clickIcon(Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return history.isVisible(); }));

    // Put away on its own and asked for again from the panel: the same window shows.
    EXPECT_EQ(resultOf(history, "Minimize()"), 0);
    ASSERT_FALSE(history.isVisible());
    click(main(), "#history");
    ASSERT_TRUE(waitUntil([&] { return history.isVisible(); }));
    EXPECT_EQ(windowCount(), before + 1);
}

} // namespace
