#include "MonitorShell.h"

#include "SkinWindow.h"
#include "SplashScreen.h"
#include "TracingBox.h"
#include "TrayIcon.h"
#include "VideoWidget.h"
#include "monitor/capture/SourceCatalog.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/history/WorkingDirWatcher.h"
#include "monitor/messages/ScriptText.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/SkinPaths.h"
#include "platform/SystemInfo.h"
#include "platform/qt/LocalEndpoint.h"

#include <QCursor>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWebEngineProfile>

#include <atomic>
#include <filesystem>

namespace gardivo {

namespace {

std::string lastComponent(const std::string& path) {
    const size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return {};
    const size_t slash = path.find_last_of('/', end);
    const size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(begin, end - begin + 1);
}

bool onGuiThread(const QObject& object) {
    return QThread::currentThread() == object.thread();
}

} // namespace

// How the engine thread (and the history watcher) reach the windows: by name, always posted.
class MonitorShell::Sink final : public MessageSink {
public:
    explicit Sink(MonitorShell& shell) : m_shell(shell) {}

    bool windowExists(const std::string& name) const override {
        if (name == kSetupForm)
            return LocalEndpoint::exists(kSetupForm, 200);
        if (name == kTracingBox)
            return tracingBoxOpen;
        return m_shell.m_registry.hasName(name);
    }
    void postMessage(const std::string& window, uint32_t message, intptr_t wParam, intptr_t lParam) override {
        m_shell.postToWindow(window, message, wParam, lParam);
    }
    void runScript(const std::string& window, const std::string& script) override {
        QMetaObject::invokeMethod(&m_shell, [shell = &m_shell, window, script] {
            if (SkinWindow* target = shell->findWindow(window))
                shell->runScriptWhenReady(*target, script);
        });
    }
    void minimizeToTray() override {
        QMetaObject::invokeMethod(&m_shell, [shell = &m_shell] {
            if (SkinWindow* main = shell->mainWindow())
                shell->minimizeFrom(*main);
        });
    }
    void openTracingBox() override {
        tracingBoxOpen = true;
        QMetaObject::invokeMethod(&m_shell, [shell = &m_shell] { shell->openTracingBox(); });
    }
    void closeTracingBox() override {
        QMetaObject::invokeMethod(&m_shell, [shell = &m_shell] { shell->closeTracingBox(); });
    }

    std::atomic<bool> tracingBoxOpen{false};

private:
    MonitorShell& m_shell;
};

MonitorShell::MonitorShell(SettingsStore& settings, Reporter& reporter, CompanionLauncher& companions,
                           Options options)
    : m_settings(settings), m_reporter(reporter), m_companions(companions), m_options(std::move(options)),
      m_sink(std::make_unique<Sink>(*this)) {
    m_country = m_options.country.empty() ? intlProfile().iCountry : m_options.country;
    if (m_options.opener) {
        m_opener = m_options.opener;
    } else {
        m_ownOpener = std::make_unique<QtDesktopOpener>();
        m_opener = m_ownOpener.get();
    }
    // One profile for every skin window, kept in memory only.
    m_profile = new QWebEngineProfile(this);

    TrayIcon::Handlers tray;
    tray.command = [this](int id) {
        if (m_mainWindow)
            command(*m_mainWindow, id);
    };
    tray.clicked = [this] {
        if (m_mainWindow)
            trayMessage(*m_mainWindow, WM_LBUTTONDOWN);
    };
    tray.mode = [this] { return m_settings.mode(); };
    tray.wizardRunning = [this] { return !m_companions.IsSetupWizardFree(); };
    tray.startWaiting = [this] { return m_engine && m_engine->startWaiting(); };
    m_tray = std::make_unique<TrayIcon>(std::move(tray));

    // New pictures and new drawings ask for one repaint each, however fast they come.
    m_preview.setOnFrame([this] {
        QMetaObject::invokeMethod(this, [this] {
            if (m_videoWidget)
                m_videoWidget->update();
            else
                m_preview.painted();
        });
    });
    m_overlay.setChanged([this] {
        if (m_overlayRepaintPending.exchange(true))
            return;
        QMetaObject::invokeMethod(this, [this] {
            m_overlayRepaintPending = false;
            if (m_videoWidget)
                m_videoWidget->update();
        });
    });

    m_engine = std::make_unique<EngineThread>([this] {
        EngineHost::Setup setup;
        setup.settings = &m_settings;
        setup.reporter = &m_reporter;
        setup.sink = m_sink.get();
        setup.companions = &m_companions;
        setup.canvas = &m_overlay;
        setup.sourcesFile = joinPath(m_settings.programDirectory(), SourceCatalog::kFileName);
        setup.makePreviewSink = [this] { return m_preview.makeSink(); };
        if (m_options.adjustEngine)
            m_options.adjustEngine(setup);
        return std::make_unique<EngineHost>(std::move(setup));
    });
}

MonitorShell::~MonitorShell() {
    shutDown();
    m_preview.setOnFrame({});
    m_overlay.setChanged({});
    m_endpoint.reset();
    if (m_tracingBox)
        delete m_tracingBox.data();
    m_popup.reset();
    m_registry.clear();
    for (const auto& window : m_allWindows)
        delete window.data();
    m_allWindows.clear();
}

bool MonitorShell::listen() {
    m_endpoint = std::make_unique<LocalEndpoint>(LocalEndpoint::AsyncHandler(
        [this](uint32_t message, int64_t wParam, int64_t lParam, LocalEndpoint::Reply reply) {
            handleEndpointMessage(message, wParam, lParam, std::move(reply));
        }));
    if (m_endpoint->listen(kEndpointName))
        return true;
    m_endpoint.reset();
    return false;
}

bool MonitorShell::start() {
    if (m_options.listen && !m_endpoint)
        listen();
    m_mainWindow = makeWindow(true);
    // Said once, for the first page the main window loads.
    connect(m_mainWindow, &SkinWindow::pageLoaded, this, [this](bool ok) {
        if (!std::exchange(m_mainPageReported, true))
            emit mainPageLoaded(ok);
    });
    m_mainWindow->show();
    const std::string page = resolveWithoutCase(programDirectory(), "skins/default/skin.htm");
    m_mainWindow->navigate(QUrl::fromLocalFile(QString::fromStdString(page)));
    currentSkin = "default";
    if (m_options.showSplash)
        (new SplashScreen)->show();
    return true;
}

MessageSink& MonitorShell::sink() {
    return *m_sink;
}

std::string MonitorShell::workingDirectory() const {
    return m_settings.readLocked([](const WatchdogSettings& s) { return fieldText(s.WorkingDirectory); });
}

bool MonitorShell::trayAvailable() const {
    return m_trayOverride >= 0 ? m_trayOverride == 1 : TrayIcon::isAvailable();
}

SkinWindow* MonitorShell::videoWindow() const {
    return m_videoWindow.data();
}

SkinWindow* MonitorShell::makeWindow(bool isMain) {
    auto* window = new SkinWindow(*this, isMain);
    m_registry.add(window);
    m_allWindows.emplace_back(window);
    return window;
}

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

void MonitorShell::postToWindow(const std::string& name, uint32_t message, intptr_t wParam, intptr_t lParam,
                                std::string text) {
    if (name == kSetupForm) {
        // An open setup wizard, in its own process; this never waits for it to handle the message.
        LocalEndpoint::post(kSetupForm, message, wParam, lParam, 1000);
        return;
    }
    if (!onGuiThread(*this)) {
        QMetaObject::invokeMethod(this,
                                  [this, name, message, wParam, lParam, text = std::move(text)]() mutable {
                                      postToWindow(name, message, wParam, lParam, std::move(text));
                                  });
        return;
    }
    if (name == kTracingBox) {
        if (message == WM_CLOSE)
            closeTracingBox();
        else if (m_tracingBox && (message == WM_APP_CAPTURE_BUSY || message == WM_APP_CAPTURE_IDLE))
            m_tracingBox->setCaptureIdle(message == WM_APP_CAPTURE_IDLE);
        return;
    }
    if (SkinWindow* window = findWindow(name))
        window->post(message, wParam, lParam, std::move(text));
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

int64_t MonitorShell::windowProc(SkinWindow& window, WindowMessageEvent& message) {
    const intptr_t w = message.wParam;
    const intptr_t l = message.lParam;
    switch (message.message) {
    case WM_CLOSE:
        window.close();
        return 0;
    case WM_USER:
        if (window.isVideoWindow())
            videoWindowStartUp(window);
        return 0;
    case WM_MOUSEMOVE:
        if (window.isMoving()) {
            const QPoint grab = window.grabPoint();
            window.move(window.pos() + QPoint(pointX(l) - grab.x(), pointY(l) - grab.y()));
        } else if (window.isVideoWindow()) {
            m_engine->post([x = pointX(l), y = pointY(l)](EngineHost& host) {
                if (host.engine())
                    host.engine()->regionMouseMove(x, y);
            });
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        if (window.isVideoWindow())
            m_engine->post(
                [down = message.message == WM_LBUTTONDOWN, x = pointX(l), y = pointY(l)](EngineHost& host) {
                    if (!host.engine())
                        return;
                    if (down)
                        host.engine()->regionButtonDown(x, y);
                    else
                        host.engine()->regionButtonUp(x, y);
                });
        return 0;
    case WM_APP_ENABLE_MOVE:
        window.setMoving(true, QPoint(pointX(l), pointY(l)));
        return 0;
    case WM_APP_DISABLE_MOVE:
        window.setMoving(false);
        return 0;
    case WM_APP_RUN_SCRIPT:
        window.runScript(message.text);
        return 0;
    case WM_APP_HIDE:
        window.hide();
        return 0;
    case WM_APP_SHOW:
        window.show();
        window.raise();
        window.activateWindow();
        return 0;
    case WM_APP_NEW_RECORD: {
        const std::string group = lastComponent(m_settings.evidenceDirectory());
        if (!window.isMainWindow()) {
            window.showNormal();
            window.raise();
            runScriptWhenReady(window, scriptCall("SelectRecord", group));
        } else if (!historyOpen) {
            historyOpen = true;
            runScriptWhenReady(window, "CreateHistoryWindow()");
        } else {
            runScriptWhenReady(window, scriptCall("SelectRecord", group));
        }
        return 0;
    }
    case WM_APP_PRUNE_HISTORY: {
        HistoryStore history(programDirectory());
        std::vector<std::string> groups;
        if (history.PruneMissingGroups(workingDirectory(), groups))
            for (const auto& group : groups)
                runScriptWhenReady(window, scriptCall("DeleteItemFromGroups", group));
        return 0;
    }
    case WM_APP_MODE_CHANGED:
        if (window.isMainWindow()) {
            const int mode = m_settings.mode();
            m_tray->updateTip(mode);
            runScriptWhenReady(window, scriptCall("DescChange", "mode", detectionModeName(mode)));
        }
        return 0;
    case WM_APP_REPORT:
        if (w == 1 || w == 2)
            m_engine->post([w](EngineHost& host) { host.handleMessage(WM_APP_REPORT, w, 0); });
        else
            runScriptWhenReady(
                window, scriptCall("DescChange", "dimension", std::to_string(w) + "x" + std::to_string(l)));
        return 0;
    case WM_APP_REGION_DONE:
        if (window.isVideoWindow()) {
            // The user confirms the region on the engine thread; once selecting is over, the engine
            // tells the main page.
            m_engine->post([](EngineHost& host) {
                if (host.engine())
                    host.engine()->EndRegionSelection();
            });
        } else if (window.isMainWindow()) {
            runScriptWhenReady(window, "SetRegion(0)");
        }
        return 0;
    case WM_APP_SELECT_DEVICE:
    case WM_APP_SELECT_STANDARD:
    case WM_APP_SETTINGS_CHANGED:
    case WM_APP_PROC_AMP: {
        // The capture side is the engine thread's; a sender that waits is answered once it has
        // been handled there.
        auto reply = std::exchange(message.reply, {});
        m_engine->post([this, id = message.message, w, l, reply](EngineHost& host) {
            host.handleMessage(id, w, l);
            // The windows follow the settings once they have been read again.
            if (id == WM_APP_SETTINGS_CHANGED)
                QMetaObject::invokeMethod(this, [this] { applyTopmost(); });
            if (reply)
                reply(1);
        });
        return 0;
    }
    case WM_APP_TRAY:
        trayMessage(window, l);
        return 0;
    case WM_COMMAND:
        command(window, static_cast<int>(w & 0xFFFF));
        return 0;
    default:
        return 0;
    }
}

void MonitorShell::trayMessage(SkinWindow&, intptr_t mouseMessage) {
    switch (mouseMessage) {
    case WM_MOUSEMOVE:
        m_tray->updateTip(m_settings.mode());
        break;
    case WM_LBUTTONDOWN:
        showAll(true);
        removeTrayIcon();
        // A nudge, so the video window repaints over what was there.
        if (SkinWindow* screen = findWindow(kScreen)) {
            const QRect frame = screen->geometry();
            screen->setGeometry(frame.translated(-1, -1));
        }
        break;
    case WM_RBUTTONDOWN:
        m_tray->updateMenu(m_settings.mode(), !m_companions.IsSetupWizardFree(), m_engine->startWaiting());
        m_tray->menu()->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

void MonitorShell::command(SkinWindow& window, int id) {
    if (id == kCommandStartWatchdog) {
        if (m_settings.mode() == StandBy)
            m_engine->post([](EngineHost& host) {
                if (host.engine() && host.engine()->mode() == StandBy)
                    host.engine()->StartCommand(true);
            });
    } else if (id == kCommandStopWatchdog) {
        stopFromMenu();
    } else if (id == kCommandOpenSetupWizard) {
        if (m_companions.IsSetupWizardFree())
            m_companions.StartSetupWizard(false);
    } else if (id == kCommandExit) {
        window.post(WM_CLOSE);
        removeTrayIcon();
    } else if (id >= kCommandFirstVideoSource - 1 && id <= kCommandLastVideoSource) {
        QAction* item = nullptr;
        if (m_popup)
            for (QAction* a : m_popup->actions())
                if (a->data().toInt() == id)
                    item = a;
        if (!item)
            return;
        m_engine->post([name = item->text().toStdString()](EngineHost& host) {
            if (host.capture())
                host.capture()->SelectVideoSource(name);
        });
    } else if (id >= kCommandFirstSkin) {
        // Every skin listed in the menu can be chosen.
        const std::vector<std::string> skins = listSkins(programDirectory());
        const size_t index = static_cast<size_t>(id - kCommandFirstSkin);
        if (index >= skins.size())
            return;
        const std::string& skin = skins[index];
        const auto page = programFile(programDirectory(), "skins/" + skin + "/skin.htm");
        if (!page)
            return;
        if (SkinWindow* history = findWindow(kHistory))
            history->close();
        showAll(false);
        skinChangePending = true;
        window.navigate(QUrl::fromLocalFile(QString::fromStdString(*page)));
        currentSkin = skin;
    }
}

void MonitorShell::stopFromMenu() {
    // A start delay under way ends now rather than after its time.
    m_engine->interruptWaits();
    m_engine->post([](EngineHost& host) {
        if (host.engine())
            host.engine()->StopCommand();
        host.waitsMayRunAgain();
    });
}

void MonitorShell::videoWindowStartUp(SkinWindow&) {
    m_engine->post([](EngineHost& host) {
        host.startUp();
        host.reportRegion();
    });
    // The engine thread makes the working directory as it starts up, but the watcher starts
    // here and now: on a first start the directory is made first, so that it can be watched.
    std::error_code ignored;
    std::filesystem::create_directories(workingDirectory(), ignored);
    m_watcher = std::make_unique<WorkingDirWatcher>(workingDirectory(), *m_sink, m_reporter);
    m_watcher->start();
    applyTopmost();
    // Rows whose evidence is gone are dropped before the history is shown.
    HistoryStore history(programDirectory());
    std::vector<std::string> removed;
    history.PruneMissingGroups(workingDirectory(), removed);
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

void MonitorShell::showSkinMenu(SkinWindow& window, const QPoint& at) {
    if (!window.isMainWindow())
        return;
    m_popup = std::make_unique<QMenu>();
    const std::vector<std::string> skins = listSkins(programDirectory());
    for (size_t n = 0; n < skins.size(); ++n) {
        QAction* item = m_popup->addAction(QString::fromStdString(skins[n]));
        const int id = kCommandFirstSkin + static_cast<int>(n);
        item->setData(id);
        item->setCheckable(true);
        item->setChecked(QString::fromStdString(skins[n]).compare(QString::fromStdString(currentSkin),
                                                                  Qt::CaseInsensitive) == 0);
        QPointer<SkinWindow> target(&window);
        connect(item, &QAction::triggered, this, [this, target, id] {
            if (target)
                command(*target, id);
        });
    }
    m_popup->popup(at);
}

void MonitorShell::showVideoSourceMenu(SkinWindow& window, const std::vector<std::string>& inputs,
                                       const std::string& current, const QPoint& at) {
    m_popup = std::make_unique<QMenu>();
    const size_t count =
        std::min<size_t>(inputs.size(), kCommandLastVideoSource - kCommandFirstVideoSource + 1);
    for (size_t i = 0; i < count; ++i) {
        QAction* item = m_popup->addAction(QString::fromStdString(inputs[i]));
        const int id = kCommandFirstVideoSource + static_cast<int>(i);
        item->setData(id);
        item->setCheckable(true);
        item->setChecked(inputs[i] == current);
        QPointer<SkinWindow> target(&window);
        connect(item, &QAction::triggered, this, [this, target, id] {
            if (target)
                command(*target, id);
        });
    }
    m_popup->popup(at);
}

void MonitorShell::openTracingBox() {
    if (m_tracingBox || m_shutDown)
        return;
    m_sink->tracingBoxOpen = true;
    m_tracingBox =
        new TracingBox(findWindow(kControlPanel), [this](int button) { tracingBoxPressed(button); });
    m_tracingBox->setAttribute(Qt::WA_DeleteOnClose);
    m_tracingBox->show();
    // While a clip is being written, SnapShot and Capture wait for it.
    m_engine->post([this](EngineHost& host) {
        const CaptureGraph* graph = host.capture() ? host.capture()->graph() : nullptr;
        if (graph && graph->builtState() == CaptureGraph::CaptureBuilt)
            postToWindow(kTracingBox, WM_APP_CAPTURE_BUSY, 0, 0);
    });
}

void MonitorShell::closeTracingBox() {
    m_sink->tracingBoxOpen = false;
    if (m_tracingBox)
        m_tracingBox->close();
}

void MonitorShell::tracingBoxPressed(int button) {
    switch (button) {
    case TracingBox::SnapShot:
        m_engine->post([](EngineHost& host) { host.manualSnapshot(); });
        break;
    case TracingBox::Capture:
        m_engine->post([](EngineHost& host) { host.manualCapture(); });
        break;
    case TracingBox::SendMail:
        m_companions.StartEmail(false, 0);
        break;
    case TracingBox::PhoneCall:
        m_companions.StartDial(false, 0);
        break;
    default:
        break;
    }
}

void MonitorShell::handleEndpointMessage(uint32_t message, int64_t wParam, int64_t lParam,
                                         std::function<void(int64_t)> reply) {
    // Only the messages another program has reason to send are taken; the rest are answered
    // with 0 and dropped.
    const bool known = message == WM_APP_SELECT_DEVICE || message == WM_APP_SELECT_STANDARD ||
                       message == WM_APP_SETTINGS_CHANGED || message == WM_APP_PROC_AMP ||
                       message == WM_APP_SHOW;
    if (!known || !m_mainWindow || m_shutDown) {
        if (reply)
            reply(0);
        return;
    }
    WindowMessageEvent event(message, static_cast<intptr_t>(wParam), static_cast<intptr_t>(lParam));
    event.reply = reply;
    const int64_t result = windowProc(*m_mainWindow, event);
    if (event.reply)
        event.reply(result);
}

void MonitorShell::endWithoutDisplay() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_overlay.close();
    if (m_watcher)
        m_watcher->stop();
    m_engine->stop(false);
}

void MonitorShell::shutDown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_options.beforeShutDown)
        m_options.beforeShutDown();
    closeTracingBox();
    if (m_watcher)
        m_watcher->stop();
    // The engine thread releases a trace, stops watching, finishes a clip and lets its objects
    // go; only then is anything it uses taken away.
    m_engine->stop();
    m_watcher.reset();
    m_tray->remove();
}

} // namespace gardivo
