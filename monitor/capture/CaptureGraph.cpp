#include "CaptureGraph.h"

#include "PixelConversionLibrary.h"
#include "SourceBin.h"
#include "monitor/engine/DetectionEngine.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/FileOps.h"
#include "platform/ProgramDirectory.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace gardivo {

namespace {

constexpr int kMaxCaptureSide = 4096;
constexpr int kMaxReconnectDelay_ms = 30000;

// Whether an element is the given one or lies inside it.
bool isWithin(GstObject* object, GstElement* container) {
    for (GstObject* o = object; o; o = GST_OBJECT_PARENT(o))
        if (o == GST_OBJECT(container))
            return true;
    return false;
}

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

GstCaps* CaptureGraph::grabberCaps() const {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "UYVY", "width", G_TYPE_INT,
                               grabWidth(), "height", G_TYPE_INT, m_frameHeight, nullptr);
}

bool CaptureGraph::ensurePreviewBranch() {
    if (!m_previewElements.empty())
        return true;
    GstElement* queue = makeElement("queue", "preview-queue");
    GstElement* convert = makeElement("videoconvert", "preview-convert");
    GstElement* scale = makeElement("videoscale", "preview-scale");
    GstElement* sink = m_env.makePreviewSink ? m_env.makePreviewSink() : nullptr;
    if (!sink) {
        sink = makeElement("fakesink", "preview-sink");
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    }
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

bool CaptureGraph::ensureGrabberBranch() {
    if (m_grabber)
        return m_grabberConnected;
    GstElement* queue = makeElement("queue", "grabber-queue");
    GstElement* convert = makeElement("videoconvert", "grabber-convert");
    GstElement* scale = makeElement("videoscale", "grabber-scale");
    GstElement* caps = makeElement("capsfilter", "grabber-caps");
    GstElement* tee = makeElement("tee", "grabber-tee");
    GstElement* sink = makeElement("appsink", "Grabber");
    if (!queue || !convert || !scale || !caps || !tee || !sink) {
        m_env.reporter->report("CoCreateInstance:CLSID_SampleGrabber");
        for (GstElement* e : {queue, convert, scale, caps, tee, sink})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return false;
    }
    // Only the newest frame matters to the detector; older ones are dropped on the way.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 1, "max-size-bytes", 0, "max-size-time",
                 G_GUINT64_CONSTANT(0), nullptr);
    CapsRef uyvy(grabberCaps());
    g_object_set(caps, "caps", uyvy.get(), nullptr);
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    g_object_set(sink, "max-buffers", 1, "drop", TRUE, "sync", FALSE, "async", FALSE, "enable-last-sample",
                 FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(m_pipeline.get()), queue, convert, scale, caps, tee, sink, nullptr);
    m_grabberElements = {queue, convert, scale, caps, tee, sink};
    m_grabberCaps = caps;
    m_grabberTee = tee;
    m_grabber = sink;
    m_grabberConnected = gst_element_link_many(m_mainTee, queue, convert, scale, caps, tee, sink, nullptr);
    if (!m_grabberConnected)
        m_env.reporter->report("Connect:Capture-Grabber", CaptureReporter::Failure::CannotConnect);
    return m_grabberConnected;
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

bool CaptureGraph::SetCaptureSize(int width, int height) {
    // A size from a page is checked like any input: the grid, the caps and the bitmaps hold it.
    if (width < 1 || height < 1 || width > kMaxCaptureSide || height > kMaxCaptureSide)
        return false;
    if (width == m_frameWidth && height == m_frameHeight)
        return true;
    // A clip being written keeps its size to the end.
    if (m_running == Capturing)
        return false;
    m_frameWidth = width;
    m_frameHeight = height;
    if (m_grabberCaps) {
        CapsRef caps(grabberCaps());
        g_object_set(m_grabberCaps, "caps", caps.get(), nullptr);
    }
    return true;
}

GstFlowReturn CaptureGraph::onNewSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<CaptureGraph*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    std::lock_guard lock(self->m_sampleMutex);
    self->m_sample.reset(sample);
    self->m_sampleTime = std::chrono::steady_clock::now();
    ++self->m_samples;
    return GST_FLOW_OK;
}

bool CaptureGraph::GrabFrame(std::vector<uint8_t>& slot) {
    SampleRef sample;
    {
        std::lock_guard lock(m_sampleMutex);
        if (!m_sample || std::chrono::steady_clock::now() - m_sampleTime > kStaleFrame)
            return false;
        sample.reset(gst_sample_ref(m_sample.get()));
    }
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_UYVY)
        return false;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    // The size of the sample's own caps: they lag a change of size by a frame or two. A frame
    // of the old size is not handed out, so that no reference of the wrong size is taken.
    const size_t width = static_cast<size_t>(GST_VIDEO_FRAME_WIDTH(&frame));
    const size_t height = static_cast<size_t>(GST_VIDEO_FRAME_HEIGHT(&frame));
    if (width != static_cast<size_t>(grabWidth()) || height != static_cast<size_t>(m_frameHeight)) {
        gst_video_frame_unmap(&frame);
        return false;
    }
    // An odd width is grabbed one pixel wider, UYVY coming in pairs; each row handed out has
    // exactly the asked width, so that the detector's rows line up with the picture's.
    const size_t rowBytes = static_cast<size_t>(m_frameWidth) * 2;
    const size_t stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    slot.resize(rowBytes * height);
    for (size_t y = 0; y < height; ++y)
        std::memcpy(slot.data() + y * rowBytes, data + y * stride, rowBytes);
    gst_video_frame_unmap(&frame);
    return true;
}

bool CaptureGraph::SnapshotToFile(const std::string& path) {
    std::vector<uint8_t> frame;
    if (!GrabFrame(frame) || frame.empty() || !m_env.settings)
        return false;
    // A frame is handed out only at the asked size.
    const GardivoBitmapInfoHeader header = bitmapHeaderFor(m_frameWidth, m_frameHeight);
    const auto headers = bitmapFileHeaders(m_frameWidth, m_frameHeight);
    std::string file(headers.begin(), headers.end());
    file.resize(headers.size() + header.biSizeImage);
    // The module is loaded for the snapshot and let go after it.
    PixelConversionLibrary library(m_env.settings->programDirectory());
    if (!library.convertToRgb(header, reinterpret_cast<uint8_t*>(file.data() + headers.size()), frame.data()))
        return false;
    // Written aside and renamed: whoever looks at the folder sees the whole picture or none.
    return ReplaceFile(path, file);
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

GstBusSyncReply CaptureGraph::busSyncHandler(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<CaptureGraph*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ELEMENT: {
        // Kept for the engine thread, which is told to take them; queued before it is told, so
        // that it always finds what it was told of.
        {
            std::lock_guard lock(self->m_busMutex);
            self->m_busMessages.emplace_back(message);
        }
        if (self->m_env.postGraphEvent)
            self->m_env.postGraphEvent();
        return GST_BUS_DROP;
    }
    default:
        // Nobody reads the rest; kept, it would pile up on the bus.
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
}

void CaptureGraph::OnGraphEvent() {
    std::vector<MessageRef> messages;
    {
        std::lock_guard lock(m_busMutex);
        messages.swap(m_busMessages);
    }
    for (auto& message : messages) {
        if (!m_pipeline)
            return; // torn down on the way
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR:
            handleError(message.get());
            if (!m_pipeline)
                return; // torn down on the way
            break;
        case GST_MESSAGE_EOS:
            // The source came to its end (a video file): a clip under way is closed and the
            // source is started again. One that ends before its first picture has none to give.
            if (m_running == Capturing)
                stopRecordingFromGraph();
            if (m_samples == m_samplesAtStart)
                sourceFailed("it ended before its first picture");
            else
                scheduleReconnect();
            break;
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* s = gst_message_get_structure(message.get());
            if (s && gst_structure_has_name(s, SourceBin::kNoVideoMessage)) {
                const char* reason = gst_structure_get_string(s, "reason");
                if (m_running == Capturing)
                    stopRecordingFromGraph();
                sourceFailed(reason ? reason : "it gives no video");
            } else if (s && m_env.onElementMessage) {
                m_env.onElementMessage(s);
            }
            break;
        }
        default:
            break;
        }
    }
}

void CaptureGraph::handleError(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    const std::string text = error ? error->message : "";
    const bool diskFull =
        error && error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT;
    // A format error of the grabber's own elements means no UYVY; one of the source (a camera
    // that hung up in the middle of a picture) means only that the source failed.
    const bool notNegotiated =
        error && error->domain == GST_STREAM_ERROR &&
        (error->code == GST_STREAM_ERROR_FORMAT || error->code == GST_STREAM_ERROR_WRONG_TYPE) &&
        std::any_of(m_grabberElements.begin(), m_grabberElements.end(),
                    [&](GstElement* e) { return isWithin(GST_MESSAGE_SRC(message), e); });
    const bool fromRecording =
        m_recording && (std::any_of(m_recording->video.begin(), m_recording->video.end(),
                                    [&](GstElement* e) { return isWithin(GST_MESSAGE_SRC(message), e); }) ||
                        std::any_of(m_recording->audio.begin(), m_recording->audio.end(),
                                    [&](GstElement* e) { return isWithin(GST_MESSAGE_SRC(message), e); }));
    const bool flowNotNegotiated = debug && std::strstr(debug, "not-negotiated");
    g_clear_error(&error);
    g_free(debug);
    if (fromRecording)
        m_recording->failed = true;

    if (m_running == Capturing) {
        // A failure while capturing ends the clip.
        stopRecordingFromGraph();
        if (diskFull)
            m_env.reporter->say("Disk is gonna be full!");
        else
            m_env.reporter->report("EC_ERRORABORT", CaptureReporter::Failure::Failed, text);
        if (fromRecording)
            return;
    } else if (fromRecording) {
        return;
    }
    if ((notNegotiated || flowNotNegotiated) && m_samples != m_samplesAtStart) {
        // The grabber had its pictures, so their format is not what failed: a clip's branch
        // refused its own (an MPEG encoder and an odd frame rate) and the refusal came back up
        // the shared tee, stopping the grabber's branch too. The clip is over; the pictures are
        // started again so that watching goes on.
        scheduleReconnect();
        return;
    }
    // The source gives nothing the grabber can turn into UYVY: said once, and nothing is grabbed.
    if (notNegotiated || flowNotNegotiated) {
        m_grabberConnected = false;
        if (!m_uyvyReported) {
            m_uyvyReported = true;
            m_env.reporter->report("Connect:Capture-Grabber", CaptureReporter::Failure::CannotConnect, text);
        }
        return;
    }
    // The source failed (a network camera that dropped, a device that broke off): tried again.
    sourceFailed(text);
}

void CaptureGraph::sourceFailed(const std::string& reason) {
    // Said when an outage begins, not at every try: a camera that is away for an hour would
    // otherwise fill the screen with boxes.
    if (!m_outage) {
        m_outage = true;
        const CaptureSource* source = videoSource();
        std::string why = reason;
        while (!why.empty() && (why.back() == '.' || why.back() == ' '))
            why.pop_back(); // the media framework's texts end in a full stop of their own
        m_env.reporter->say("The video source \"" + (source ? source->name : std::string()) +
                            "\" gives no picture: " + why + ". Gardivo tries again by itself.");
    }
    scheduleReconnect();
}

void CaptureGraph::stopRecordingFromGraph() {
    if (m_stopRecording)
        m_stopRecording();
    else
        StopCapture();
}

void CaptureGraph::scheduleReconnect() {
    if (m_reconnectPending || !m_env.timers)
        return;
    m_reconnectPending = true;
    m_env.timers->setTimer(kReconnectTimer, m_reconnectDelay_ms);
    m_reconnectDelay_ms = std::min(m_reconnectDelay_ms * 2, kMaxReconnectDelay_ms);
}

void CaptureGraph::reconnect() {
    m_reconnectPending = false;
    if (m_env.timers)
        m_env.timers->killTimer(kReconnectTimer);
    if (m_running == Capturing)
        stopRecordingFromGraph();
    TearDown(true);
    if (!createGraph() || !BuildPreviewGraph() || !StartPreview())
        scheduleReconnect();
}

void CaptureGraph::OnTimer(int id) {
    if (id == kCaptureTimer) {
        OnCaptureTimer();
    } else if (id == kReconnectTimer) {
        reconnect();
    } else if (id == kSourceWatchTimer) {
        // A source that stops giving pictures without a word is treated as one that failed.
        const uint64_t samples = m_samples;
        const auto now = std::chrono::steady_clock::now();
        if (samples != m_samplesAtLastWatch || m_running == Stopped) {
            m_samplesAtLastWatch = samples;
            m_lastProgress = now;
            // Pictures still on their way when the source failed do not count: only those of
            // a source started since.
            if (samples != m_samplesAtStart && !m_reconnectPending) {
                m_reconnectDelay_ms = 1000; // it works again: the next failure is retried soon
                if (m_outage) {
                    m_outage = false;
                    const CaptureSource* source = videoSource();
                    m_env.reporter->say("The video source \"" + (source ? source->name : std::string()) +
                                        "\" gives pictures again.");
                }
            }
        } else if (now - m_lastProgress > m_env.stallTime && !m_reconnectPending) {
            m_lastProgress = now;
            sourceFailed(
                "no picture came for " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_env.stallTime).count()) +
                " s");
        }
    }
}

bool CaptureGraph::OnDeviceRemoved(const std::string& identity) {
    const CaptureSource* source = videoSource();
    if (!source || source->identity() != identity)
        return false;
    m_env.reporter->say("The capture device has just been removed!");
    if (m_running == Capturing)
        stopRecordingFromGraph();
    TearDown(true);
    Close();
    return true;
}

} // namespace gardivo
