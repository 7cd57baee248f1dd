#include "SourceBin.h"

#include "GstPointers.h"

#include <mutex>
#include <vector>

namespace gardivo {

namespace {

enum class PadKind { RawVideo, CodedVideo, Other };

PadKind kindOfStructure(const GstStructure* s) {
    const char* name = gst_structure_get_name(s);
    const std::string n = name ? name : "";
    if (n == "video/x-raw")
        return PadKind::RawVideo;
    if (n.rfind("video/", 0) == 0 || n.rfind("image/", 0) == 0)
        return PadKind::CodedVideo;
    if (n == "application/x-rtp") {
        const char* media = gst_structure_get_string(s, "media");
        if (media && std::string(media) == "video")
            return PadKind::CodedVideo;
    }
    return PadKind::Other;
}

// The best a pad may give: raw video over coded video over anything else. Pads that may give
// anything (ANY caps, an identity at the end of a line) count as raw video.
PadKind kindOfCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_any(caps))
        return PadKind::RawVideo;
    PadKind best = PadKind::Other;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const PadKind k = kindOfStructure(gst_caps_get_structure(caps, i));
        if (k == PadKind::RawVideo)
            return k;
        if (k == PadKind::CodedVideo)
            best = k;
    }
    return best;
}

PadKind kindOfPad(GstPad* pad) {
    CapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps)
        caps.reset(gst_pad_query_caps(pad, nullptr));
    return kindOfCaps(caps.get());
}

// Whether every picture size a caps allows is too small to watch.
bool onlyTinyPictures(const GstCaps* caps) {
    if (!caps || gst_caps_is_any(caps) || gst_caps_is_empty(caps))
        return false;
    const auto largest = [](const GstStructure* s, const char* field) {
        const GValue* v = gst_structure_get_value(s, field);
        if (!v)
            return G_MAXINT;
        if (G_VALUE_HOLDS_INT(v))
            return g_value_get_int(v);
        if (GST_VALUE_HOLDS_INT_RANGE(v))
            return gst_value_get_int_range_max(v);
        return G_MAXINT;
    };
    bool anyVideo = false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        if (kindOfStructure(s) == PadKind::Other)
            continue;
        anyVideo = true;
        if (largest(s, "width") >= SourceBin::kMinSide && largest(s, "height") >= SourceBin::kMinSide)
            return false;
    }
    return anyVideo;
}

// What the bin keeps while its pads come: its way out, and whether video reached it.
struct Links {
    GstElement* bin = nullptr; // not owned; Links lives as long as the bin
    GstElement* out = nullptr; // the identity whose src pad is the bin's
    std::mutex mutex;
    bool linked = false;
    bool decoding = false; // a decoder of our own was put in for coded video
    bool told = false;     // the owner was told there is no video
};

void postNoVideo(Links* links, const std::string& reason) {
    {
        std::lock_guard lock(links->mutex);
        if (links->told)
            return;
        links->told = true;
    }
    GstStructure* s =
        gst_structure_new(SourceBin::kNoVideoMessage, "reason", G_TYPE_STRING, reason.c_str(), nullptr);
    gst_element_post_message(links->bin, gst_message_new_element(GST_OBJECT(links->bin), s));
}

// Decoders are not made for sound, which nobody here listens to: its pads come out still
// compressed and stay unlinked.
gboolean onAutoplugContinue(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    if (!caps || gst_caps_get_size(caps) == 0)
        return TRUE;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return !(name && std::string(name).rfind("audio/", 0) == 0);
}

void onPadAdded(GstElement* element, GstPad* pad, gpointer data);
void onNoMorePads(GstElement* element, gpointer data);

GstElement* makeDecoder(Links* links) {
    GstElement* decoder = makeElement("decodebin");
    if (!decoder)
        return nullptr;
    g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(onAutoplugContinue), nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), links);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(onNoMorePads), links);
    return decoder;
}

// Links the first video pad to the way out; compressed video through a decoder of its own.
void linkVideoPad(Links* links, GstPad* pad) {
    const PadKind kind = kindOfPad(pad);
    if (kind == PadKind::Other)
        return;
    std::unique_lock lock(links->mutex);
    if (links->linked)
        return;
    if (kind == PadKind::RawVideo) {
        GstRef<GstPad> sink(gst_element_get_static_pad(links->out, "sink"));
        if (gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK)
            links->linked = true;
        return;
    }
    if (links->decoding)
        return;
    GstElement* decoder = makeDecoder(links);
    if (!decoder)
        return;
    links->decoding = true;
    lock.unlock();
    gst_bin_add(GST_BIN(links->bin), decoder);
    GstRef<GstPad> sink(gst_element_get_static_pad(decoder, "sink"));
    if (gst_pad_link(pad, sink.get()) != GST_PAD_LINK_OK) {
        postNoVideo(links, "its video cannot be decoded");
        return;
    }
    gst_element_sync_state_with_parent(decoder);
}

void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    if (GST_PAD_DIRECTION(pad) == GST_PAD_SRC)
        linkVideoPad(static_cast<Links*>(data), pad);
}

void onNoMorePads(GstElement* element, gpointer data) {
    auto* links = static_cast<Links*>(data);
    {
        std::lock_guard lock(links->mutex);
        if (links->linked)
            return;
        // The source's pads are all there, but a decoder of ours is still finding its own.
        const char* factory =
            gst_element_get_factory(element) ? GST_OBJECT_NAME(gst_element_get_factory(element)) : "";
        if (links->decoding && std::string(factory) != "decodebin")
            return;
    }
    postNoVideo(links, "it has no video stream that can be decoded");
}

// Pictures too small for the detector are refused as they come, whatever the line promised.
GstPadProbeReturn onOutCaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstStructure* s = caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    int width = 0, height = 0;
    if (s && gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height) &&
        (width < SourceBin::kMinSide || height < SourceBin::kMinSide)) {
        postNoVideo(static_cast<Links*>(data),
                    "its pictures of " + std::to_string(width) + "x" + std::to_string(height) +
                        " are too small to watch (at least " + std::to_string(SourceBin::kMinSide) + "x" +
                        std::to_string(SourceBin::kMinSide) + ")");
        return GST_PAD_PROBE_DROP;
    }
    return GST_PAD_PROBE_OK;
}

bool hasSometimesSource(GstElement* element) {
    for (const GList* t = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element)); t;
         t = t->next) {
        auto* templ = static_cast<GstPadTemplate*>(t->data);
        if (GST_PAD_TEMPLATE_DIRECTION(templ) == GST_PAD_SRC &&
            GST_PAD_TEMPLATE_PRESENCE(templ) == GST_PAD_SOMETIMES)
            return true;
    }
    return false;
}

GstPad* unlinkedStaticSource(GstElement* element) {
    GstPad* found = nullptr;
    GstIterator* it = gst_element_iterate_src_pads(element);
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (!gst_pad_is_linked(pad))
            found = GST_PAD(gst_object_ref(pad));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

// The element a line ends in: the one with a source pad nobody takes, or with pads yet to come
// that nothing in the line waits for (the parser waits on "pad-added" for the links it delays).
GstElement* findEnd(GstBin* bin, std::string& error) {
    std::vector<GstElement*> ends;
    const guint padAdded = g_signal_lookup("pad-added", GST_TYPE_ELEMENT);
    GstIterator* it = gst_bin_iterate_elements(bin);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstRef<GstPad> open(unlinkedStaticSource(element));
        const bool later =
            hasSometimesSource(element) && !g_signal_has_handler_pending(element, padAdded, 0, FALSE);
        if (open || later)
            ends.push_back(element);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (ends.size() == 1)
        return ends.front();
    error = ends.empty() ? "the pipeline gives nothing out" : "the pipeline has more than one open end";
    return nullptr;
}

// Puts the way out after the end element: linked now when its pad is there, else as its pads come.
bool finish(GstElement* bin, GstElement* end, std::string& error) {
    auto* links = new Links;
    links->bin = bin;
    g_object_set_data_full(G_OBJECT(bin), "gardivo-links", links,
                           [](gpointer p) { delete static_cast<Links*>(p); });
    // The pictures come at the pace of their timestamps, so that a file plays in real time.
    links->out = makeElement("identity", "gardivo-source-out");
    g_object_set(links->out, "sync", TRUE, nullptr);
    gst_bin_add(GST_BIN(bin), links->out);
    GstRef<GstPad> outSrc(gst_element_get_static_pad(links->out, "src"));
    gst_pad_add_probe(outSrc.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onOutCaps, links, nullptr);
    gst_element_add_pad(bin, gst_ghost_pad_new("src", outSrc.get()));

    if (GstRef<GstPad> pad{unlinkedStaticSource(end)}) {
        CapsRef caps(gst_pad_query_caps(pad.get(), nullptr));
        if (kindOfCaps(caps.get()) == PadKind::Other) {
            error = "the pipeline gives no video";
            return false;
        }
        if (onlyTinyPictures(caps.get())) {
            error = "its pictures are too small to watch (at least " + std::to_string(SourceBin::kMinSide) +
                    "x" + std::to_string(SourceBin::kMinSide) + ")";
            return false;
        }
        linkVideoPad(links, pad.get());
        if (!links->linked && !links->decoding) {
            error = "its video cannot be linked";
            return false;
        }
        return true;
    }
    g_signal_connect(end, "pad-added", G_CALLBACK(onPadAdded), links);
    g_signal_connect(end, "no-more-pads", G_CALLBACK(onNoMorePads), links);
    if (g_signal_lookup("autoplug-continue", G_OBJECT_TYPE(end)))
        g_signal_connect(end, "autoplug-continue", G_CALLBACK(onAutoplugContinue), nullptr);
    return true;
}

GstElement* failed(GstElement* bin) {
    gst_object_unref(gst_object_ref_sink(bin));
    return nullptr;
}

bool isJpegDecoder(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    if (!klass || std::string(klass).find("Decoder") == std::string::npos)
        return false;
    // A decoder of JPEG itself: bins that take anything (decodebin) are no such decoder, and
    // what they take must not be held back.
    CapsRef jpeg(gst_caps_from_string("image/jpeg"));
    for (const GList* t = gst_element_factory_get_static_pad_templates(factory); t; t = t->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(t->data);
        if (templ->direction != GST_PAD_SINK)
            continue;
        CapsRef caps(gst_static_caps_get(&templ->static_caps));
        if (caps && !gst_caps_is_any(caps.get()) && gst_caps_can_intersect(caps.get(), jpeg.get()))
            return true;
    }
    return false;
}

void gateDecoder(GstElement* element, FrameGate* gate) {
    if (!isJpegDecoder(element))
        return;
    if (GstRef<GstPad> sink{gst_element_get_static_pad(element, "sink")})
        gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_BUFFER, FrameGate::probe, gate, nullptr);
}

} // namespace

void SourceBin::gateJpegDecoders(GstElement* bin, FrameGate* gate) {
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        gateDecoder(GST_ELEMENT(g_value_get_object(&item)), gate);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    g_signal_connect(bin, "deep-element-added",
                     G_CALLBACK(+[](GstBin*, GstBin*, GstElement* element, gpointer data) {
                         gateDecoder(element, static_cast<FrameGate*>(data));
                     }),
                     gate);
}

bool SourceBin::isUri(const std::string& description) {
    return description.find("://") != std::string::npos && description.find('!') == std::string::npos &&
           description.find(' ') == std::string::npos;
}

GstElement* SourceBin::fromDescription(const std::string& description, std::string& error) {
    if (isUri(description)) {
        GstElement* decode = makeElement("uridecodebin");
        if (!decode) {
            error = "uridecodebin is not installed";
            return nullptr;
        }
        g_object_set(decode, "uri", description.c_str(), nullptr);
        GstElement* bin = gst_bin_new(nullptr);
        gst_bin_add(GST_BIN(bin), decode);
        return finish(bin, decode, error) ? bin : failed(bin);
    }
    // The line's own links are made by the parser, the delayed ones included; only the end is
    // left open, and nothing is ghosted but our way out.
    GError* parseError = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), FALSE, &parseError);
    if (parseError) {
        error = parseError->message;
        g_clear_error(&parseError);
        return bin ? failed(bin) : nullptr;
    }
    if (!bin) {
        error = "the pipeline cannot be made";
        return nullptr;
    }
    GstElement* end = findEnd(GST_BIN(bin), error);
    if (!end || !finish(bin, end, error))
        return failed(bin);
    return bin;
}

GstElement* SourceBin::fromDevice(GstElement* device, std::string& error) {
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* caps = makeElement("capsfilter");
    GstElement* decode = makeElement("decodebin");
    if (!caps || !decode) {
        error = "cannot make the decoder";
        for (GstElement* e : {caps, decode, device})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return failed(bin);
    }
    // At the NTSC rate when the camera offers it.
    CapsRef wanted(gst_caps_from_string("video/x-raw,framerate=30000/1001;video/x-raw;"
                                        "image/jpeg,framerate=30000/1001;image/jpeg"));
    g_object_set(caps, "caps", wanted.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin), device, caps, decode, nullptr);
    if (!gst_element_link_many(device, caps, decode, nullptr)) {
        error = "the camera gives neither raw nor JPEG pictures";
        return failed(bin);
    }
    return finish(bin, decode, error) ? bin : failed(bin);
}

} // namespace gardivo
