#include "PlayableCopy.h"

#include "codec_filter/AviReader.h"
#include "platform/ProgramDirectory.h"
#include "settings/EvidenceOptions.h"

#include <gst/gst.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace gardivo {

namespace {

bool installed(const char* name) {
    GstElementFactory* factory = gst_element_factory_find(name);
    if (!factory)
        return false;
    gst_object_unref(factory);
    return true;
}

const char* firstInstalled(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (installed(name))
            return name;
    return nullptr;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// A new element, in the pipeline at once, so that it goes with the pipeline whatever happens.
GstElement* add(GstElement* pipeline, const std::string& factory) {
    GstElement* e = gst_element_factory_make(factory.c_str(), nullptr);
    if (e)
        gst_bin_add(GST_BIN(pipeline), e);
    return e;
}

struct Copy {
    GstElement* pipeline = nullptr;
    GstElement* muxer = nullptr;
    const PlayableFormat* format = nullptr;
    int width = 0; // of the clip's pictures, from its headers
    int height = 0;
    bool failed = false;
};

// Links a chain of new elements after the demuxer's pad into the muxer.
bool linkChain(Copy& copy, GstPad* pad, const std::vector<std::string>& factories, const char* muxPad) {
    std::vector<GstElement*> chain;
    for (const auto& f : factories) {
        const bool caps = f.rfind("caps:", 0) == 0;
        GstElement* e = add(copy.pipeline, caps ? "capsfilter" : f);
        if (!e)
            return false;
        if (caps) {
            GstCaps* wanted = gst_caps_from_string(f.substr(5).c_str());
            g_object_set(e, "caps", wanted, nullptr);
            gst_caps_unref(wanted);
        }
        chain.push_back(e);
    }
    bool ok = true;
    for (size_t i = 0; ok && i + 1 < chain.size(); ++i)
        ok = gst_element_link(chain[i], chain[i + 1]);
    GstPad* sink = gst_element_get_static_pad(chain.front(), "sink");
    ok = ok && gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
    gst_object_unref(sink);
    ok = ok && gst_element_link_pads(chain.back(), nullptr, copy.muxer, muxPad);
    for (GstElement* e : chain)
        gst_element_sync_state_with_parent(e);
    return ok;
}

void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto& copy = *static_cast<Copy*>(data);
    const std::string name = GST_PAD_NAME(pad);
    const PlayableFormat& f = *copy.format;
    bool ok = true;
    if (name.rfind("video", 0) == 0) {
        // The encoders take 4:2:0 pictures of even sizes: an odd height loses its last line.
        std::string picture = "caps:video/x-raw,format=I420";
        if (copy.width >= 2 && copy.height >= 2)
            picture +=
                ",width=" + std::to_string(copy.width & ~1) + ",height=" + std::to_string(copy.height & ~1);
        std::vector<std::string> chain = {"queue",      "trv2dec", "videoconvert",
                                          "videoscale", picture,   f.videoEncoder};
        if (f.videoEncoder == "x264enc" || f.videoEncoder == "openh264enc")
            chain.push_back("h264parse");
        ok = linkChain(copy, pad, chain, "video_%u");
    } else if (name.rfind("audio", 0) == 0 && !f.audioEncoder.empty()) {
        std::vector<std::string> chain = {"queue", "audioconvert", "audioresample", f.audioEncoder};
        if (f.audioEncoder == "avenc_aac" || f.audioEncoder == "voaacenc")
            chain.push_back("aacparse");
        ok = linkChain(copy, pad, chain, "audio_%u");
    }
    if (!ok)
        copy.failed = true;
}

} // namespace

std::string playableCopier(const std::string& programDirectory) {
    const std::string beside = joinPath(programDirectory, "gardivo-playable");
    return ::access(beside.c_str(), X_OK) == 0 ? beside : joinPath(executableDirectory(), "gardivo-playable");
}

std::optional<PlayableFormat> playableFormat() {
    gst_init(nullptr, nullptr);
    if (const char* h264 = firstInstalled({"x264enc", "openh264enc"});
        h264 && installed("mp4mux") && installed("h264parse")) {
        const char* aac = installed("aacparse") ? firstInstalled({"avenc_aac", "voaacenc"}) : nullptr;
        return PlayableFormat{"mp4", h264, aac ? aac : "", "mp4mux"};
    }
    if (installed("vp8enc") && installed("webmmux")) {
        const char* sound = firstInstalled({"opusenc", "vorbisenc"});
        return PlayableFormat{"webm", "vp8enc", sound ? sound : "", "webmmux"};
    }
    return std::nullopt;
}

std::string playableCopyPath(const std::string& clip, const PlayableFormat& format) {
    return evidenceSibling(clip, ("." + format.extension).c_str());
}

bool makePlayableCopy(const std::string& clip, const std::string& target, const PlayableFormat& format,
                      std::string* error) {
    gst_init(nullptr, nullptr);
    const std::string part = target + ".part";
    Copy copy;
    copy.format = &format;
    copy.pipeline = gst_pipeline_new("playable-copy");
    GstElement* source = add(copy.pipeline, "filesrc");
    GstElement* demuxer = add(copy.pipeline, "avidemux");
    copy.muxer = add(copy.pipeline, format.muxer);
    GstElement* sink = add(copy.pipeline, "filesink");
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        if (copy.pipeline) {
            gst_element_set_state(copy.pipeline, GST_STATE_NULL);
            gst_object_unref(copy.pipeline);
        }
        ::unlink(part.c_str());
        return false;
    };
    if (!source || !demuxer || !copy.muxer || !sink)
        return fail("the elements for a copy are not installed");
    // The demuxer does not know TRV2, so the pictures' size comes from the clip's own headers.
    if (const auto info = readTrv2StreamInfo(clip)) {
        copy.width = info->width;
        copy.height = info->height;
    }
    g_object_set(source, "location", clip.c_str(), nullptr);
    g_object_set(sink, "location", part.c_str(), nullptr);
    if (format.muxer == "mp4mux")
        g_object_set(copy.muxer, "faststart", TRUE, nullptr);
    if (!gst_element_link(source, demuxer) || !gst_element_link(copy.muxer, sink))
        return fail("the copy's pipeline cannot be linked");
    g_signal_connect(demuxer, "pad-added", G_CALLBACK(onPadAdded), &copy);
    // The encoders are set as they are made: one thread and fast settings, so that a copy is made
    // beside the watching, never instead of it.
    g_signal_connect(copy.pipeline, "deep-element-added",
                     G_CALLBACK(+[](GstBin*, GstBin*, GstElement* element, gpointer) {
                         GstElementFactory* factory = gst_element_get_factory(element);
                         const std::string name = factory ? GST_OBJECT_NAME(factory) : "";
                         if (name == "x264enc")
                             g_object_set(element, "threads", 1, "speed-preset", 2 /* superfast */,
                                          "key-int-max", 60, nullptr);
                         else if (name == "vp8enc")
                             g_object_set(element, "threads", 1, "deadline", G_GINT64_CONSTANT(1), "cpu-used",
                                          8, "target-bitrate", 1000000, nullptr);
                         else if (name == "openh264enc")
                             g_object_set(element, "multi-thread", 1, nullptr);
                     }),
                     nullptr);
    if (gst_element_set_state(copy.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail("the clip cannot be read");
    GstBus* bus = gst_element_get_bus(copy.pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    std::string why;
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* e = nullptr;
        gst_message_parse_error(message, &e, nullptr);
        why = e ? e->message : "the copy failed";
        g_clear_error(&e);
    }
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    if (copy.failed && why.empty())
        why = "a stream of the clip cannot be encoded";
    if (!why.empty())
        return fail(why);
    gst_element_set_state(copy.pipeline, GST_STATE_NULL);
    gst_object_unref(copy.pipeline);
    copy.pipeline = nullptr;
    if (!exists(part) || ::rename(part.c_str(), target.c_str()) != 0)
        return fail("the copy cannot be written beside the clip");
    return true;
}

} // namespace gardivo
