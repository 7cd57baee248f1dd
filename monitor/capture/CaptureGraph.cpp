// The capture graph's life: the source list, the pipeline made and taken down, the source and
// preview branches, the states of preview, and switching sources. The grabber is in
// CaptureGrabber.cpp, the pipeline's messages and reconnection in CaptureEvents.cpp, the clip
// in Recording.cpp.

#include "CaptureGraph.h"

#include "SourceBin.h"

#include "monitor/engine/DetectionEngine.h"
#include "platform/ProgramDirectory.h"

#include <unistd.h>

namespace gardivo {

namespace {

void removeElements(GstElement* pipeline, std::vector<GstElement*>& elements) {
    for (GstElement* e : elements) {
        gst_element_set_state(e, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline), e);
    }
    elements.clear();
}

} // namespace

CaptureGraph::CaptureGraph(Environment environment, SourceCatalog& catalog, std::string fileName,
                           int recordFormat, int connectorType)
    : m_env(std::move(environment)), m_catalog(catalog), m_recordFormat(recordFormat),
      m_fileName(std::move(fileName)), m_connectorType(connectorType) {
    gst_init(nullptr, nullptr);
    // On a screen every picture is shown.
    m_gate.setOpen(static_cast<bool>(m_env.makePreviewSink));
    if (!m_env.now_ms)
        m_env.now_ms = [] {
            return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
        };
}

CaptureGraph::~CaptureGraph() {
    if (m_env.timers) {
        m_env.timers->killTimer(kCaptureTimer);
        m_env.timers->killTimer(kSourceWatchTimer);
        m_env.timers->killTimer(kReconnectTimer);
    }
    if (m_running == Capturing)
        StopCapture();
    destroyPipeline();
    if (m_env.settings) {
        m_env.settings->registry().deleteKey(m_env.settings->registryRoot(),
                                             SettingsStore::kCaptureDevicesKey);
        ::unlink(joinPath(m_env.settings->programDirectory(), "Colorkey.bmp").c_str());
    }
}

const CaptureSource* CaptureGraph::videoSource() const {
    if (m_selectedVideo < 0 || m_selectedVideo >= static_cast<int>(m_videoSources.size()))
        return nullptr;
    return &m_videoSources[static_cast<size_t>(m_selectedVideo)];
}

std::vector<std::string> CaptureGraph::videoIdentities() const {
    std::vector<std::string> ids;
    for (const auto& s : m_videoSources)
        ids.push_back(s.identity());
    return ids;
}

std::vector<std::string> CaptureGraph::videoNames() const {
    std::vector<std::string> names;
    for (const auto& s : m_videoSources)
        names.push_back(s.name);
    return names;
}

void CaptureGraph::enumerateSources() {
    m_catalog.enumerate();
    m_videoSources = m_catalog.video();
    m_audioSources = m_catalog.audio();
}

bool CaptureGraph::Open() {
    // Device enumeration.
    m_selectedVideo = m_selectedAudio = -1;
    enumerateSources();
    const std::vector<std::string> names = videoNames();
    if (!m_videoSources.empty()) {
        m_selectedVideo = 0;
        // The device the settings chose, when it is still there.
        if (m_env.settings) {
            const int chosen = m_env.settings->settings().CaptureDevice;
            if (chosen > 0 && chosen < static_cast<int>(m_videoSources.size()))
                m_selectedVideo = chosen;
            m_env.settings->writeCaptureDevices(names);
        }
        for (size_t i = 0; i < names.size(); ++i)
            if (!m_preferredSource.empty() && names[i] == m_preferredSource)
                m_selectedVideo = static_cast<int>(i);
        if (m_env.settings)
            m_env.settings->settings().CaptureDevice = m_selectedVideo;
    } else {
        m_env.reporter->say("There's no capture driver!");
    }
    if (audioAvailable())
        m_selectedAudio = 0;
    return createGraph();
}

bool CaptureGraph::createGraph() {
    destroyPipeline();
    GstElement* pipeline = gst_pipeline_new("gardivo-capture");
    if (!pipeline)
        return false;
    m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, busSyncHandler, this, nullptr);
    gst_object_unref(bus);
    if (!videoSource())
        return false;
    if (!ensureSource()) {
        m_env.reporter->say("Error ocurred in connecting capture driver!");
        return false;
    }
    m_audioCapturable = true;
    return true;
}

void CaptureGraph::destroyPipeline() {
    if (!m_pipeline)
        return;
    removeRecordingBranch();
    removeRing();
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(m_pipeline.get());
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    m_pipeline.reset();
    m_source = m_mainTee = m_grabberTee = m_grabberCaps = m_grabber = nullptr;
    m_previewElements.clear();
    m_grabberElements.clear();
    m_grabberConnected = false;
    m_built = NothingBuilt;
    m_running = Stopped;
    std::lock_guard lock(m_sampleMutex);
    m_sample.reset();
}

void CaptureGraph::Close() {
    if (m_env.timers) {
        m_env.timers->killTimer(kSourceWatchTimer);
        m_env.timers->killTimer(kReconnectTimer);
    }
    m_reconnectPending = false;
    m_outage = false; // another source, or none: what was said of this one is over
    destroyPipeline();
}

bool CaptureGraph::ensureSource() {
    if (m_source)
        return true;
    const CaptureSource* source = videoSource();
    if (!source || !m_pipeline)
        return false;
    std::string error;
    GstElement* element = SourceCatalog::createVideoSource(*source, error);
    if (!element) {
        m_env.reporter->report("AddFilter:VideoCaptureFilter", CaptureReporter::Failure::Failed, error);
        return false;
    }
    SourceBin::gateJpegDecoders(element, &m_gate);
    GstElement* tee = makeElement("tee", "source-tee");
    gst_bin_add_many(GST_BIN(m_pipeline.get()), element, tee, nullptr);
    if (!gst_element_link(element, tee)) {
        gst_bin_remove_many(GST_BIN(m_pipeline.get()), element, tee, nullptr);
        return false;
    }
    m_source = element;
    m_mainTee = tee;
    return true;
}

bool CaptureGraph::ensurePreviewBranch() {
    if (!m_previewElements.empty())
        return true;
    GstElement* sink = m_env.makePreviewSink ? m_env.makePreviewSink() : nullptr;
    if (!sink) {
        // No screen: nothing to convert or scale the pictures for.
        sink = makeElement("fakesink", "preview-sink");
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(GST_BIN(m_pipeline.get()), sink);
        m_previewElements = {sink};
        return gst_element_link(m_mainTee, sink);
    }
    GstElement* queue = makeElement("queue", "preview-queue");
    GstElement* convert = makeElement("videoconvert", "preview-convert");
    GstElement* scale = makeElement("videoscale", "preview-scale");
    g_object_set(queue, "leaky", 2, "max-size-buffers", 2, "max-size-bytes", 0, "max-size-time",
                 G_GUINT64_CONSTANT(0), nullptr);
    gst_bin_add_many(GST_BIN(m_pipeline.get()), queue, convert, scale, sink, nullptr);
    m_previewElements = {queue, convert, scale, sink};
    if (!gst_element_link_many(m_mainTee, queue, convert, scale, sink, nullptr)) {
        m_env.reporter->say("Cannot preview!");
        return false;
    }
    return true;
}

bool CaptureGraph::BuildPreviewGraph() {
    if (m_built == PreviewBuilt)
        return true;
    if (!videoSource() || !m_pipeline)
        return false;
    if (m_built == CaptureBuilt)
        TearDown(false);
    if (!ensureSource())
        return false;
    const bool preview = ensurePreviewBranch();
    if (DetectionEngine* engine = m_env.engine ? m_env.engine() : nullptr)
        SetCaptureSize(engine->frameWidth(), engine->frameHeight());
    ensureGrabberBranch();
    if (!preview)
        return false;
    m_built = PreviewBuilt;
    return true;
}

bool CaptureGraph::StartPreview() {
    if (m_running == Previewing)
        return true;
    if (!m_pipeline)
        return false;
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The reason is on the bus already: the element that failed said it before the change
        // came back.
        std::string reason = "it cannot be started";
        {
            std::lock_guard lock(m_busMutex);
            for (const auto& message : m_busMessages)
                if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
                    GError* error = nullptr;
                    gst_message_parse_error(message.get(), &error, nullptr);
                    if (error)
                        reason = error->message;
                    g_clear_error(&error);
                }
            m_busMessages.clear();
        }
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        sourceFailed(reason);
        return false;
    }
    resumeTracing();
    m_running = Previewing;
    m_lastProgress = std::chrono::steady_clock::now();
    m_samplesAtLastWatch = m_samples;
    m_samplesAtStart = m_samples;
    if (m_env.timers)
        m_env.timers->setTimer(kSourceWatchTimer, 1000);
    updateRing();
    return true;
}

bool CaptureGraph::StopPreview() {
    if (m_running != Previewing)
        return false;
    pauseTracing();
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        m_env.reporter->report("StopPreview");
        return false;
    }
    m_running = Stopped;
    return true;
}

// Tracing waits while the picture is being rebuilt; exactly what a stop held is let go again.
void CaptureGraph::pauseTracing() {
    if (!m_env.settings || m_pausedTracing)
        return;
    DetectionEngine* engine = m_env.engine ? m_env.engine() : nullptr;
    if (engine && m_env.settings->mode() == gardivo::Tracing && m_env.settings->settings().TracingMode != 0) {
        engine->pauseTracingEvent().reset();
        m_pausedTracing = true;
    }
}

void CaptureGraph::resumeTracing() {
    if (!m_pausedTracing)
        return;
    m_pausedTracing = false;
    if (m_env.clock && m_env.interrupt)
        m_env.clock->sleep(std::chrono::milliseconds(500), *m_env.interrupt);
    if (DetectionEngine* engine = m_env.engine ? m_env.engine() : nullptr)
        engine->pauseTracingEvent().set();
}

void CaptureGraph::TearDown(bool full) {
    removeRecordingBranch();
    if (full && m_pipeline) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_running = Stopped;
        removeRing();
        removeElements(m_pipeline.get(), m_previewElements);
        removeElements(m_pipeline.get(), m_grabberElements);
        m_grabber = m_grabberTee = m_grabberCaps = nullptr;
        std::lock_guard lock(m_sampleMutex);
        m_sample.reset();
    }
    if (full)
        m_grabberConnected = false;
    m_built = NothingBuilt;
}

int CaptureGraph::SelectDevice(int videoIndex, int audioIndex) {
    // An index from another program is checked before anything is torn down.
    if (videoIndex < 0 || videoIndex >= static_cast<int>(m_videoSources.size()))
        return 0;
    if (audioIndex < 0 || audioIndex >= static_cast<int>(m_audioSources.size()))
        audioIndex = m_audioSources.empty() ? -1 : 0;
    if (m_running == Capturing)
        StopCapture();
    if (m_running == Previewing)
        StopPreview();
    if (m_built != NothingBuilt)
        TearDown(true);
    Close();
    m_selectedVideo = videoIndex;
    m_selectedAudio = audioIndex;
    if (!createGraph())
        return 0;
    if (m_env.settings)
        m_env.settings->settings().CaptureDevice = videoIndex;
    return videoIndex;
}

void CaptureGraph::Reenumerate() {
    const std::string running = videoSource() ? videoSource()->identity() : std::string();
    enumerateSources();
    // The source in use keeps running; only its place in the list may change.
    int found = -1;
    for (size_t i = 0; i < m_videoSources.size(); ++i)
        if (m_videoSources[i].identity() == running)
            found = static_cast<int>(i);
    if (found >= 0) {
        m_selectedVideo = found;
        if (m_env.settings)
            m_env.settings->settings().CaptureDevice = found;
    }
    if (m_selectedAudio >= static_cast<int>(m_audioSources.size()))
        m_selectedAudio = audioAvailable() ? 0 : -1;
    if (m_env.settings)
        m_env.settings->writeCaptureDevices(videoNames());
}

} // namespace gardivo
