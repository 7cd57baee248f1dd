/**
 * SECTION:element-trv2avisink
 *
 * Writes TRV2 video, and optionally PCM audio, into an AVI file: idx1 index, OpenDML parts
 * beyond 1 GiB, and headers kept current after every chunk so that a recording cut short by a
 * crash still plays up to its last whole frame.
 *
 * |[
 * gst-launch-1.0 v4l2src ! videoconvert ! video/x-raw,format=UYVY ! trv2enc ! trv2avisink location=clip.avi
 * ]|
 */

#include "gsttrv2avisink.h"

#include "MappedBuffer.h"
#include "codec_filter/AviWriter.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(gst_trv2_avi_sink_debug);
#define GST_CAT_DEFAULT gst_trv2_avi_sink_debug

enum { PROP_0, PROP_LOCATION };

static GstStaticPadTemplate video_template =
    GST_STATIC_PAD_TEMPLATE("video", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-trv2, width=(int)[2, 32766], height=(int)[1, 32767]"));
static GstStaticPadTemplate audio_template = GST_STATIC_PAD_TEMPLATE(
    "audio", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string){ U8, S16LE }, layout=(string)interleaved, "
                    "rate=(int)[1, MAX], channels=(int)[1, 2]"));

struct SinkState {
    std::mutex mutex;
    std::condition_variable audioFormatKnown;
    std::vector<std::vector<uint8_t>> pendingAudio; // sound that came before the first picture
    gardivo::AviWriter writer;
    std::string location;
    std::optional<gardivo::AviVideoFormat> video;
    std::optional<gardivo::AviAudioFormat> audio;
    bool videoEos = false;
    bool audioEos = false;
    bool failed = false;
    // The pictures' timing, for a stream that states no rate.
    bool rateFromTimestamps = false;
    uint64_t timedFrames = 0;
    GstClockTime firstPts = 0;
    GstClockTime lastPts = 0;
    // Sound that starts later than the pictures (a clip that begins with pictures from before
    // it was started) is put in its place by silence ahead of it.
    GstClockTime firstAudioPts = GST_CLOCK_TIME_NONE;
    GstClockTime firstVideoPts = GST_CLOCK_TIME_NONE;
    bool audioPlaced = false;
};

// Writes the silence that puts the sound in step with the first picture, once, before the first
// sound is written.
static bool gst_trv2_avi_sink_place_audio(SinkState& s) {
    if (s.audioPlaced || !s.audio)
        return true;
    s.audioPlaced = true;
    if (!GST_CLOCK_TIME_IS_VALID(s.firstAudioPts) || !GST_CLOCK_TIME_IS_VALID(s.firstVideoPts) ||
        s.firstAudioPts <= s.firstVideoPts)
        return true;
    const GstClockTime lead = s.firstAudioPts - s.firstVideoPts;
    if (lead > 60 * GST_SECOND)
        return true; // no clip begins that far before its start: the times are not comparable
    const uint32_t blockAlign = s.audio->channels * (s.audio->bitsPerSample / 8u);
    const uint64_t samples = gst_util_uint64_scale(lead, s.audio->sampleRate, GST_SECOND);
    if (samples == 0 || blockAlign == 0)
        return true;
    // Unsigned 8-bit sound is silent at its middle.
    const std::vector<uint8_t> silence(static_cast<size_t>(samples) * blockAlign,
                                       s.audio->bitsPerSample == 8 ? 0x80 : 0);
    return s.writer.writeAudio(silence.data(), silence.size());
}

struct _GstTrv2AviSink {
    GstElement parent;
    GstPad* videoPad;
    GstPad* audioPad;
    SinkState* state;
};

G_DEFINE_TYPE(GstTrv2AviSink, gst_trv2_avi_sink, GST_TYPE_ELEMENT);
GST_ELEMENT_REGISTER_DEFINE(trv2avisink, "trv2avisink", GST_RANK_NONE, GST_TYPE_TRV2_AVI_SINK);

// Opens the file at the first picture. With sound linked, the file waits a moment for the sound's
// format so that both streams are declared in its headers.
static gboolean gst_trv2_avi_sink_ensure_open(GstTrv2AviSink* self, std::unique_lock<std::mutex>& lock) {
    SinkState& s = *self->state;
    if (s.writer.isOpen())
        return TRUE;
    if (s.failed || !s.video)
        return FALSE;
    if (gst_pad_is_linked(self->audioPad) && !s.audio)
        s.audioFormatKnown.wait_for(lock, std::chrono::seconds(2),
                                    [&] { return s.audio.has_value() || s.audioEos; });
    GST_DEBUG_OBJECT(self, "opening %s with %s", s.location.c_str(), s.audio ? "sound" : "no sound");
    std::string error;
    if (!s.writer.open(s.location, *s.video, s.audio, &error)) {
        s.failed = true;
        if (s.writer.diskFull())
            GST_ELEMENT_ERROR(
                self, RESOURCE, NO_SPACE_LEFT,
                ("Could not open \"%s\" for writing: %s.", s.location.c_str(), s.writer.lastError().c_str()),
                ("%s", error.c_str()));
        else
            GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                              ("Could not open \"%s\" for writing.", s.location.c_str()),
                              ("%s", error.c_str()));
        return FALSE;
    }
    if (!s.pendingAudio.empty())
        gst_trv2_avi_sink_place_audio(s);
    for (const auto& chunk : s.pendingAudio)
        s.writer.writeAudio(chunk.data(), chunk.size());
    s.pendingAudio.clear();
    return TRUE;
}

static void gst_trv2_avi_sink_finish(GstTrv2AviSink* self) {
    SinkState& s = *self->state;
    // A source that states no rate (an HTTP camera) gets the one its pictures came at, so that
    // the clip plays as fast as it happened rather than at a rate guessed at the start.
    if (s.rateFromTimestamps && s.timedFrames >= 2 && s.lastPts > s.firstPts) {
        const uint64_t milliFps =
            gst_util_uint64_scale_round(s.timedFrames - 1, 1000 * GST_SECOND, s.lastPts - s.firstPts);
        if (milliFps > 0 && milliFps <= 1000u * 1000u)
            s.writer.setFrameRate(static_cast<uint32_t>(milliFps), 1000);
    }
    if (s.writer.isOpen() && !s.writer.close())
        GST_ELEMENT_WARNING(self, RESOURCE, WRITE, ("Could not finish \"%s\".", s.location.c_str()), (NULL));
}

static GstFlowReturn gst_trv2_avi_sink_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(parent);
    SinkState& s = *self->state;
    const bool isVideo = pad == self->videoPad;
    GstFlowReturn result = GST_FLOW_OK;
    {
        std::unique_lock lock(s.mutex);
        if (isVideo && !GST_CLOCK_TIME_IS_VALID(s.firstVideoPts))
            s.firstVideoPts = GST_BUFFER_PTS(buffer);
        if (!isVideo && !GST_CLOCK_TIME_IS_VALID(s.firstAudioPts))
            s.firstAudioPts = GST_BUFFER_PTS(buffer);
        if (isVideo && !gst_trv2_avi_sink_ensure_open(self, lock)) {
            result = GST_FLOW_ERROR;
        } else if (!isVideo && !s.writer.isOpen()) {
            const gardivo::MappedBuffer map(buffer, GST_MAP_READ);
            if (s.audio && map)
                s.pendingAudio.emplace_back(map.data(), map.data() + map.size());
        } else if (s.writer.isOpen()) {
            const gardivo::MappedBuffer map(buffer, GST_MAP_READ);
            if (map) {
                const bool key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
                if (isVideo && GST_BUFFER_PTS_IS_VALID(buffer)) {
                    if (s.timedFrames == 0)
                        s.firstPts = GST_BUFFER_PTS(buffer);
                    s.lastPts = GST_BUFFER_PTS(buffer);
                    ++s.timedFrames;
                }
                const bool ok = isVideo ? s.writer.writeVideoFrame(map.data(), map.size(), key)
                                        : (!s.audio || (gst_trv2_avi_sink_place_audio(s) &&
                                                        s.writer.writeAudio(map.data(), map.size())));
                if (!ok) {
                    const std::string why = s.writer.lastError();
                    if (s.writer.diskFull())
                        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT,
                                          ("Could not write to \"%s\": %s.", s.location.c_str(), why.c_str()),
                                          (NULL));
                    else
                        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                                          ("Could not write to \"%s\": %s.", s.location.c_str(), why.c_str()),
                                          (NULL));
                    result = GST_FLOW_ERROR;
                }
            }
        }
    }
    gst_buffer_unref(buffer);
    return result;
}

static gboolean gst_trv2_avi_sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(parent);
    SinkState& s = *self->state;
    const bool isVideo = pad == self->videoPad;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps;
        gst_event_parse_caps(event, &caps);
        const GstStructure* st = gst_caps_get_structure(caps, 0);
        std::lock_guard lock(s.mutex);
        if (isVideo) {
            gardivo::AviVideoFormat f;
            guint quality = 0;
            int num = 0, den = 1;
            gst_structure_get_int(st, "width", &f.width);
            gst_structure_get_int(st, "height", &f.height);
            gst_structure_get_uint(st, "quality", &quality);
            if (gst_structure_get_fraction(st, "framerate", &num, &den) && num > 0 && den > 0) {
                f.rateNumerator = static_cast<uint32_t>(num);
                f.rateDenominator = static_cast<uint32_t>(den);
            }
            s.rateFromTimestamps = num <= 0 || den <= 0;
            f.format = gardivo::trv2BitmapInfo(f.width, f.height, quality);
            s.video = f;
        } else {
            gardivo::AviAudioFormat a;
            int rate = 0, channels = 0;
            gst_structure_get_int(st, "rate", &rate);
            gst_structure_get_int(st, "channels", &channels);
            a.sampleRate = static_cast<uint32_t>(rate);
            a.channels = static_cast<uint16_t>(channels);
            a.bitsPerSample = g_strcmp0(gst_structure_get_string(st, "format"), "U8") == 0 ? 8 : 16;
            GST_DEBUG_OBJECT(self, "sound of %d Hz, %d channels%s", rate, channels,
                             s.writer.isOpen() ? ", after the file was opened" : "");
            if (!s.writer.isOpen())
                s.audio = a;
            s.audioFormatKnown.notify_all();
        }
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_EOS: {
        bool done;
        {
            std::lock_guard lock(s.mutex);
            (isVideo ? s.videoEos : s.audioEos) = true;
            s.audioFormatKnown.notify_all();
            done = s.videoEos && (s.audioEos || !gst_pad_is_linked(self->audioPad));
            if (done)
                gst_trv2_avi_sink_finish(self);
        }
        gst_event_unref(event);
        if (done)
            gst_element_post_message(GST_ELEMENT(self), gst_message_new_eos(GST_OBJECT(self)));
        return TRUE;
    }
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

static GstStateChangeReturn gst_trv2_avi_sink_change_state(GstElement* element, GstStateChange transition) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(element);
    SinkState& s = *self->state;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        std::lock_guard lock(s.mutex);
        if (s.location.empty()) {
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name given for writing."), (NULL));
            return GST_STATE_CHANGE_FAILURE;
        }
        s.videoEos = s.audioEos = s.failed = false;
        s.video.reset();
        s.audio.reset();
        s.pendingAudio.clear();
        s.rateFromTimestamps = false;
        s.timedFrames = 0;
        s.firstAudioPts = GST_CLOCK_TIME_NONE;
        s.firstVideoPts = GST_CLOCK_TIME_NONE;
        s.audioPlaced = false;
    }
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(gst_trv2_avi_sink_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // Stopped without an end of stream: the file is finished all the same.
        std::lock_guard lock(s.mutex);
        gst_trv2_avi_sink_finish(self);
    }
    return ret;
}

static void gst_trv2_avi_sink_set_property(GObject* object, guint id, const GValue* value,
                                           GParamSpec* pspec) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(object);
    if (id == PROP_LOCATION) {
        std::lock_guard lock(self->state->mutex);
        const char* location = g_value_get_string(value);
        self->state->location = location ? location : "";
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void gst_trv2_avi_sink_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(object);
    if (id == PROP_LOCATION) {
        std::lock_guard lock(self->state->mutex);
        g_value_set_string(value, self->state->location.c_str());
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void gst_trv2_avi_sink_finalize(GObject* object) {
    GstTrv2AviSink* self = GST_TRV2_AVI_SINK(object);
    delete self->state;
    G_OBJECT_CLASS(gst_trv2_avi_sink_parent_class)->finalize(object);
}

static void gst_trv2_avi_sink_class_init(GstTrv2AviSinkClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    object_class->set_property = gst_trv2_avi_sink_set_property;
    object_class->get_property = gst_trv2_avi_sink_get_property;
    object_class->finalize = gst_trv2_avi_sink_finalize;
    g_object_class_install_property(
        object_class, PROP_LOCATION,
        g_param_spec_string("location", "File Location", "Where to write the AVI file", NULL,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    gst_element_class_set_static_metadata(element_class, "TRV2 AVI writer", "Sink/File",
                                          "Writes TRV2 video and PCM audio into an AVI file", "Gardivo");
    gst_element_class_add_static_pad_template(element_class, &video_template);
    gst_element_class_add_static_pad_template(element_class, &audio_template);
    element_class->change_state = gst_trv2_avi_sink_change_state;
    GST_DEBUG_CATEGORY_INIT(gst_trv2_avi_sink_debug, "trv2avisink", 0, "TRV2 AVI writer");
}

static void gst_trv2_avi_sink_init(GstTrv2AviSink* self) {
    self->state = new SinkState;
    self->videoPad = gst_pad_new_from_static_template(&video_template, "video");
    self->audioPad = gst_pad_new_from_static_template(&audio_template, "audio");
    for (GstPad* pad : {self->videoPad, self->audioPad}) {
        gst_pad_set_chain_function(pad, gst_trv2_avi_sink_chain);
        gst_pad_set_event_function(pad, gst_trv2_avi_sink_event);
        gst_element_add_pad(GST_ELEMENT(self), pad);
    }
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SINK);
}
