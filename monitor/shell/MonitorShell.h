#pragma once

// The windowed gardivo: its skin windows, the engine thread behind the video window, the tray
// icon, the Tracing Box and the window procedure every skin window shares. It lives on the GUI
// thread. The engine thread reaches the windows only through the message sink (by registered
// name, posted), and the windows reach the engine only by posting work to its thread.

#include "DesktopOpener.h"
#include "EngineThread.h"
#include "OverlayImage.h"
#include "PreviewFrames.h"
#include "SkinWindowOwner.h"
#include "TracingBox.h"
#include "VideoWidget.h"
#include "WindowMessageEvent.h"
#include "WindowRegistry.h"
#include "monitor/shell/CompanionLauncher.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QWebEngineProfile;

namespace gardivo {

class LocalEndpoint;
class SkinWindow;
class TrayIcon;
class WorkingDirWatcher;

class MonitorShell final : public QObject, public SkinWindowOwner {
    Q_OBJECT
public:
    // The endpoint other programs (the setup wizard) reach the running gardivo by.
    static constexpr const char* kEndpointName = "TavrinWatchDog";
    static constexpr int kScriptAttempts = 20;
    static constexpr int kScriptRetry_ms = 250;

    struct Options {
        bool showSplash = true;
        // Listen on the "TavrinWatchDog" endpoint (tests that run several shells turn it off).
        bool listen = true;
        // Where files and folders are handed to the desktop; the Qt one when none.
        DesktopOpener* opener = nullptr;
        // The country code of the user's locale ("81", "886", ...); taken from the locale when
        // empty.
        std::string country;
        // Adjusts the engine host's set-up (tests give it fake devices or no device watch).
        std::function<void(EngineHost::Setup&)> adjustEngine;
        // Called as the program starts to end (the reporter stops asking questions).
        std::function<void()> beforeShutDown;
        // Pages from the web may be opened in content windows: only while the pages run in the
        // browser's sandbox.
        bool remoteContent = true;
    };

    MonitorShell(SettingsStore& settings, Reporter& reporter, CompanionLauncher& companions, Options options);
    ~MonitorShell() override;
    MonitorShell(const MonitorShell&) = delete;
    MonitorShell& operator=(const MonitorShell&) = delete;

    // Listens on the endpoint; false when another program answers on it already.
    bool listen();
    // The main window with program directory + "skins/default/skin.htm", and the splash.
    bool start();

    // --- program-wide things ---
    SettingsStore& settings() { return m_settings; }
    Reporter& reporter() { return m_reporter; }
    CompanionLauncher& companions() { return m_companions; }
    WindowRegistry& registry() { return m_registry; }
    EngineThread& engine() { return *m_engine; }
    DesktopOpener& opener() { return *m_opener; }
    OverlayImage& overlay() { return m_overlay; }
    PreviewFrames& preview() { return m_preview; }
    // The live picture's place in the video window (SetWindowRegion); it is scaled to that size.
    void placeVideo(const QRect& rect);
    VideoWidget* videoWidget() const { return m_videoWidget.data(); }
    TrayIcon& tray() { return *m_tray; }
    TracingBox* tracingBox() const { return m_tracingBox; }
    QWebEngineProfile* profile() const override { return m_profile; }
    const std::string& programDirectory() const override { return m_settings.programDirectory(); }
    std::string workingDirectory() const;
    // The name of the run's evidence folder: the history group of its records.
    std::string evidenceGroup() const;
    const std::string& country() const { return m_country; }
    void setCountry(std::string country) { m_country = std::move(country); }
    MessageSink& sink();
    // The desktop's own notification area is there.
    bool trayAvailable() const;
    void setTrayAvailable(bool available) { m_trayOverride = available ? 1 : 0; }

    SkinWindow* mainWindow() const { return m_mainWindow; }
    SkinWindow* videoWindow() const;
    SkinWindow* findWindow(const std::string& name) const { return m_registry.find(name); }

    // The skin in use, and the flags the history and skin changes keep.
    std::string currentSkin = "default";
    bool historyOpen = false;
    bool skinChangePending = false;

    // --- windows ---
    // CreateContentWindow: 0, or 7 when no window could be made for the page.
    int createContentWindow(const std::string& page);
    // Every skin window shown (the content windows restored) or hidden.
    void showAll(bool show);
    void postToAll(uint32_t message, SkinWindow* except);
    // Every named window above the others when TopMost is set or WindowStyle is 1, else not.
    void applyTopmost();
    // Minimize from a page (see the bridge).
    void minimizeFrom(SkinWindow& window);
    // After WindowShape: shown, or kept hidden for an automatic start.
    void showShaped(SkinWindow& window);
    void addTrayIcon();
    void removeTrayIcon();

    // --- messages ---
    // From any thread: a message or a script for the window registered under name (or the
    // Tracing Box, or an open setup wizard). Dropped when there is no such window.
    void postToWindow(const std::string& name, uint32_t message, intptr_t wParam, intptr_t lParam,
                      std::string text = {});
    // A script for a window's page, tried again while the page is not ready or the script fails,
    // up to kScriptAttempts times kScriptRetry_ms apart.
    void runScriptWhenReady(SkinWindow& window, std::string script, int attemptsLeft = kScriptAttempts);
    // The window procedure of every skin window.
    int64_t windowProc(SkinWindow& window, WindowMessageEvent& message) override;
    // The WM_CLOSE of a window, before it goes.
    void windowClosing(SkinWindow& window) override;
    // The main window back from the task bar: the others come back with it.
    void windowRestored(SkinWindow&) override { showAll(true); }
    void contextMenuAt(SkinWindow& window, const QPoint& at) override { showSkinMenu(window, at); }
    QObject* makeExternal(SkinWindow& window) override;
    // The skin menu of the main window's pages, at a screen point.
    void showSkinMenu(SkinWindow& window, const QPoint& at);
    QMenu* popupMenu() const { return m_popup.get(); }
    void showVideoSourceMenu(SkinWindow& window, const std::vector<std::string>& inputs,
                             const std::string& current, const QPoint& at);

    // --- the Tracing Box ---
    void openTracingBox();
    void closeTracingBox();
    void tracingBoxPressed(int button);

    // The program ends: the engine is stopped and its objects go, then the settings are saved.
    void shutDown();
    // The end when the display is gone and the process is already ending: the engine thread
    // finishes a clip and lets go, with no window, tray or drawing touched.
    void endWithoutDisplay();
    bool isShutDown() const { return m_shutDown; }

signals:
    // The main window's first page finished loading.
    void mainPageLoaded(bool ok);
    // The main window closed; the program ends.
    void ended();

private:
    class Sink;

    void command(SkinWindow& window, int id);
    void trayMessage(SkinWindow& window, intptr_t mouseMessage);
    void videoWindowStartUp(SkinWindow& window);
    void startOrStop(bool fromMenu);
    void stopFromMenu();
    void handleEndpointMessage(uint32_t message, int64_t wParam, int64_t lParam,
                               std::function<void(int64_t)> reply);
    SkinWindow* makeWindow(bool isMain);

    SettingsStore& m_settings;
    Reporter& m_reporter;
    CompanionLauncher& m_companions;
    Options m_options;
    std::string m_country;
    std::unique_ptr<QtDesktopOpener> m_ownOpener;
    DesktopOpener* m_opener;
    WindowRegistry m_registry;
    OverlayImage m_overlay;
    PreviewFrames m_preview;
    QPointer<VideoWidget> m_videoWidget;
    std::atomic<bool> m_overlayRepaintPending{false};
    std::unique_ptr<Sink> m_sink;
    std::unique_ptr<EngineThread> m_engine;
    std::unique_ptr<WorkingDirWatcher> m_watcher;
    QWebEngineProfile* m_profile;
    std::unique_ptr<TrayIcon> m_tray;
    int m_trayOverride = -1;
    QPointer<TracingBox> m_tracingBox;
    std::unique_ptr<QMenu> m_popup;
    std::unique_ptr<LocalEndpoint> m_endpoint;
    SkinWindow* m_mainWindow = nullptr;
    QPointer<SkinWindow> m_videoWindow;
    bool m_mainPageReported = false;
    bool m_videoWindowMade = false;
    std::vector<QPointer<SkinWindow>> m_allWindows;
    bool m_shutDown = false;
    bool m_remoteRefusalSaid = false;
};

} // namespace gardivo
