#pragma once

// Gardivo without any window or display: the engine thread's work (capture pipeline, detection,
// tracing, evidence, clips, history, sound and every alarm action) on the main thread, with what
// happens printed line by line. One process watches one source.

#include "monitor/engine/Headless.h"
#include "monitor/live/EngineHost.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/shell/CompanionLauncher.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace gardivo {

class HeadlessMonitor final : public QObject {
    Q_OBJECT
public:
    struct Options {
        std::string programDirectory; // where the settings, history and sources.txt are
        std::string source;           // the source to watch, by name; else the settings' one
        int seconds = 0;              // stop after this long; 0 runs until a signal
        bool startWatching = false;   // start watching at once
        int width = 640;
        int height = 480;
        int webPort = 0; // --web: the web view on this port
    };

    HeadlessMonitor(Options options, std::FILE* out);
    ~HeadlessMonitor() override;

    // Opens the source and starts; false when no source could be opened.
    bool start();
    // Ends watching, finishes a clip under way and prints what the run left.
    void finish();
    EngineHost& host() { return *m_host; }

signals:
    void finished();

private:
    // Prints what the monitor sees, by its own messages.
    class ConsoleSink final : public MessageSink {
    public:
        bool windowExists(const std::string& name) const override { return name == kControlPanel; }
        void postMessage(const std::string&, uint32_t, intptr_t, intptr_t) override {}
        void runScript(const std::string&, const std::string&) override {}
        void minimizeToTray() override {}
        void openTracingBox() override {}
        void closeTracingBox() override {}
    };

    double elapsed() const;
    void poll();
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Options m_options;
    std::FILE* m_out;
    RegistryStore m_registry;
    ConsoleReporter m_reporter;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<CompanionLauncher> m_companions;
    ConsoleSink m_sink;
    NullOverlayCanvas m_canvas;
    std::unique_ptr<EngineHost> m_host;
    QTimer m_poll;
    std::chrono::steady_clock::time_point m_started;
    uint32_t m_lastConditions = 0;
    uint32_t m_lastLightingChanges = 0;
    bool m_mqttConnected = false;
    int m_lastMode = -1;
    bool m_finished = false;
    bool m_sawPicture = false;
};

} // namespace gardivo
