// The skin windows of MonitorShell: content windows opened by pages, the live picture's place,
// showing, hiding and minimising them (to the tray where the desktop has one), scripts for their
// pages, and a window's close.

#include "MonitorShell.h"

#include "SkinWindow.h"
#include "TrayIcon.h"
#include "VideoWidget.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/SkinPaths.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace gardivo {

int MonitorShell::createContentWindow(const std::string& page) {
    if (SkinWindow* history = findWindow(kHistory)) {
        history->showNormal();
        history->raise();
        return 0;
    }
    if (skinChangePending) {
        // The new skin's main page asks for its video page: the video window stays and shows it.
        if (SkinWindow* screen = findWindow(kScreen))
            if (const auto file = programFile(programDirectory(), page))
                screen->navigate(QUrl::fromLocalFile(QString::fromStdString(*file)));
        skinChangePending = false;
        return 0;
    }
    // A page of the program directory, or a web address; nothing else is opened.
    QUrl url;
    if (const auto file = programFile(programDirectory(), page)) {
        url = QUrl::fromLocalFile(QString::fromStdString(*file));
    } else {
        const QUrl address(QString::fromStdString(page), QUrl::StrictMode);
        if (!address.isValid() || (address.scheme() != "http" && address.scheme() != "https") ||
            address.host().isEmpty())
            return 7;
        // A page from the web is never shown without the browser's sandbox around it.
        if (!m_options.remoteContent) {
            if (!m_remoteRefusalSaid) {
                m_remoteRefusalSaid = true;
                m_reporter.show({"Gardivo opens no pages from the web while the browser's sandbox is off (it "
                                 "is, for the root account). Run Gardivo as yourself to open " +
                                     page + ".",
                                 Reporter::kCaption, MessageIcon::Warning, MessageButtons::Ok, false});
            }
            return 7;
        }
        url = address;
    }
    SkinWindow* window = makeWindow(false);
    // The first content window of the run is the video window.
    if (!m_videoWindowMade) {
        m_videoWindowMade = true;
        window->setVideoWindow();
        m_videoWindow = window;
        window->post(WM_USER);
    }
    window->show();
    window->navigate(url);
    return 0;
}

void MonitorShell::placeVideo(const QRect& rect) {
    SkinWindow* window = videoWindow();
    if (!window)
        return;
    if (!m_videoWidget)
        m_videoWidget = new VideoWidget(window, m_preview, m_overlay);
    m_preview.setSize(rect.width(), rect.height());
    m_videoWidget->place(rect);
}

void MonitorShell::showAll(bool show) {
    for (SkinWindow* window : m_registry.windows()) {
        if (!show)
            window->hide();
        else if (window->isMainWindow())
            window->show();
        else
            window->showNormal();
    }
}

void MonitorShell::postToAll(uint32_t message, SkinWindow* except) {
    for (SkinWindow* window : m_registry.windows())
        if (window != except)
            window->post(message);
}

void MonitorShell::applyTopmost() {
    // "Always on top" as the wizard offers it (WindowStyle 1) counts as well as the record's own
    // TopMost field, which no program sets.
    const bool topmost =
        m_settings.readLocked([](const WatchdogSettings& s) { return s.TopMost != 0 || s.WindowStyle == 1; });
    for (SkinWindow* window : m_registry.namedWindows()) {
        if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost)
            continue;
        const bool visible = window->isVisible();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
        if (visible)
            window->show();
    }
}

void MonitorShell::addTrayIcon() {
    m_tray->add();
}

void MonitorShell::removeTrayIcon() {
    m_tray->remove();
}

void MonitorShell::minimizeFrom(SkinWindow& window) {
    if (!window.isMainWindow()) {
        window.hide();
        return;
    }
    const int style = m_settings.readLocked([](const WatchdogSettings& s) { return s.WindowStyle; });
    if (style == 2 && trayAvailable()) {
        showAll(false);
        addTrayIcon();
        return;
    }
    // Without a notification area nothing could bring hidden windows back: the main window is
    // minimised instead, and restoring it shows the others again.
    postToAll(WM_APP_HIDE, &window);
    window.showMinimized();
}

void MonitorShell::showShaped(SkinWindow& window) {
    const bool autoRun = m_settings.readLocked([](const WatchdogSettings& s) { return s.AutoRun != 0; });
    if (autoRun && (window.isMainWindow() || window.isVideoWindow()) && !historyOpen && !skinChangePending) {
        // Started with the session: the program waits in the tray.
        if (window.isMainWindow()) {
            if (trayAvailable())
                addTrayIcon();
            else
                window.showMinimized();
        }
        return;
    }
    window.show();
}

void MonitorShell::runScriptWhenReady(SkinWindow& window, std::string script, int attemptsLeft) {
    QPointer<SkinWindow> target(&window);
    auto retry = [this, target, script, attemptsLeft] {
        if (attemptsLeft <= 1 || m_shutDown)
            return;
        QTimer::singleShot(kScriptRetry_ms, this, [this, target, script, attemptsLeft] {
            if (target)
                runScriptWhenReady(*target, script, attemptsLeft - 1);
        });
    };
    if (!window.isPageLoaded()) {
        retry();
        return;
    }
    window.runScript(script, [retry](bool ran) {
        if (!ran)
            retry();
    });
}

void MonitorShell::windowClosing(SkinWindow& window) {
    if (&window == m_mainWindow) {
        shutDown();
        // The settings are written as the main window closes, once the engine thread let go of
        // them: whatever ends the program after this (the display gone, a kill) loses nothing.
        m_settings.save();
    }
    m_registry.remove(&window);
    m_registry.removeNames(&window);
    if (window.isVideoWindow()) {
        // Closing the video window closes them all (the main window, and so the program, too).
        postToAll(WM_CLOSE, nullptr);
    } else if (!window.isMainWindow()) {
        historyOpen = false;
    }
    window.hide();
    window.deleteLater();
    if (&window == m_mainWindow) {
        m_mainWindow = nullptr;
        emit ended();
    }
}

} // namespace gardivo
