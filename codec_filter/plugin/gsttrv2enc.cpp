/**
 * SECTION:element-trv2enc
 *
 * Encodes UYVY video into TRV2, Gardivo's intra-only DCT format, one output frame per input
 * frame. The quality level lives in "system.ini" (section "TavrinCap.Drv", key "TRV2QL") and is
 * shared by every encoder of the process; the packed quality parameters travel in the caps.
 *
 * |[
 * gst-launch-1.0 videotestsrc ! video/x-raw,format=UYVY,width=320,height=240 ! trv2enc ! trv2avisink
 * location=clip.avi
 * ]|
 */

#include "gsttrv2enc.h"

#include "MappedBuffer.h"
#include "codec_filter/QualitySetting.h"
#include "codec_filter/Trv2Encoder.h"

#include <algorithm>
#include <mutex>

GST_DEBUG_CATEGORY_STATIC(gst_trv2_enc_debug);
#define GST_CAT_DEFAULT gst_trv2_enc_debug

enum { PROP_0, PROP_QUALITY_LEVEL };
enum { SIGNAL_RESET_QUALITY_LEVEL, LAST_SIGNAL };
static guint gst_trv2_enc_signals[LAST_SIGNAL];

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-raw, format=(string)UYVY, width=(int)[2, 32766], "
                                            "height=(int)[1, 32767], framerate=(fraction)[0/1, MAX]"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-trv2, width=(int)[2, 32766], height=(int)[1, 32767], "
                                            "framerate=(fraction)[0/1, MAX]"));

struct _GstTrv2Enc {
    GstBaseTransform parent;
    std::mutex* qualityLock; // guards quality
    gardivo::trv2::QualityLevel* quality;
    int width;
    int height;
};

G_DEFINE_TYPE(GstTrv2Enc, gst_trv2_enc, GST_TYPE_BASE_TRANSFORM);
GST_ELEMENT_REGISTER_DEFINE(trv2enc, "trv2enc", GST_RANK_NONE, GST_TYPE_TRV2_ENC);

static void gst_trv2_enc_finalize(GObject* object) {
    GstTrv2Enc* self = GST_TRV2_ENC(object);
    delete self->quality;
    delete self->qualityLock;
    G_OBJECT_CLASS(gst_trv2_enc_parent_class)->finalize(object);
}

static void gst_trv2_enc_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstTrv2Enc* self = GST_TRV2_ENC(object);
    if (id != PROP_QUALITY_LEVEL) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    std::lock_guard lock(*self->qualityLock);
    self->quality->put(g_value_get_int(value));
}

static void gst_trv2_enc_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstTrv2Enc* self = GST_TRV2_ENC(object);
    if (id != PROP_QUALITY_LEVEL) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    std::lock_guard lock(*self->qualityLock);
    g_value_set_int(value, self->quality->get());
}

static void gst_trv2_enc_reset_quality_level(GstTrv2Enc* self) {
    {
        std::lock_guard lock(*self->qualityLock);
        self->quality->reset();
    }
    g_object_notify(G_OBJECT(self), "quality-level");
}

// Raw UYVY one way, TRV2 of the same size the other; the quality is that in force now.
static GstCaps* gst_trv2_enc_transform_caps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                                            GstCaps* filter) {
    GstTrv2Enc* self = GST_TRV2_ENC(trans);
    guint packed;
    {
        std::lock_guard lock(*self->qualityLock);
        packed = self->quality->packedParameters();
    }
    GstCaps* result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure* s = gst_structure_copy(gst_caps_get_structure(caps, i));
        if (direction == GST_PAD_SINK) {
            gst_structure_set_name(s, "video/x-trv2");
            gst_structure_remove_fields(s, "format", "colorimetry", "chroma-site", "interlace-mode", NULL);
            gst_structure_set(s, "quality", G_TYPE_UINT, packed, NULL);
        } else {
            gst_structure_set_name(s, "video/x-raw");
            gst_structure_remove_field(s, "quality");
            gst_structure_set(s, "format", G_TYPE_STRING, "UYVY", NULL);
        }
        result = gst_caps_merge_structure(result, s);
    }
    if (filter) {
        GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = filtered;
    }
    return result;
}

static gboolean gst_trv2_enc_set_caps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* outcaps) {
    GstTrv2Enc* self = GST_TRV2_ENC(trans);
    const GstStructure* in = gst_caps_get_structure(incaps, 0);
    const GstStructure* out = gst_caps_get_structure(outcaps, 0);
    int w = 0, h = 0, ow = 0, oh = 0;
    const char* format = gst_structure_get_string(in, "format");
    if (!format || g_strcmp0(format, "UYVY") != 0 || !gst_structure_get_int(in, "width", &w) ||
        !gst_structure_get_int(in, "height", &h) || !gst_structure_get_int(out, "width", &ow) ||
        !gst_structure_get_int(out, "height", &oh))
        return FALSE;
    // Same picture both sides; UYVY pairs need an even width.
    if (w != ow || h != oh || w % 2 != 0 || h <= 0) {
        GST_WARNING_OBJECT(self, "refusing %dx%d to %dx%d", w, h, ow, oh);
        return FALSE;
    }
    self->width = w;
    self->height = h;
    return TRUE;
}

// The output buffer of a frame: width x height x 2 bytes, as the AVI headers state it. A picture
// so small that one worst-case macroblock would not fit that gets room for its worst case, so
// that even a tiny frame is always coded whole.
static gsize gst_trv2_enc_buffer_size(const GstTrv2Enc* self) {
    const gsize plain = static_cast<gsize>(self->width) * static_cast<gsize>(self->height) * 2;
    if (plain >= gardivo::trv2::worstCaseMacroblockBytes())
        return plain;
    return gardivo::trv2::worstCaseFrameBytes(self->width, self->height);
}

static gboolean gst_trv2_enc_transform_size(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                                            gsize size, GstCaps* othercaps, gsize* othersize) {
    GstTrv2Enc* self = GST_TRV2_ENC(trans);
    if (direction != GST_PAD_SINK)
        return FALSE;
    *othersize = gst_trv2_enc_buffer_size(self);
    return TRUE;
}

// Output buffers come from a pool sized for a frame, so that memory handed back by the sink is
// used again rather than returned to the system and faulted in anew for the next frame (large
// blocks are mapped and unmapped per allocation). Downstream's pool is taken when it offers one,
// with room for our frames; otherwise the base class makes a plain pool from the query.
static gboolean gst_trv2_enc_decide_allocation(GstBaseTransform* trans, GstQuery* query) {
    GstTrv2Enc* self = GST_TRV2_ENC(trans);
    const guint frameSize = static_cast<guint>(gst_trv2_enc_buffer_size(self));
    if (gst_query_get_n_allocation_pools(query) == 0) {
        gst_query_add_allocation_pool(query, nullptr, frameSize, 2, 0);
    } else {
        GstBufferPool* pool = nullptr;
        guint size = 0, min = 0, max = 0;
        gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
        // A pool with an upper bound below what we may hold, or buffers smaller than a frame,
        // would stall or truncate the encoder; a plain pool of our own is made instead.
        if (pool && (size < frameSize || (max != 0 && max < 2))) {
            gst_object_unref(pool);
            pool = nullptr;
        }
        gst_query_set_nth_allocation_pool(query, 0, pool, std::max(size, frameSize), std::max(min, 2u),
                                          max == 0 ? 0 : std::max(max, 2u));
        if (pool)
            gst_object_unref(pool);
    }
    return GST_BASE_TRANSFORM_CLASS(gst_trv2_enc_parent_class)->decide_allocation(trans, query);
}

static GstFlowReturn gst_trv2_enc_transform(GstBaseTransform* trans, GstBuffer* inbuf, GstBuffer* outbuf) {
    GstTrv2Enc* self = GST_TRV2_ENC(trans);
    const gsize needed = static_cast<gsize>(self->width) * static_cast<gsize>(self->height) * 2;
    gsize size = 0, inSize = 0;
    {
        const gardivo::MappedBuffer in(inbuf, GST_MAP_READ);
        const gardivo::MappedBuffer out(outbuf, GST_MAP_WRITE);
        if (!in || !out)
            return GST_FLOW_ERROR;
        inSize = in.size();
        if (inSize >= needed)
            size = gardivo::trv2::EncodeFrame(in.data(), self->width, self->height, out.data(), out.size());
    }
    if (size == 0) {
        GST_ELEMENT_WARNING(
            self, STREAM, ENCODE, ("Frame could not be encoded"),
            ("input of %" G_GSIZE_FORMAT " bytes for %dx%d", inSize, self->width, self->height));
        return GST_BASE_TRANSFORM_FLOW_DROPPED;
    }
    gst_buffer_set_size(outbuf, size);
    // Times, sync point (no DELTA_UNIT), preroll (DECODE_ONLY) and discontinuity come over from
    // the input with the rest of its metadata, copied by the base class.
    return GST_FLOW_OK;
}

static void gst_trv2_enc_class_init(GstTrv2EncClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* transform_class = GST_BASE_TRANSFORM_CLASS(klass);

    object_class->finalize = gst_trv2_enc_finalize;
    object_class->set_property = gst_trv2_enc_set_property;
    object_class->get_property = gst_trv2_enc_get_property;
    g_object_class_install_property(
        object_class, PROP_QUALITY_LEVEL,
        g_param_spec_int("quality-level", "Quality level",
                         "0 (best compression) to 9 (best quality); stored for every program in system.ini",
                         G_MININT, G_MAXINT, 5,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    gst_trv2_enc_signals[SIGNAL_RESET_QUALITY_LEVEL] = g_signal_new_class_handler(
        "reset-quality-level", G_TYPE_FROM_CLASS(klass),
        static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
        G_CALLBACK(gst_trv2_enc_reset_quality_level), NULL, NULL, NULL, G_TYPE_NONE, 0);

    gst_element_class_set_static_metadata(element_class, "Tavrin TRV2 Video CODEC", "Codec/Encoder/Video",
                                          "Encodes UYVY video into TRV2 frames", "Gardivo");
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    transform_class->transform_caps = gst_trv2_enc_transform_caps;
    transform_class->set_caps = gst_trv2_enc_set_caps;
    transform_class->transform_size = gst_trv2_enc_transform_size;
    transform_class->decide_allocation = gst_trv2_enc_decide_allocation;
    transform_class->transform = gst_trv2_enc_transform;
    transform_class->passthrough_on_same_caps = FALSE;
    GST_DEBUG_CATEGORY_INIT(gst_trv2_enc_debug, "trv2enc", 0, "TRV2 encoder");
}

static void gst_trv2_enc_init(GstTrv2Enc* self) {
    self->qualityLock = new std::mutex;
    self->quality = new gardivo::trv2::QualityLevel;
    self->width = 0;
    self->height = 0;
}
