#include "MonitorShell.h"

#include "ExternalObject.h"
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
        setup.sourcesFile = m_settings.sourcesFile();
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

std::string MonitorShell::evidenceGroup() const {
    const std::string path = m_settings.evidenceDirectory();
    const size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return {};
    const size_t slash = path.find_last_of('/', end);
    const size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(begin, end - begin + 1);
}

QObject* MonitorShell::makeExternal(SkinWindow& window) {
    return new ExternalObject(*this, window);
}

SkinWindow* MonitorShell::makeWindow(bool isMain) {
    auto* window = new SkinWindow(*this, isMain);
    m_registry.add(window);
    m_allWindows.emplace_back(window);
    return window;
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
    HistoryStore history(m_settings.dataDirectory());
    std::vector<std::string> removed;
    history.PruneMissingGroups(workingDirectory(), removed);
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
