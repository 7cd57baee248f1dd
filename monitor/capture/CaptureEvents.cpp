// What the pipeline says and what follows from it: its messages taken to the engine thread, a
// failing source told once and tried again with a growing pause, a silent source noticed, a
// clip that fails ended without stopping the pictures, and a camera that goes away.

#include "CaptureGraph.h"

#include "SourceBin.h"

#include <algorithm>
#include <cstring>

namespace gardivo {

namespace {

constexpr int kMaxReconnectDelay_ms = 30000;

// Whether an element is the given one or lies inside it.
bool isWithin(GstObject* object, GstElement* container) {
    for (GstObject* o = object; o; o = GST_OBJECT_PARENT(o))
        if (o == GST_OBJECT(container))
            return true;
    return false;
}

} // namespace

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
        std::string why = reason;
        while (!why.empty() && (why.back() == '.' || why.back() == ' '))
            why.pop_back(); // the media framework's texts end in a full stop of their own
        m_env.reporter->say(sourceLabel() + " gives no picture: " + why + ". Gardivo tries again by itself.");
    }
    scheduleReconnect();
}

std::string CaptureGraph::sourceLabel() const {
    const CaptureSource* source = videoSource();
    return "The video source \"" + (source ? source->name : std::string()) + "\"";
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
                    m_env.reporter->say(sourceLabel() + " gives pictures again.");
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
