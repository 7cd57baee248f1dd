#pragma once

// The engine thread of gardivo: it owns the detection engine, the capture side, the warning
// sound and the timers 1, 2, 3 (and the capture side's own), and handles, in order, the
// messages and commands posted to it from other threads. The windowed program runs it on a
// thread of its own; the headless monitor on its main thread. Nothing here waits for a window.

#include "monitor/capture/CaptureSession.h"
#include "monitor/capture/PixelConversionLibrary.h"
#include "monitor/capture/WarningSound.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/live/PlayableCopies.h"
#include "monitor/outward/MqttLink.h"
#include "monitor/outward/OffsiteCopies.h"
#include "monitor/web/WebView.h"

#include <QBasicTimer>
#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace gardivo {

class EngineHost final : public QObject, private TimerHost {
    Q_OBJECT
public:
    struct Setup {
        SettingsStore* settings = nullptr;
        Reporter* reporter = nullptr;
        MessageSink* sink = nullptr;
        Companions* companions = nullptr;
        OverlayCanvas* canvas = nullptr;
        // "sources.txt" of the program directory.
        std::string sourcesFile;
        // The preview branch's sink; none without a screen.
        std::function<GstElement*()> makePreviewSink;
        CaptureSession::DeviceOpener openDevice = openV4l2Device;
        std::function<std::unique_ptr<MixerBackend>()> makeMixer = makeAlsaMixerBackend;
        std::function<std::optional<uint64_t>(const std::string&)> freeSpace;
        // Whether cameras coming and going are watched.
        bool watchDevices = true;
        // The source to open by name, when it is listed.
        std::string preferredSource;
        // The web view on this port whatever the settings say (--web); 0: as the settings say.
        int webPort = 0;
    };

    explicit EngineHost(Setup setup, QObject* parent = nullptr);
    ~EngineHost() override;
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    // --- from any thread ---
    // A program message (WM_APP_* and the like) for the engine thread.
    void post(uint32_t message, intptr_t wParam = 0, intptr_t lParam = 0);
    // Work for the engine thread, run in the order posted.
    void postCall(std::function<void()> call);
    // Ends a start delay or a pause under way at once (a Stop, or the end of the program).
    void interruptWaits();
    // A Stop cut the waits short and is done: later waits (the settle after the picture comes
    // back) wait their whole time again. Nothing is cleared once the end has begun.
    void waitsMayRunAgain();
    bool waitsInterrupted() const { return m_interrupt.isInterrupted(); }
    // A Start waits out its delay.
    bool startWaiting();

    // --- on the engine thread ---
    // The video window's start-up: the capture side is opened and its preview started.
    void startUp();
    // The page placed the video: the engine is made on the first call, then given the rectangle.
    // A picture side outside 1..4096 pixels is refused and the old placement kept.
    static constexpr int kMaxVideoSide = 4096;
    // How long a snapshot waits for a picture of the asked size.
    static constexpr std::chrono::milliseconds kSnapshotWait{2000};
    void setVideoRect(int left, int top, int right, int bottom);
    // Removes the oldest watching runs while the evidence is above the user's limits of size or
    // age, or the disk is nearly full (with a limit set); the history window follows.
    void keepEvidenceWithinLimits();
    // The connections of the settings (MQTT, off-site copies), made, changed or ended as they say.
    void applyConnections();
    MqttLink* mqtt() { return m_mqtt.get(); }
    OffsiteCopies* offsite() { return m_offsite.get(); }
    WebView* web() { return m_web.get(); }
    // Where the web view is, and its certificate's fingerprint ("" while it is off).
    std::string webAddress() const { return m_webAddress; }
    std::string webFingerprint() const { return m_webFingerprint; }
    // A condition that no release follows is over for the motion sensor after this long.
    static constexpr std::chrono::seconds kMotionOnFor{30};
    // Room kept free beyond the disk watch's least, once evidence is kept within limits.
    static constexpr uint64_t kRetentionReserve_MiB = 64;
    // The end: a trace under way is released, watching stops for good, a clip is finished, and
    // the capture side and the engine go.
    void shutdown();
    void handleMessage(uint32_t message, intptr_t wParam, intptr_t lParam);
    // GetInitialStatus of the main page: the video standard, the video source and the region
    // state, as they are now.
    void reportInitialStatus();
    // Tells the main page whether watching is limited to a region.
    void reportRegion();
    // The page's Start: starts watching in StandBy (after the start delay), stops otherwise.
    void startOrStop(bool fromMenu);
    // The Tracing Box's SnapShot and Capture: the tracing step is held while the picture
    // ("manual%03d.bmp") or the clip ("manual%03d.avi") of the evidence directory is taken.
    // False when there is nothing to take it with or nowhere to keep it.
    bool manualSnapshot();
    bool manualCapture();

    DetectionEngine* engine() { return m_engine.get(); }
    CaptureSession* capture() { return m_capture.get(); }
    SettingsStore& settings() { return *m_setup.settings; }
    bool isShutDown() const { return m_shutDown; }

    // Called on the engine thread for every element message of the pipeline (the test pattern
    // says when its figure starts to move), and for every clip that ended.
    std::function<void(const std::string& name, uint64_t runningTime)> onSourceMessage;
    std::function<void(const std::string& path)> onClipEnded;
    // A clip's playable copy was made (copy is its path) or could not be (copy is empty).
    std::function<void(const std::string& clip, const std::string& copy)> onCopyDone;
    // A file went off-site (or failed to, and waits for its next try).
    std::function<void(const std::string& path, bool copied)> onOffsiteDone;
    // How long the end of the program waits for a copy under way before handing it on.
    static constexpr std::chrono::milliseconds kCopyHandOverWait{10000};

protected:
    void customEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // TimerHost: timers of this thread by the program's ids.
    bool setTimer(int id, int period_ms) override;
    void killTimer(int id) override;

    // The engine's recorder is the capture side, which may come after the engine.
    class ForwardingRecorder final : public Recorder {
    public:
        explicit ForwardingRecorder(EngineHost& host) : m_host(host) {}
        bool isRecording() const override { return m_host.m_capture && m_host.m_capture->isRecording(); }
        bool StartRecording(const std::string& path) override {
            return m_host.m_capture && m_host.m_capture->StartRecording(path);
        }
        void keepRecentFrames(bool watching) override {
            if (m_host.m_capture)
                m_host.m_capture->keepRecentFrames(watching);
        }

    private:
        EngineHost& m_host;
    };

    Setup m_setup;
    ForwardingRecorder m_recorder{*this};
    CaptureReporter m_captureReporter;
    SystemClock m_clock;
    WaitInterrupt m_interrupt;
    // From the program directory, or else beside this program.
    std::unique_ptr<PixelConversionLibrary> m_converter;
    std::unique_ptr<GstSoundPlayer> m_sound;
    std::unique_ptr<CaptureSession> m_capture;
    std::unique_ptr<PlayableCopies> m_copies;
    // What leaves the machine, as the settings last said.
    ConnectionOptions m_connections;
    std::unique_ptr<MqttLink> m_mqtt;
    std::unique_ptr<OffsiteCopies> m_offsite;
    std::unique_ptr<WebView> m_web;
    std::string m_webAddress;
    std::string m_webFingerprint;
    void applyWebView(const ConnectionOptions& wanted);
    uint32_t m_motionSerial = 0;
    void tellOutside(const EngineEvent& event);
    // Guards the engine's creation and end against interruptWaits from another thread.
    std::mutex m_engineMutex;
    std::unique_ptr<DetectionEngine> m_engine;
    std::unique_ptr<DeviceWatch> m_deviceWatch;
    std::map<int, std::unique_ptr<QBasicTimer>> m_timers;
    // Numbered per engine, from 1.
    int m_manualPictures = 0;
    int m_manualClips = 0;
    bool m_shutDown = false;
};

// Makes GStreamer ready and finds gardivo's own plugins in the program directory.
void initMediaFramework(const std::string& pluginDirectory);

} // namespace gardivo
