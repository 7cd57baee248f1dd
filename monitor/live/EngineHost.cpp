#include "EngineHost.h"

#include "monitor/capture/PlayableCopy.h"
#include "monitor/history/EvidenceRetention.h"
#include "monitor/messages/ScriptText.h"
#include "monitor/messages/WindowMessages.h"
#include "monitor/outward/AlarmPicture.h"
#include "monitor/web/Certificate.h"
#include "platform/FileOps.h"
#include "platform/FileProbes.h"
#include "platform/ProgramDirectory.h"
#include "settings/SettingsLimits.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QTimerEvent>

#include <cstdio>
#include <cstdlib>
#include <sys/statvfs.h>
#include <thread>

namespace gardivo {

namespace {

// A program message or a piece of work, travelling to the engine thread.
class EngineThreadEvent final : public QEvent {
public:
    static QEvent::Type type() {
        static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
        return t;
    }
    EngineThreadEvent(uint32_t message, intptr_t wParam, intptr_t lParam)
        : QEvent(type()), message(message), wParam(wParam), lParam(lParam) {}
    explicit EngineThreadEvent(std::function<void()> work) : QEvent(type()), call(std::move(work)) {}

    uint32_t message = 0;
    intptr_t wParam = 0;
    intptr_t lParam = 0;
    std::function<void()> call;
};

std::optional<uint64_t> statvfsFreeSpace(const std::string& path) {
    struct statvfs s {};
    if (path.empty() || ::statvfs(path.c_str(), &s) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

} // namespace

void initMediaFramework(const std::string& pluginDirectory) {
    static std::once_flag once;
    std::call_once(once, [&] {
        gst_init(nullptr, nullptr);
        gst_registry_scan_path(gst_registry_get(), pluginDirectory.c_str());
    });
}

EngineHost::EngineHost(Setup setup, QObject* parent)
    : QObject(parent), m_setup(std::move(setup)), m_captureReporter(*m_setup.reporter) {
    initMediaFramework(executableDirectory());
    m_converter = std::make_unique<PixelConversionLibrary>(m_setup.settings->programDirectory());
    if (!m_converter->isLoaded())
        m_converter = std::make_unique<PixelConversionLibrary>(executableDirectory());
    if (!m_setup.freeSpace)
        m_setup.freeSpace = statvfsFreeSpace;
    m_sound = std::make_unique<GstSoundPlayer>();
}

EngineHost::~EngineHost() {
    shutdown();
}

void EngineHost::post(uint32_t message, intptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new EngineThreadEvent(message, wParam, lParam));
}

void EngineHost::postCall(std::function<void()> call) {
    QCoreApplication::postEvent(this, new EngineThreadEvent(std::move(call)));
}

void EngineHost::interruptWaits() {
    m_interrupt.interrupt();
    std::lock_guard lock(m_engineMutex);
    if (m_engine)
        m_engine->interruptWaits();
}

bool EngineHost::startWaiting() {
    std::lock_guard lock(m_engineMutex);
    return m_engine && m_engine->startWaiting();
}

void EngineHost::waitsMayRunAgain() {
    if (!m_shutDown)
        m_interrupt.clear();
}

void EngineHost::customEvent(QEvent* event) {
    if (event->type() != EngineThreadEvent::type())
        return;
    auto* e = static_cast<EngineThreadEvent*>(event);
    if (m_shutDown)
        return;
    if (e->call)
        e->call();
    else
        handleMessage(e->message, e->wParam, e->lParam);
}

bool EngineHost::setTimer(int id, int period_ms) {
    if (period_ms <= 0)
        return false;
    auto& timer = m_timers[id];
    if (!timer)
        timer = std::make_unique<QBasicTimer>();
    timer->start(period_ms, Qt::PreciseTimer, this);
    return timer->isActive();
}

void EngineHost::killTimer(int id) {
    const auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

void EngineHost::timerEvent(QTimerEvent* event) {
    for (const auto& [id, timer] : m_timers) {
        if (timer->timerId() != event->timerId())
            continue;
        if (id == DetectionEngine::kDetectionTimer || id == DetectionEngine::kTracingTimer) {
            if (m_engine)
                m_engine->OnTimer(id);
        } else if (m_capture) {
            m_capture->OnTimer(id);
        }
        return;
    }
}

void EngineHost::startUp() {
    if (m_capture || m_shutDown)
        return;
    CaptureGraph::Environment env;
    env.reporter = &m_captureReporter;
    env.settings = m_setup.settings;
    env.sink = m_setup.sink;
    env.timers = this;
    env.clock = &m_clock;
    env.interrupt = &m_interrupt;
    env.postGraphEvent = [this] { post(WM_APP_GRAPH_EVENT); };
    env.makePreviewSink = m_setup.makePreviewSink;
    env.freeSpace = m_setup.freeSpace;
    env.engine = [this] { return m_engine.get(); };
    env.makeRoom = [this] { keepEvidenceWithinLimits(); };
    env.onElementMessage = [this](const GstStructure* s) {
        if (!onSourceMessage)
            return;
        guint64 runningTime = 0;
        gst_structure_get_uint64(s, "running-time", &runningTime);
        onSourceMessage(gst_structure_get_name(s), runningTime);
    };
    m_capture = std::make_unique<CaptureSession>(env, m_setup.sourcesFile, m_setup.openDevice,
                                                 m_setup.makeMixer ? m_setup.makeMixer() : nullptr);
    m_capture->setPreferredSource(m_setup.preferredSource);
    m_copies = std::make_unique<PlayableCopies>(playableCopier(m_setup.settings->programDirectory()),
                                                m_setup.settings->logFilePath());
    m_copies->onDone = [this](const std::string& clip, const std::string& copy) {
        if (m_offsite && !copy.empty())
            m_offsite->add(copy);
        if (onCopyDone)
            onCopyDone(clip, copy);
    };
    m_capture->setClipEnded([this](const std::string& path) {
        if (onClipEnded)
            onClipEnded(path);
        // Only clips of our own format need a copy; an MPEG clip plays as it is.
        const bool avi = path.size() > 4 && path.compare(path.size() - 4, 4, ".avi") == 0;
        if (avi && m_setup.settings->evidenceOptions().playableCopies && m_copies && FileExists(path))
            m_copies->add(path);
        if (m_offsite && FileExists(path))
            m_offsite->add(path);
        keepEvidenceWithinLimits();
    });
    if (m_engine) {
        m_capture->setFrameSize(m_engine->frameWidth(), m_engine->frameHeight());
        m_engine->setFrameSource(m_capture.get());
    }
    m_capture->OpenCapture();
    // After the capture side: the web view reads its pictures from other threads.
    applyConnections();
    if (m_setup.watchDevices)
        m_deviceWatch = std::make_unique<DeviceWatch>([this](bool added, const std::string& identity) {
            postCall([this, added, identity] {
                if (m_capture)
                    m_capture->OnDeviceChange(added, identity);
            });
        });
}

void EngineHost::setVideoRect(int left, int top, int right, int bottom) {
    if (m_shutDown)
        return;
    const int64_t width = std::abs(int64_t(right) - left);
    const int64_t height = std::abs(int64_t(bottom) - top);
    if (width < 1 || width > kMaxVideoSide || height < 1 || height > kMaxVideoSide)
        return;
    if (!m_engine) {
        EngineServices services;
        services.sink = m_setup.sink;
        services.timers = this;
        services.clock = &m_clock;
        services.recorder = &m_recorder;
        services.sound = m_sound.get();
        services.companions = m_setup.companions;
        services.converter = m_converter.get();
        auto engine = std::make_unique<DetectionEngine>(*m_setup.settings, *m_setup.canvas, services);
        engine->setFrameSource(m_capture.get());
        std::lock_guard lock(m_engineMutex);
        m_engine = std::move(engine);
        m_manualPictures = 0;
        m_manualClips = 0;
        m_engine->onEvidenceWritten = [this] { keepEvidenceWithinLimits(); };
        m_engine->onEvent = [this](const EngineEvent& event) { tellOutside(event); };
        m_engine->SetVideoRect(left, top, right, bottom);
        keepEvidenceWithinLimits();
        return;
    }
    m_engine->MoveVideoRect(left, top, right, bottom);
}

void EngineHost::handleMessage(uint32_t message, intptr_t wParam, intptr_t lParam) {
    switch (message) {
    case WM_APP_GRAPH_EVENT:
        if (m_capture)
            m_capture->OnGraphEvent();
        break;
    case WM_APP_SELECT_DEVICE:
        if (m_capture)
            m_capture->SelectDevice(static_cast<int>(wParam));
        break;
    case WM_APP_SELECT_STANDARD:
        if (m_capture)
            m_capture->SetVideoStandard(static_cast<int>(wParam));
        break;
    case WM_APP_SETTINGS_CHANGED:
        // The wizard saved (or cancelled): the record is read again and applied.
        m_setup.settings->load();
        if (m_capture)
            m_capture->ApplySettings();
        applyConnections();
        reportRegion();
        break;
    case WM_APP_REPORT:
        // A report the main page missed, repeated with what holds now.
        if (!m_capture)
            break;
        // A source without a television decoder has no standard, and one with a single input
        // (or none) no input to name.
        if (wParam == 1)
            m_capture->ReportStandard(m_capture->videoSettings() && m_capture->videoSettings()->hasDecoder()
                                          ? standards::name(m_setup.settings->settings().VideoStandard)
                                          : std::string());
        else if (wParam == 2)
            m_capture->ReportVideoSource(m_capture->hasSeveralConnectors()
                                             ? fieldText(m_setup.settings->settings().VideoConnector)
                                             : std::string());
        else
            m_capture->ReportDimension(std::to_string(wParam) + "x" + std::to_string(lParam));
        break;
    case WM_APP_PROC_AMP:
        if (m_capture)
            m_capture->SetProcAmp(static_cast<int>(wParam), static_cast<int>(lParam));
        break;
    default:
        break;
    }
}

void EngineHost::keepEvidenceWithinLimits() {
    SettingsStore& settings = *m_setup.settings;
    const EvidenceOptions& options = settings.evidenceOptions();
    RetentionLimits limits;
    limits.maxBytes =
        static_cast<uint64_t>(limits::RetentionMegabytes.clamp(options.retentionMegabytes)) * 1000000u;
    limits.maxDays = limits::RetentionDays.clamp(options.retentionDays);
    // Only a user who set a limit has said evidence may go; then it goes before the disk fills.
    if (limits.maxBytes > 0 || limits.maxDays > 0)
        limits.keepFreeBytes = (CaptureGraph::kDiskLow_MiB + kRetentionReserve_MiB) << 20;
    if (!limits.any())
        return;
    EvidenceRetention retention(fieldText(settings.settings().WorkingDirectory), settings.dataDirectory(),
                                settings.logFilePath(), m_setup.freeSpace);
    const auto outcome = retention.enforce(limits, settings.evidenceDirectory());
    MessageSink* sink = m_setup.sink;
    if (!sink)
        return;
    const char* window = sink->windowExists(kHistory) ? kHistory : kControlPanel;
    for (const auto& run : outcome.removed)
        if (sink->windowExists(window))
            sink->runScript(window, scriptCall("DeleteItemFromGroups", run));
}

void EngineHost::applyConnections() {
    if (m_shutDown)
        return;
    const ConnectionOptions& wanted = m_setup.settings->connectionOptions();
    applyWebView(wanted);
    if (wanted == m_connections && (m_mqtt || !wanted.mqtt) && (m_offsite || !wanted.offsite))
        return;
    m_connections = wanted;
    m_mqtt.reset();
    m_offsite.reset();
    const std::string log = m_setup.settings->logFilePath();
    if (wanted.mqtt) {
        m_mqtt = std::make_unique<MqttLink>(wanted, [this](const std::string& command) {
            // From the connection's own thread: the engine thread does it, as a page's Start would.
            postCall([this, command] {
                if (!m_engine || m_shutDown)
                    return;
                if (command == "start" && m_engine->mode() == StandBy)
                    m_engine->StartCommand(false);
                else if (command == "stop" && m_engine->mode() != StandBy)
                    m_engine->StopCommand();
            });
        });
        std::string why;
        if (!m_mqtt->start(&why))
            AppendLogLine(log, "Gardivo Log: No MQTT connection: " + why);
        else if (!m_mqtt->lastError().empty())
            AppendLogLine(log, "Gardivo Log: MQTT: " + m_mqtt->lastError());
    }
    if (wanted.offsite && !wanted.offsiteRemote.empty()) {
        OffsiteCopies::Setup setup;
        setup.remote = wanted.offsiteRemote;
        setup.config = wanted.offsiteConfig;
        setup.queueFile = m_setup.settings->places().state + "offsite-queue.txt";
        setup.logPath = log;
        m_offsite = std::make_unique<OffsiteCopies>(setup);
        m_offsite->onDone = [this](const std::string& path, bool copied) {
            if (onOffsiteDone)
                onOffsiteDone(path, copied);
        };
    }
}

void EngineHost::applyWebView(const ConnectionOptions& wanted) {
    const bool on = wanted.web || m_setup.webPort > 0;
    const int port = m_setup.webPort > 0 ? m_setup.webPort : wanted.webPort;
    const bool same = m_web && wanted.webPort == m_connections.webPort &&
                      wanted.webFrameRate == m_connections.webFrameRate &&
                      wanted.webCertFile == m_connections.webCertFile &&
                      wanted.webKeyFile == m_connections.webKeyFile;
    if (on && same)
        return;
    m_web.reset();
    m_webAddress.clear();
    m_webFingerprint.clear();
    if (!on || m_shutDown)
        return;
    SettingsStore& settings = *m_setup.settings;
    const std::string log = settings.logFilePath();
    WebViewSetup setup;
    setup.port = port;
    setup.certFile = wanted.webCertFile;
    setup.keyFile = wanted.webKeyFile;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    if (setup.certFile.empty() || setup.keyFile.empty()) {
        // A certificate of our own, made once and kept, so that its fingerprint stays the same.
        setup.certFile = settings.places().state + "web/certificate.pem";
        setup.keyFile = settings.places().state + "web/key.pem";
        std::string why;
        if (!ensureSelfSignedCertificate(setup.certFile, setup.keyFile, host, &why)) {
            AppendLogLine(log, "Gardivo Log: No web view: " + why);
            return;
        }
    }
    setup.accountsFile = settings.places().settings + "web-users";
    setup.workingDirectory = fieldText(settings.settings().WorkingDirectory);
    setup.historyDirectory = settings.dataDirectory();
    setup.framesPerSecond = wanted.webFrameRate;
    CaptureGraph* graph = m_capture ? m_capture->graph() : nullptr;
    setup.latestPicture = [graph](std::vector<uint8_t>& uyvy, int& width, int& height) {
        return graph && graph->latestPicture(uyvy, width, height);
    };
    setup.mode = [&settings] { return std::string(detectionModeName(settings.mode())); };
    setup.startStop = [this](bool start) {
        postCall([this, start] {
            if (!m_engine || m_shutDown)
                return;
            if (start && m_engine->mode() == StandBy)
                m_engine->StartCommand(false);
            else if (!start && m_engine->mode() != StandBy)
                m_engine->StopCommand();
        });
    };
    setup.viewersChanged = [this](int viewers) {
        postCall([this, viewers] {
            if (m_capture && m_capture->graph())
                m_capture->graph()->setRemoteViewers(viewers > 0);
        });
    };
    setup.log = [log](const std::string& line) { AppendLogLine(log, "Gardivo Log: " + line); };
    setup.historyChanged = [this](const std::string& run) {
        postCall([this, run] {
            MessageSink* sink = m_setup.sink;
            const char* window = sink && sink->windowExists(kHistory) ? kHistory : kControlPanel;
            if (sink && sink->windowExists(window))
                sink->runScript(window, scriptCall("SelectRecord", run));
        });
    };
    auto web = std::make_unique<WebView>(setup);
    std::string why;
    if (!web->start(&why)) {
        AppendLogLine(log, "Gardivo Log: No web view: " + why);
        return;
    }
    m_web = std::move(web);
    m_webAddress = "https://" + std::string(host) + ":" + std::to_string(m_web->port()) + "/";
    m_webFingerprint = certificateFingerprint(setup.certFile);
}

void EngineHost::tellOutside(const EngineEvent& event) {
    const bool alarm = event.kind == EngineEvent::Kind::Condition;
    if (m_offsite && (alarm || event.kind == EngineEvent::Kind::Reset) && !event.imagePath.empty())
        m_offsite->add(event.imagePath);
    if (!m_mqtt)
        return;
    m_mqtt->publishEvent(event);
    if (!alarm)
        return;
    if (auto jpeg = alarmPictureJpeg(event.imagePath); !jpeg.empty())
        m_mqtt->publishPicture(std::move(jpeg));
    // Without tracing no release comes: the sensor goes back to no motion by itself.
    if (m_setup.settings->settings().TracingMode == 0) {
        const uint32_t serial = ++m_motionSerial;
        QTimer::singleShot(kMotionOnFor, this, [this, serial] {
            if (m_mqtt && serial == m_motionSerial)
                m_mqtt->publishMotion(false);
        });
    }
}

void EngineHost::reportInitialStatus() {
    if (m_shutDown)
        return;
    if (m_capture) {
        handleMessage(WM_APP_REPORT, 1, 0);
        handleMessage(WM_APP_REPORT, 2, 0);
    }
    reportRegion();
}

void EngineHost::reportRegion() {
    if (m_setup.sink && m_setup.sink->windowExists(kControlPanel))
        m_setup.sink->runScript(
            kControlPanel,
            scriptCall("DescChange", "region", m_setup.settings->settings().RegionMode ? "yes" : "no"));
}

void EngineHost::startOrStop(bool fromMenu) {
    if (!m_engine || m_shutDown)
        return;
    if (m_engine->mode() == StandBy)
        m_engine->StartCommand(fromMenu);
    else
        m_engine->StopCommand();
}

namespace {

// Holds the tracing step for as long as it lives.
class TracingHold {
public:
    explicit TracingHold(DetectionEngine* engine) : m_engine(engine) {
        if (m_engine)
            m_engine->pauseTracingEvent().reset();
    }
    ~TracingHold() {
        if (m_engine)
            m_engine->pauseTracingEvent().set();
    }
    TracingHold(const TracingHold&) = delete;
    TracingHold& operator=(const TracingHold&) = delete;

private:
    DetectionEngine* m_engine;
};

std::string manualFile(const std::string& directory, const char* format, int number) {
    char name[32];
    std::snprintf(name, sizeof name, format, number);
    return joinPath(directory, name);
}

} // namespace

bool EngineHost::manualSnapshot() {
    const std::string directory = m_setup.settings->evidenceDirectory();
    if (!m_engine || !m_capture || directory.empty())
        return false;
    TracingHold hold(m_engine.get());
    // Just after a change of size (or a source that is being started again) no picture of the
    // asked size may be there yet: the snapshot waits a moment for one. Only a picture taken
    // counts, so the numbers have no gaps.
    const std::string file = manualFile(directory, "manual%03d.bmp", m_manualPictures + 1);
    const auto end = std::chrono::steady_clock::now() + kSnapshotWait;
    bool taken = m_capture->Snapshot(file);
    while (!taken && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        taken = m_capture->Snapshot(file);
    }
    if (!taken) {
        if (m_setup.reporter)
            m_setup.reporter->show({"No picture could be taken: the camera gives none at the moment.",
                                    Reporter::kCaption, MessageIcon::Warning, MessageButtons::Ok, false});
        return false;
    }
    ++m_manualPictures;
    return true;
}

bool EngineHost::manualCapture() {
    const std::string directory = m_setup.settings->evidenceDirectory();
    if (!m_engine || !m_capture || directory.empty())
        return false;
    TracingHold hold(m_engine.get());
    ++m_manualClips;
    return m_capture->StartRecording(manualFile(directory, "manual%03d.avi", m_manualClips));
}

void EngineHost::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    interruptWaits();
    m_deviceWatch.reset();
    // The web view reads the capture side's pictures from its own threads: it goes first.
    m_web.reset();
    if (m_engine) {
        // A trace under way is released, so that its history row gets its remark.
        if (m_engine->mode() == Tracing)
            m_engine->StopCommand();
        m_engine->StopWatching(true);
    }
    for (auto& [id, timer] : m_timers)
        timer->stop();
    // The capture side goes first (the clip is finished), then the engine.
    if (m_engine)
        m_engine->setFrameSource(nullptr);
    m_capture.reset();
    // The links go before the engine: nothing is told of what the end does.
    m_mqtt.reset();
    m_offsite.reset();
    // The clip just finished may still want its copy: it is made after the program ends.
    if (m_copies)
        m_copies->handOver(kCopyHandOverWait);
    m_copies.reset();
    {
        std::lock_guard lock(m_engineMutex);
        m_engine.reset();
    }
    m_sound.reset();
}

} // namespace gardivo
