// Recording: the branch that writes a clip from the grabber's frames, its statistics over the
// picture, the time limit and the watch over the disk.

#include "CaptureGraph.h"

#include "monitor/engine/DetectionEngine.h"
#include "platform/ProgramDirectory.h"
#include "settings/SettingsLimits.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

const char* firstFactory(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (GstElementFactory* f = gst_element_factory_find(name)) {
            gst_object_unref(f);
            return name;
        }
    return nullptr;
}

// Whether an encoder takes pictures at all: the libav MPEG encoders of some releases (Debian 12's)
// refuse every frame rate, which would only show once a clip is under way. Tried once a process
// on a few small pictures.
bool encoderWorks(const char* name) {
    static std::mutex mutex;
    static std::map<std::string, bool> known;
    std::lock_guard lock(mutex);
    if (auto it = known.find(name); it != known.end())
        return it->second;
    const std::string description = std::string("videotestsrc num-buffers=3 ! video/x-raw,width=64,height=48,"
                                                "framerate=30/1 ! videoconvert ! ") +
                                    name + " ! fakesink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    bool works = false;
    if (pipeline && !error) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, 5 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        works = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        if (message)
            gst_message_unref(message);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
    }
    g_clear_error(&error);
    if (pipeline)
        gst_object_unref(pipeline);
    known[name] = works;
    return works;
}

const char* firstWorkingEncoder(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (firstFactory({name}) && encoderWorks(name))
            return name;
    return nullptr;
}

constexpr std::chrono::seconds kClipEndWait{5};

// Two seconds of frames may wait for the encoder; beyond that the oldest go, and count as
// dropped, rather than holding up the source.
void makeLeaky(GstElement* queue) {
    g_object_set(queue, "leaky", 2, "max-size-buffers", 60, "max-size-bytes", 0, "max-size-time",
                 G_GUINT64_CONSTANT(0), nullptr);
}

} // namespace

void CaptureGraph::setRecording(int format, bool audio, int timeLimit_s, const std::string& fileName) {
    m_recordFormat = format;
    m_recordAudio = audio;
    m_timeLimit_s = timeLimit_s;
    m_fileName = fileName;
}

// Counts the frames that reach the clip's writer.
static GstPadProbeReturn countWritten(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* counter = static_cast<std::atomic<uint64_t>*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER)
        ++*counter;
    return GST_PAD_PROBE_OK;
}

std::string CaptureGraph::clipFile(const char* unnamed) const {
    if (!m_fileName.empty())
        return m_fileName;
    return joinPath(m_env.settings ? m_env.settings->homeDirectory() : homeDirectory(), unnamed);
}

bool CaptureGraph::buildAviBranch() {
    GstElement* sink = makeElement("trv2avisink", "record-sink");
    if (m_ringTeePad) {
        // The ring encodes already: its pictures go straight into the file, the earlier ones first.
        GstElement* source = makeElement("appsrc", "record-source");
        g_object_set(source, "format", GST_FORMAT_TIME, "is-live", TRUE, "max-bytes",
                     guint64(PrerecordRing::kMaxBytes * 2), nullptr);
        gst_bin_add_many(GST_BIN(m_pipeline.get()), source, sink, nullptr);
        m_recording->video = {source, sink};
        m_recording->ringSource = source;
        m_recording->sink = sink;
        m_recording->soundInput = sink;
        if (!gst_element_link(source, sink)) {
            m_env.reporter->report("SetOutputFileName");
            return false;
        }
        g_object_set(sink, "location", clipFile("capture.avi").c_str(), nullptr);
        return true;
    }
    GstElement* queue = makeElement("queue", "record-queue");
    GstElement* encoder = makeElement("trv2enc", "Tavrin TRV2 Video Codec");
    if (!encoder) {
        // Without the compressor there would be nothing between the grabber and the file.
        m_env.reporter->report("AddFilter:TRV2Codec");
        for (GstElement* e : {queue, sink})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return false;
    }
    g_object_set(sink, "location", clipFile("capture.avi").c_str(), nullptr);
    makeLeaky(queue);
    std::vector<GstElement*> chain{queue};
    if (!m_grabberConnected) {
        // No grabber frames to hang on: the clip converts the source's own.
        GstElement* convert = makeElement("videoconvert");
        GstElement* scale = makeElement("videoscale");
        GstElement* caps = makeElement("capsfilter");
        CapsRef uyvy(grabberCaps());
        g_object_set(caps, "caps", uyvy.get(), nullptr);
        chain.insert(chain.end(), {convert, scale, caps});
    }
    chain.insert(chain.end(), {encoder, sink});
    for (GstElement* e : chain)
        gst_bin_add(GST_BIN(m_pipeline.get()), e);
    m_recording->video = chain;
    m_recording->queue = queue;
    m_recording->sink = sink;
    m_recording->soundInput = sink;
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        if (!gst_element_link(chain[i], chain[i + 1])) {
            m_env.reporter->report("SetOutputFileName");
            return false;
        }
    return true;
}

bool CaptureGraph::buildMpegBranch() {
    // mjpegtools' encoder first; an installed encoder that refuses every picture counts as none.
    const char* encoderName = m_recordFormat == Mpeg1 ? firstWorkingEncoder({"mpeg2enc", "avenc_mpeg1video"})
                                                      : firstWorkingEncoder({"mpeg2enc", "avenc_mpeg2video"});
    const char* muxName = m_recordFormat == Mpeg1 ? firstFactory({"mpegpsmux", "avmux_mpeg"})
                                                  : firstFactory({"mpegpsmux", "avmux_dvd"});
    if (!encoderName) {
        m_env.reporter->report("AddFilter:MPEG Encoder", CaptureReporter::Failure::Failed,
                               "no MPEG video encoder that works is installed");
        return false;
    }
    if (!muxName) {
        m_env.reporter->report("AddFilter:MPEG MUX", CaptureReporter::Failure::Failed,
                               "no MPEG program stream multiplexer is installed");
        return false;
    }
    GstElement* queue = makeElement("queue", "record-queue");
    GstElement* convert = makeElement("videoconvert");
    GstElement* encoder = makeElement(encoderName, "MPEG Encoder");
    GstElement* mux = makeElement(muxName, "MPEG Muliplexer");
    GstElement* sink = makeElement("filesink", "MPEG File Writer");
    if (std::string(encoderName) == "mpeg2enc")
        g_object_set(encoder, "format", m_recordFormat == Mpeg1 ? 0 : 3, nullptr);
    g_object_set(sink, "location", clipFile("capture.mpg").c_str(), nullptr);
    makeLeaky(queue);
    const std::vector<GstElement*> chain{queue, convert, encoder, mux, sink};
    for (GstElement* e : chain)
        gst_bin_add(GST_BIN(m_pipeline.get()), e);
    m_recording->video = chain;
    m_recording->queue = queue;
    m_recording->sink = sink;
    m_recording->soundInput = mux;
    m_recording->avi = false;
    if (!gst_element_link_many(queue, convert, encoder, mux, sink, nullptr)) {
        m_env.reporter->report("Connect:Encoder-Multiplexer");
        return false;
    }
    return true;
}

bool CaptureGraph::addAudioBranch() {
    std::string error;
    GstElement* source =
        m_selectedAudio >= 0
            ? SourceCatalog::createAudioSource(m_audioSources[static_cast<size_t>(m_selectedAudio)], error)
            : nullptr;
    bool ok = source != nullptr;
    if (ok) {
        gst_bin_add(GST_BIN(m_pipeline.get()), source);
        ok = gst_element_set_state(source, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    }
    std::vector<GstElement*> chain;
    if (ok) {
        GstElement* queue = makeElement("queue");
        GstElement* convert = makeElement("audioconvert");
        GstElement* resample = makeElement("audioresample");
        GstElement* caps = makeElement("capsfilter");
        GstElement* encoder = nullptr;
        CapsRef pcm(gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved,channels=[1,2]"));
        g_object_set(caps, "caps", pcm.get(), nullptr);
        chain = {source, queue, convert, resample, caps};
        if (!m_recording->avi) {
            const char* name = firstFactory({"avenc_mp2", "twolame", "lamemp3enc"});
            encoder = name ? makeElement(name, "MPEG Audio Encoder") : nullptr;
            if (!encoder) {
                m_env.reporter->report("AddFilter:MPEG Audio Encoder");
                ok = false;
            } else {
                chain.push_back(encoder);
            }
        }
        for (size_t i = 1; i < chain.size(); ++i)
            gst_bin_add(GST_BIN(m_pipeline.get()), chain[i]);
        for (size_t i = 0; ok && i + 1 < chain.size(); ++i)
            ok = gst_element_link(chain[i], chain[i + 1]);
        if (ok) {
            ok = gst_element_link(chain.back(), m_recording->soundInput);
        }
    }
    if (ok) {
        m_recording->audioSource = source;
        m_recording->audio = chain;
        return true;
    }
    // The sound cannot be captured: the user decides whether the clip goes without it.
    for (GstElement* e : chain.empty() ? std::vector<GstElement*>{source} : chain)
        if (e && GST_OBJECT_PARENT(e) == GST_OBJECT(m_pipeline.get())) {
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(m_pipeline.get()), e);
        } else if (e) {
            gst_object_unref(gst_object_ref_sink(e));
        }
    if (m_env.reporter->ask("CAPTURE_AUDIO_ERROR", "Tavrin Recordo", MessageButtons::YesNo) !=
        MessageAnswer::Yes)
        return false;
    m_recordAudio = false;
    return true;
}

bool CaptureGraph::BuildCaptureGraph() {
    if (m_built == CaptureBuilt)
        return true;
    if (!videoSource() || !m_pipeline || m_running == Capturing)
        return false;
    if (m_recordAudio && m_selectedAudio < 0)
        return false;
    if (m_built != PreviewBuilt && !BuildPreviewGraph())
        return false;
    m_recording = std::make_unique<Branch>();
    const bool built = m_recordFormat == Avi ? buildAviBranch() : buildMpegBranch();
    if (!built || (m_recordAudio && !addAudioBranch())) {
        TearDown(false);
        return false;
    }
    // The frames the writer takes.
    if (GstPad* pad = gst_element_get_static_pad(m_recording->sink, m_recording->avi ? "video" : "sink")) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countWritten, &m_framesWritten, nullptr);
        gst_object_unref(pad);
    }
    if (m_recording->queue)
        g_signal_connect_swapped(m_recording->queue, "overrun", G_CALLBACK(+[](gpointer data) {
                                     ++*static_cast<std::atomic<uint64_t>*>(data);
                                 }),
                                 &m_framesDropped);
    const auto noteEnd = +[](GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* branch = static_cast<Branch*>(data);
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
            std::lock_guard lock(branch->mutex);
            ++branch->endsSeen;
            branch->ended.notify_all();
        }
        return GST_PAD_PROBE_OK;
    };
    GstIterator* pads = gst_element_iterate_sink_pads(m_recording->sink);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
        GstPad* pad = GST_PAD(g_value_get_object(&item));
        if (gst_pad_is_linked(pad))
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, noteEnd, m_recording.get(), nullptr);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(pads);
    m_built = CaptureBuilt;
    return true;
}

bool CaptureGraph::StartCapture() {
    if (m_running == Capturing)
        return true;
    if (!m_recording || m_recording->linked)
        return false;
    m_framesWritten = 0;
    m_framesDropped = 0;
    m_diskFullStop = false;
    // A clip that the disk watch would stop at its first look is not begun: stopping it from
    // inside its own start would leave the branch torn down under a running clip.
    if (diskIsLow()) {
        sayDiskWillBeFull();
        return false;
    }
    // The writer first, then each element up to the queue, so that nothing flows into an
    // element that is not ready; then the branch is hung on the grabber's frames. A writer that
    // cannot open its file refuses here, before any history row or mail could name the clip.
    const std::string file = clipFile(m_recordFormat == Avi ? "capture.avi" : "capture.mpg");
    // The AVI writer opens its file with the first picture, too late to refuse the clip; the
    // file is made here, and the writer takes it over.
    struct stat before {};
    const bool existed = ::stat(file.c_str(), &before) == 0;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    m_placeholderClip = existed ? std::string() : file;
    if (fd < 0) {
        m_env.reporter->report("Start Capture", CaptureReporter::Failure::Failed,
                               "cannot write " + file + ": " + std::strerror(errno));
        return false;
    }
    ::close(fd);
    bool ready = true;
    for (auto it = m_recording->video.rbegin(); ready && it != m_recording->video.rend(); ++it)
        ready = gst_element_sync_state_with_parent(*it);
    for (auto it = m_recording->audio.rbegin(); ready && it != m_recording->audio.rend(); ++it)
        ready = gst_element_sync_state_with_parent(*it);
    if (!ready) {
        removeEmptyPlaceholder();
        m_env.reporter->report("Start Capture", CaptureReporter::Failure::Failed, "cannot write " + file);
        return false;
    }
    // Every picture goes into the clip, not only those the detector looks at.
    m_gate.setOpen(true);
    m_framesFromBefore = 0;
    if (m_recording->ringSource) {
        m_framesFromBefore = m_ring.attach(GST_APP_SRC(m_recording->ringSource));
    } else {
        GstElement* tee = m_grabberConnected ? m_grabberTee : m_mainTee;
        m_recording->teePad = gst_element_request_pad_simple(tee, "src_%u");
        GstPad* queueSink = gst_element_get_static_pad(m_recording->queue, "sink");
        const bool linked =
            m_recording->teePad && gst_pad_link(m_recording->teePad, queueSink) == GST_PAD_LINK_OK;
        gst_object_unref(queueSink);
        if (!linked) {
            applyGate();
            removeEmptyPlaceholder();
            m_env.reporter->report("Start Capture");
            return false;
        }
    }
    m_recording->linked = true;
    if (GST_STATE(m_pipeline.get()) != GST_STATE_PLAYING &&
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        m_ring.detach();
        applyGate();
        removeEmptyPlaceholder();
        m_env.reporter->report("Run");
        return false;
    }
    resumeTracing();
    m_captureStart_ms = m_env.now_ms();
    // Capturing before the first statistics: should they stop the clip, it is stopped whole.
    m_running = Capturing;
    if (m_env.timers)
        m_env.timers->setTimer(kCaptureTimer, kCaptureTimerPeriod_ms);
    DisplayCaptureStatistics(true);
    return m_running == Capturing;
}

bool CaptureGraph::StopCapture() {
    if (m_running != Capturing)
        return false;
    pauseTracing();
    Branch& b = *m_recording;
    // Off the grabber's frames, then the end of the streams is sent after what is still queued,
    // so that every frame taken is written and the file finished.
    if (b.teePad) {
        GstPad* queueSink = gst_element_get_static_pad(b.queue, "sink");
        gst_pad_unlink(b.teePad, queueSink);
        gst_element_release_request_pad(GST_ELEMENT(GST_OBJECT_PARENT(b.teePad)), b.teePad);
        gst_object_unref(b.teePad);
        b.teePad = nullptr;
        gst_pad_send_event(queueSink, gst_event_new_eos());
        gst_object_unref(queueSink);
    }
    if (b.ringSource) {
        m_ring.detach();
        gst_app_src_end_of_stream(GST_APP_SRC(b.ringSource));
    }
    if (b.audioSource)
        gst_element_send_event(b.audioSource, gst_event_new_eos());
    const int expected = b.failed ? 0 : (b.audioSource ? 2 : 1);
    {
        std::unique_lock lock(b.mutex);
        b.ended.wait_for(lock, kClipEndWait, [&] { return b.endsSeen >= expected; });
    }
    // Stopping the writer finishes the file in any case.
    for (GstElement* e : b.audio)
        gst_element_set_state(e, GST_STATE_NULL);
    for (GstElement* e : b.video)
        gst_element_set_state(e, GST_STATE_NULL);
    b.linked = false;
    m_captureStop_ms = m_env.now_ms();
    if (m_env.timers)
        m_env.timers->killTimer(kCaptureTimer);
    m_running = Stopped;
    applyGate();
    removeEmptyPlaceholder();
    DisplayCaptureStatistics(false);
    // The ring stays for the next clip only while watching goes on.
    updateRing();
    return true;
}

void CaptureGraph::removeRecordingBranch() {
    if (!m_recording || !m_pipeline)
        return;
    if (m_recording->ringSource)
        m_ring.detach();
    if (m_recording->teePad) {
        gst_element_release_request_pad(GST_ELEMENT(GST_OBJECT_PARENT(m_recording->teePad)),
                                        m_recording->teePad);
        gst_object_unref(m_recording->teePad);
        m_recording->teePad = nullptr;
    }
    for (auto* list : {&m_recording->audio, &m_recording->video})
        for (GstElement* e : *list) {
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(m_pipeline.get()), e);
        }
    m_recording.reset();
}

void CaptureGraph::applyGate() {
    m_gate.setOpen(m_env.makePreviewSink != nullptr || m_running == Capturing || m_ringTeePad != nullptr ||
                   m_remoteViewers);
}

void CaptureGraph::keepRecentFrames(bool watching) {
    m_ringWanted = watching;
    updateRing();
}

void CaptureGraph::updateRing() {
    const int seconds =
        m_env.settings ? limits::PreRecordSeconds.clamp(m_env.settings->evidenceOptions().preRecordSeconds)
                       : 0;
    m_ring.setSpan(GstClockTime(seconds) * GST_SECOND);
    // Only AVI clips take the ring's pictures; MPEG clips are encoded from the alarm on. Without
    // alarm clips there is nothing to keep them for.
    const bool clips = seconds > 0 && m_env.settings->settings().RecordFormat == 2 &&
                       (m_env.settings->wantsRecording() || m_env.settings->settings().TracingMode == 1);
    const bool wanted = m_ringWanted && clips;
    const bool feeding = m_running == Capturing && m_recording && m_recording->ringSource;
    if ((wanted || feeding) && !m_ringTeePad && m_running == Previewing)
        linkRing();
    else if (!wanted && !feeding && m_ringTeePad)
        unlinkRing();
    applyGate();
}

bool CaptureGraph::linkRing() {
    if (!m_grabberConnected || !m_grabberTee || !m_pipeline)
        return false;
    if (m_ringElements.empty()) {
        GstElement* queue = makeElement("queue", "prerecord-queue");
        GstElement* encoder = makeElement("trv2enc", "prerecord-encoder");
        GstElement* sink = makeElement("appsink", "prerecord-sink");
        if (!queue || !encoder || !sink) {
            for (GstElement* e : {queue, encoder, sink})
                if (e)
                    gst_object_unref(gst_object_ref_sink(e));
            return false;
        }
        makeLeaky(queue);
        g_object_set(sink, "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = +[](GstAppSink* appsink, gpointer data) {
            if (GstSample* sample = gst_app_sink_pull_sample(appsink)) {
                static_cast<PrerecordRing*>(data)->push(sample);
                gst_sample_unref(sample);
            }
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &m_ring, nullptr);
        g_signal_connect_swapped(queue, "overrun", G_CALLBACK(+[](gpointer data) {
                                     ++*static_cast<std::atomic<uint64_t>*>(data);
                                 }),
                                 &m_framesDropped);
        gst_bin_add_many(GST_BIN(m_pipeline.get()), queue, encoder, sink, nullptr);
        m_ringElements = {queue, encoder, sink};
        if (!gst_element_link_many(queue, encoder, sink, nullptr)) {
            removeRing();
            return false;
        }
    }
    for (auto it = m_ringElements.rbegin(); it != m_ringElements.rend(); ++it)
        gst_element_sync_state_with_parent(*it);
    m_ringTeePad = gst_element_request_pad_simple(m_grabberTee, "src_%u");
    GstPad* queueSink = gst_element_get_static_pad(m_ringElements.front(), "sink");
    const bool linked = m_ringTeePad && gst_pad_link(m_ringTeePad, queueSink) == GST_PAD_LINK_OK;
    gst_object_unref(queueSink);
    if (!linked) {
        removeRing();
        return false;
    }
    return true;
}

void CaptureGraph::unlinkRing() {
    if (m_ringTeePad) {
        if (GstPad* peer = gst_pad_get_peer(m_ringTeePad)) {
            gst_pad_unlink(m_ringTeePad, peer);
            gst_object_unref(peer);
        }
        gst_element_release_request_pad(m_grabberTee, m_ringTeePad);
        gst_object_unref(m_ringTeePad);
        m_ringTeePad = nullptr;
    }
    // The encoder and the sink stay for the next watch; what they hold is of no use to it.
    for (GstElement* e : m_ringElements)
        gst_element_set_state(e, GST_STATE_NULL);
    m_ring.clear();
}

void CaptureGraph::removeRing() {
    unlinkRing();
    if (m_pipeline)
        for (GstElement* e : m_ringElements)
            gst_bin_remove(GST_BIN(m_pipeline.get()), e);
    m_ringElements.clear();
}

void CaptureGraph::OnCaptureTimer() {
    if (m_running == Capturing)
        DisplayCaptureStatistics(true);
    if (m_running != Capturing)
        return; // the disk watch may just have ended the clip
    if (m_env.settings && m_env.settings->settings().TracingMode == 1 &&
        m_env.settings->mode() == gardivo::Tracing)
        return;
    if (m_timeLimit_s <= 0)
        return;
    if ((m_env.now_ms() - m_captureStart_ms) / 1000 < static_cast<uint64_t>(m_timeLimit_s))
        return;
    stopRecordingFromGraph();
}

void CaptureGraph::DisplayCaptureStatistics(bool running) {
    const int frames = static_cast<int>(m_framesWritten.load());
    const int dropped = static_cast<int>(m_framesDropped.load());
    char text[128];
    if (running) {
        const uint64_t elapsed = m_env.now_ms() - m_captureStart_ms;
        std::snprintf(text, sizeof text, "Captured %d frames (%d dropped) %d.%dsec", frames, dropped,
                      static_cast<int>(elapsed / 1000),
                      static_cast<int>(elapsed / 100 - (elapsed / 1000) * 10));
    } else {
        const uint64_t duration = m_captureStop_ms - m_captureStart_ms;
        std::snprintf(text, sizeof text, "Captured %d frames in %d.%d sec (%d dropped)", frames,
                      static_cast<int>(duration / 1000),
                      static_cast<int>(duration / 100 - (duration / 1000) * 10), dropped);
    }
    DrawStatus(text);
}

std::string CaptureGraph::freeSpaceDirectory() const {
    if (m_env.settings && !m_env.settings->evidenceDirectory().empty())
        return m_env.settings->evidenceDirectory();
    return parentDirectory(m_fileName);
}

void CaptureGraph::DrawStatus(const std::string& text) {
    m_lastStatus = text;
    if (!m_env.freeSpace)
        return;
    if (!diskIsLow()) {
        DetectionEngine* engine = m_env.engine ? m_env.engine() : nullptr;
        if (!engine)
            return;
        const VideoRectangle& r = engine->videoRect();
        const CanvasRect strip{r.left, r.bottom - 20, r.right, r.bottom};
        engine->canvas().fillRect(strip, kKeyColour);
        engine->canvas().drawText(strip, text, kBlue, 12, TextAlign::Centre);
        return;
    }
    // Stopping draws the final statistics through here again; the mark keeps it to one stop.
    if (m_diskFullStop)
        return;
    m_diskFullStop = true;
    stopRecordingFromGraph();
    sayDiskWillBeFull();
    m_diskFullStop = false;
}

void CaptureGraph::removeEmptyPlaceholder() {
    // A clip stopped before its first picture leaves no file, as the writer would: the one
    // made at the start is taken away again when nothing was written into it.
    struct stat st {};
    if (!m_placeholderClip.empty() && ::stat(m_placeholderClip.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0)
        ::unlink(m_placeholderClip.c_str());
    m_placeholderClip.clear();
}

bool CaptureGraph::diskIsLow() const {
    if (!m_env.freeSpace)
        return false;
    if (m_env.makeRoom && lowOn(m_env.freeSpace(freeSpaceDirectory())))
        m_env.makeRoom();
    return lowOn(m_env.freeSpace(freeSpaceDirectory()));
}

void CaptureGraph::sayDiskWillBeFull() {
    m_env.reporter->reporter().show(
        {"ERROR_DISK_WILL_BE_FULL", "test", MessageIcon::None, MessageButtons::Ok, false});
}

} // namespace gardivo
