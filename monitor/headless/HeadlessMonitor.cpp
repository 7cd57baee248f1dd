#include "HeadlessMonitor.h"

#include "platform/ProgramDirectory.h"

#include <algorithm>
#include <cstdarg>
#include <dirent.h>
#include <vector>

namespace gardivo {

namespace {} // namespace

HeadlessMonitor::HeadlessMonitor(Options options, std::FILE* out)
    : m_options(std::move(options)), m_out(out) {
    m_settings = std::make_unique<SettingsStore>(ProgramKind::Gardivo, m_registry, m_reporter,
                                                 m_options.programDirectory);
    m_companions = std::make_unique<CompanionLauncher>(*m_settings, m_reporter);
    EngineHost::Setup setup;
    setup.settings = m_settings.get();
    setup.reporter = &m_reporter;
    setup.sink = &m_sink;
    setup.companions = m_companions.get();
    setup.canvas = &m_canvas;
    setup.sourcesFile = m_settings->sourcesFile();
    setup.preferredSource = m_options.source;
    setup.webPort = m_options.webPort;
    m_host = std::make_unique<EngineHost>(setup);
    m_host->onSourceMessage = [this](const std::string& name, uint64_t) {
        if (name == "gardivo-motion")
            printf("%8.3f s  source: motion begins\n", elapsed());
        else if (name == "gardivo-lamp")
            printf("%8.3f s  source: the lamp is switched\n", elapsed());
    };
    m_host->onClipEnded = [this](const std::string& path) {
        const CaptureGraph* graph = m_host->capture() ? m_host->capture()->graph() : nullptr;
        printf("%8.3f s  clip ended: %s (%s; %zu pictures from before its start)\n", elapsed(), path.c_str(),
               graph ? graph->lastStatus().c_str() : "", graph ? graph->framesFromBefore() : size_t(0));
    };
    m_host->onOffsiteDone = [this](const std::string& path, bool copied) {
        printf("%8.3f s  off-site: %s %s\n", elapsed(), path.c_str(),
               copied ? "copied" : "not copied yet (the log says why)");
    };
    m_host->onCopyDone = [this](const std::string& clip, const std::string& copy) {
        if (copy.empty())
            printf("%8.3f s  no playable copy of %s (the log says why)\n", elapsed(), clip.c_str());
        else
            printf("%8.3f s  playable copy: %s\n", elapsed(), copy.c_str());
    };
    connect(&m_poll, &QTimer::timeout, this, &HeadlessMonitor::poll);
}

HeadlessMonitor::~HeadlessMonitor() {
    finish();
}

void HeadlessMonitor::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(m_out, format, args);
    va_end(args);
    std::fflush(m_out);
}

double HeadlessMonitor::elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
}

bool HeadlessMonitor::start() {
    m_started = std::chrono::steady_clock::now();
    const auto& s = m_settings->settings();
    printf("settings: %s (%s); tracing mode %d, stop rule %d, detect interval %d ms, actions %u\n",
           m_settings->settingsFilePath().c_str(), m_settings->isDefaulted() ? "defaults" : "read from file",
           s.TracingMode, s.StopRule, s.DetectInterval, s.ActionFlags);
    m_host->startUp();
    m_host->setVideoRect(0, 0, m_options.width, m_options.height);
    if (!m_host->engine()) {
        // A size the engine refuses leaves no engine to watch with.
        std::fprintf(stderr,
                     "gardivo-monitor: a picture of %dx%d cannot be watched (1 to %d pixels a side)\n",
                     m_options.width, m_options.height, EngineHost::kMaxVideoSide);
        return false;
    }
    CaptureSession* capture = m_host->capture();
    const CaptureGraph* graph = capture ? capture->graph() : nullptr;
    if (graph && !m_options.source.empty()) {
        // A name that is not listed would watch some other camera without a word.
        const auto names = graph->videoNames();
        if (std::find(names.begin(), names.end(), m_options.source) == names.end()) {
            std::fprintf(stderr, "gardivo-monitor: no source is named \"%s\"; the sources are:\n",
                         m_options.source.c_str());
            for (const auto& name : names)
                std::fprintf(stderr, "  %s\n", name.c_str());
            return false;
        }
    }
    if (!graph || !graph->videoSource()) {
        printf("no source could be opened\n");
        return false;
    }
    printf("source: %s (%d of %zu)\n", graph->videoSource()->name.c_str(), graph->selectedVideo() + 1,
           graph->videoNames().size());
    printf("evidence: %s\nhistory:  %s\n", m_settings->evidenceDirectory().c_str(),
           m_host->engine()->history().databasePath().c_str());
    if (!m_host->webAddress().empty())
        printf("web: %s (certificate SHA-256 %s)\n", m_host->webAddress().c_str(),
               m_host->webFingerprint().c_str());
    else if (m_options.webPort > 0)
        printf("web: off (the log says why)\n");
    if (!m_host->engine()->hasConversionLibrary())
        printf("no conversion module in %s: no frame is counted, nothing is compared\n",
               m_settings->programDirectory().c_str());
    if (m_options.startWatching) {
        m_host->engine()->StartCommand();
        printf("%8.3f s  start: %s\n", elapsed(), detectionModeName(m_host->engine()->mode()));
    }
    m_lastMode = m_host->engine()->mode();
    m_poll.start(50);
    if (m_options.seconds > 0)
        QTimer::singleShot(m_options.seconds * 1000, this, [this] { emit finished(); });
    return true;
}

void HeadlessMonitor::poll() {
    DetectionEngine* engine = m_host->engine();
    if (!engine)
        return;
    if (engine->conditionCount() != m_lastConditions) {
        m_lastConditions = engine->conditionCount();
        const auto& e = engine->event(engine->currentSlot());
        printf("%8.3f s  %s at %s: %u blocks changed; %s%s%s\n", elapsed(), e.Description.c_str(),
               e.Time.c_str(), engine->lastChangedBlocks(), e.ImagePath.c_str(),
               e.VideoPath.empty() ? "" : ", clip ", e.VideoPath.c_str());
    }
    if (engine->lightingChanges() != m_lastLightingChanges) {
        m_lastLightingChanges = engine->lightingChanges();
        printf("%8.3f s  change of light: the reference is taken again\n", elapsed());
    }
    if (engine->mode() != m_lastMode) {
        m_lastMode = engine->mode();
        printf("%8.3f s  mode %s\n", elapsed(), detectionModeName(m_lastMode));
    }
    if (MqttLink* mqtt = m_host->mqtt(); mqtt && mqtt->connected() != m_mqttConnected) {
        m_mqttConnected = mqtt->connected();
        printf("%8.3f s  mqtt: %s\n", elapsed(),
               m_mqttConnected ? "connected" : ("not connected: " + mqtt->lastError()).c_str());
    }
    // Whoever starts it on a camera wants to know the camera answers.
    const CaptureGraph* graph = m_host->capture() ? m_host->capture()->graph() : nullptr;
    if (!m_sawPicture && graph && graph->picturesSeen() > 0) {
        m_sawPicture = true;
        printf("%8.3f s  first picture\n", elapsed());
    }
}

void HeadlessMonitor::finish() {
    if (m_finished)
        return;
    m_finished = true;
    m_poll.stop();
    std::string group;
    std::vector<HistoryRecord> rows;
    const std::string evidence = m_settings->evidenceDirectory();
    if (m_host->engine()) {
        poll();
        group = evidence.substr(evidence.find_last_of('/') + 1);
    }
    m_host->shutdown();
    printf("%8.3f s  stopped\n", elapsed());
    if (evidence.empty())
        return;
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(evidence.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                files.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    printf("files in %s:%s\n", evidence.c_str(), files.empty() ? " none" : "");
    for (const auto& f : files)
        printf("  %s\n", f.c_str());
    HistoryStore history(m_settings->dataDirectory());
    printf("history rows of this run:\n");
    for (const auto& row : history.allRecords())
        if (row.GroupName == group)
            printf("  %s | %s | %s | %s | %s |%s\n", row.GroupName.c_str(), row.Time.c_str(),
                   row.Description.c_str(), row.ImagePath.c_str(), row.VideoPath.c_str(), row.Remark.c_str());
}

} // namespace gardivo
