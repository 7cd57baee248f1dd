/**
 * SECTION:element-trv2dec
 *
 * Decodes TRV2 frames back into UYVY video, from trv2enc or from an AVI file. GStreamer's AVI
 * demuxer does not know the format and hands it on as video/x-avi-unknown without the picture
 * size; the decoder then reads the size and the quality parameters from the file's own headers,
 * which it finds through the upstream URI.
 *
 * |[
 * gst-launch-1.0 filesrc location=clip.avi ! avidemux ! trv2dec ! videoconvert ! autovideosink
 * ]|
 */

#include "gsttrv2dec.h"

#include "MappedBuffer.h"
#include "codec_filter/AviReader.h"
#include "codec_filter/Trv2Decoder.h"

#include <optional>
#include <string>

GST_DEBUG_CATEGORY_STATIC(gst_trv2_dec_debug);
#define GST_CAT_DEFAULT gst_trv2_dec_debug

#define TRV2_FOURCC_INT 844517972 /* "TRV2" read little-endian */

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-trv2, width=(int)[2, 32766], height=(int)[1, 32767]; "
                                            "video/x-avi-unknown, fourcc=(int)844517972"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string)UYVY, width=(int)[2, 32766], height=(int)[1, 32767], "
                    "framerate=(fraction)[0/1, MAX]"));

struct _GstTrv2Dec {
    GstBaseTransform parent;
    int width;
    int height;
    guint quality;
    gboolean warned;
};

G_DEFINE_TYPE(GstTrv2Dec, gst_trv2_dec, GST_TYPE_BASE_TRANSFORM);
GST_ELEMENT_REGISTER_DEFINE(trv2dec, "trv2dec", GST_RANK_PRIMARY, GST_TYPE_TRV2_DEC);

// The stream's size and quality from the AVI file upstream, when the caps do not carry them.
static std::optional<gardivo::Trv2StreamInfo> gst_trv2_dec_stream_from_file(GstTrv2Dec* self,
                                                                            std::string& error) {
    GstQuery* query = gst_query_new_uri();
    std::optional<gardivo::Trv2StreamInfo> info;
    error = "the stream gives no picture size and comes from no file";
    if (gst_pad_peer_query(GST_BASE_TRANSFORM_SINK_PAD(self), query)) {
        gchar* uri = nullptr;
        gst_query_parse_uri(query, &uri);
        gchar* path = uri ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr;
        if (path)
            info = gardivo::readTrv2StreamInfo(path, &error);
        g_free(path);
        g_free(uri);
    }
    gst_query_unref(query);
    return info;
}

// Fills width, height, quality and frame rate of a sink structure, from itself or from the file;
// on failure error says why.
static gboolean gst_trv2_dec_describe(GstTrv2Dec* self, const GstStructure* s, int& w, int& h, guint& quality,
                                      int& rateNum, int& rateDen, std::string& error) {
    rateNum = 0;
    rateDen = 1;
    gst_structure_get_fraction(s, "framerate", &rateNum, &rateDen);
    if (gst_structure_has_name(s, "video/x-trv2")) {
        quality = 0;
        gst_structure_get_uint(s, "quality", &quality);
        if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h)) {
            error = "the stream gives no picture size";
            return FALSE;
        }
        if (w > gardivo::trv2::kMaxPictureSide || h > gardivo::trv2::kMaxPictureSide) {
            error = "the stream gives a picture of " + std::to_string(w) + "x" + std::to_string(h) +
                    "; at most 8192x8192 is accepted";
            return FALSE;
        }
        return TRUE;
    }
    const auto info = gst_trv2_dec_stream_from_file(self, error);
    if (!info)
        return FALSE;
    w = info->width;
    h = info->height;
    quality = info->packedQuality;
    if (info->rateNumerator) {
        rateNum = static_cast<int>(info->rateNumerator);
        rateDen = static_cast<int>(info->rateDenominator ? info->rateDenominator : 1);
    }
    return TRUE;
}

static GstCaps* gst_trv2_dec_transform_caps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                                            GstCaps* filter) {
    GstTrv2Dec* self = GST_TRV2_DEC(trans);
    GstCaps* result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* in = gst_caps_get_structure(caps, i);
        if (direction == GST_PAD_SINK) {
            GstStructure* out = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, "UYVY", NULL);
            int w, h, num, den;
            guint quality;
            std::string error;
            if (gst_caps_is_fixed(caps) && gst_trv2_dec_describe(self, in, w, h, quality, num, den, error)) {
                gst_structure_set(out, "width", G_TYPE_INT, w, "height", G_TYPE_INT, h, NULL);
                if (num > 0)
                    gst_structure_set(out, "framerate", GST_TYPE_FRACTION, num, den, NULL);
            } else {
                for (const char* field : {"width", "height", "framerate"})
                    if (const GValue* v = gst_structure_get_value(in, field))
                        gst_structure_set_value(out, field, v);
            }
            result = gst_caps_merge_structure(result, out);
        } else {
            GstStructure* trv2 = gst_structure_copy(in);
            gst_structure_set_name(trv2, "video/x-trv2");
            gst_structure_remove_fields(trv2, "format", "colorimetry", "chroma-site", "interlace-mode", NULL);
            result = gst_caps_merge_structure(result, trv2);
            result = gst_caps_merge_structure(result, gst_structure_new("video/x-avi-unknown", "fourcc",
                                                                        G_TYPE_INT, TRV2_FOURCC_INT, NULL));
        }
    }
    if (filter) {
        GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = filtered;
    }
    return result;
}

static gboolean gst_trv2_dec_set_caps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* outcaps) {
    GstTrv2Dec* self = GST_TRV2_DEC(trans);
    int w, h, num, den;
    guint quality;
    std::string error;
    if (!gst_trv2_dec_describe(self, gst_caps_get_structure(incaps, 0), w, h, quality, num, den, error) ||
        w % 2 != 0 || w <= 0 || h <= 0) {
        if (error.empty())
            error = "the picture size " + std::to_string(w) + "x" + std::to_string(h) + " is not usable";
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("TRV2 stream without a usable picture size: %s", error.c_str()), (NULL));
        return FALSE;
    }
    self->width = w;
    self->height = h;
    self->quality = quality;
    return TRUE;
}

static gboolean gst_trv2_dec_transform_size(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                                            gsize size, GstCaps* othercaps, gsize* othersize) {
    GstTrv2Dec* self = GST_TRV2_DEC(trans);
    if (direction != GST_PAD_SINK)
        return FALSE;
    *othersize = static_cast<gsize>(self->width) * static_cast<gsize>(self->height) * 2;
    return TRUE;
}

static GstFlowReturn gst_trv2_dec_transform(GstBaseTransform* trans, GstBuffer* inbuf, GstBuffer* outbuf) {
    GstTrv2Dec* self = GST_TRV2_DEC(trans);
    const gardivo::MappedBuffer in(inbuf, GST_MAP_READ);
    const gardivo::MappedBuffer out(outbuf, GST_MAP_WRITE);
    if (!in || !out)
        return GST_FLOW_ERROR;
    const gsize needed = static_cast<gsize>(self->width) * static_cast<gsize>(self->height) * 2;
    const bool whole =
        out.size() >= needed && gardivo::trv2::DecodeFrame(in.data(), in.size(), self->width, self->height,
                                                           self->quality, out.data());
    if (!whole && !self->warned) {
        // A damaged frame shows what could be decoded; say so once.
        GST_ELEMENT_WARNING(self, STREAM, DECODE, ("Damaged TRV2 frame"), (NULL));
        self->warned = TRUE;
    }
    return GST_FLOW_OK;
}

static void gst_trv2_dec_class_init(GstTrv2DecClass* klass) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* transform_class = GST_BASE_TRANSFORM_CLASS(klass);
    gst_element_class_set_static_metadata(element_class, "Tavrin TRV2 Video Decoder", "Codec/Decoder/Video",
                                          "Decodes TRV2 frames into UYVY video", "Gardivo");
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    transform_class->transform_caps = gst_trv2_dec_transform_caps;
    transform_class->set_caps = gst_trv2_dec_set_caps;
    transform_class->transform_size = gst_trv2_dec_transform_size;
    transform_class->transform = gst_trv2_dec_transform;
    GST_DEBUG_CATEGORY_INIT(gst_trv2_dec_debug, "trv2dec", 0, "TRV2 decoder");
}

static void gst_trv2_dec_init(GstTrv2Dec* self) {
    self->width = 0;
    self->height = 0;
    self->quality = 0;
    self->warned = FALSE;
}
