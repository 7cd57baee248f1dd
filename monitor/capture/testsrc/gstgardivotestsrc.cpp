/**
 * SECTION:element-gardivotestsrc
 *
 * A live camera without a camera: a still room into which a figure walks, stands still a while
 * and walks out again, over and over, in UYVY. Gardivo ships it as the "Test Pattern" source.
 * Each time the figure starts to move the element posts an element message "gardivo-motion"
 * with the buffer's running time, so that a test can tell when motion began. A lamp may be
 * switched on and off at given times (lamp-on-seconds, lamp-off-seconds); each switch posts
 * "gardivo-lamp" with the running time and whether it is now on.
 *
 * |[
 * gst-launch-1.0 gardivotestsrc still-seconds=2 ! videoconvert ! autovideosink
 * gst-launch-1.0 gardivotestsrc still-seconds=100 lamp-on-seconds=3 lamp-off-seconds=8 ! videoconvert !
 * autovideosink
 * ]|
 */

#include "gstgardivotestsrc.h"

#include "monitor/capture/testsrc/TestPatternScene.h"

#include <gst/video/video.h>

#include <memory>

GST_DEBUG_CATEGORY_STATIC(gst_gardivo_test_src_debug);
#define GST_CAT_DEFAULT gst_gardivo_test_src_debug

enum {
    PROP_0,
    PROP_STILL_SECONDS,
    PROP_MOVE_SECONDS,
    PROP_REST_SECONDS,
    PROP_LOOP,
    PROP_LAMP_ON_SECONDS,
    PROP_LAMP_OFF_SECONDS,
    PROP_LAMP_GAIN
};

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string)UYVY, width=(int)[16, 4096], height=(int)[16, 4096], "
                    "framerate=(fraction)[1/1, 60/1]"));

struct _GstGardivoTestSrc {
    GstPushSrc parent;
    gardivo::TestPatternScene::Timing* timing;
    gardivo::TestPatternScene* scene;
    GstVideoInfo info;
    guint64 frames;
    gboolean wasMoving;
    gboolean wasLit;
};

G_DEFINE_TYPE(GstGardivoTestSrc, gst_gardivo_test_src, GST_TYPE_PUSH_SRC);
GST_ELEMENT_REGISTER_DEFINE(gardivotestsrc, "gardivotestsrc", GST_RANK_NONE, GST_TYPE_GARDIVO_TEST_SRC);

static void gst_gardivo_test_src_set_property(GObject* object, guint id, const GValue* value,
                                              GParamSpec* pspec) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_STILL_SECONDS:
        self->timing->stillSeconds = g_value_get_double(value);
        break;
    case PROP_MOVE_SECONDS:
        self->timing->moveSeconds = g_value_get_double(value);
        break;
    case PROP_REST_SECONDS:
        self->timing->restSeconds = g_value_get_double(value);
        break;
    case PROP_LOOP:
        self->timing->loop = g_value_get_boolean(value);
        break;
    case PROP_LAMP_ON_SECONDS:
        self->timing->lampOnSeconds = g_value_get_double(value);
        break;
    case PROP_LAMP_OFF_SECONDS:
        self->timing->lampOffSeconds = g_value_get_double(value);
        break;
    case PROP_LAMP_GAIN:
        self->timing->lampGain = g_value_get_double(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_gardivo_test_src_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_STILL_SECONDS:
        g_value_set_double(value, self->timing->stillSeconds);
        break;
    case PROP_MOVE_SECONDS:
        g_value_set_double(value, self->timing->moveSeconds);
        break;
    case PROP_REST_SECONDS:
        g_value_set_double(value, self->timing->restSeconds);
        break;
    case PROP_LOOP:
        g_value_set_boolean(value, self->timing->loop);
        break;
    case PROP_LAMP_ON_SECONDS:
        g_value_set_double(value, self->timing->lampOnSeconds);
        break;
    case PROP_LAMP_OFF_SECONDS:
        g_value_set_double(value, self->timing->lampOffSeconds);
        break;
    case PROP_LAMP_GAIN:
        g_value_set_double(value, self->timing->lampGain);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

// 640 x 480 at 30 frames a second unless downstream asks otherwise.
static GstCaps* gst_gardivo_test_src_fixate(GstBaseSrc* src, GstCaps* caps) {
    caps = gst_caps_make_writable(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "width", 640);
    gst_structure_fixate_field_nearest_int(s, "height", 480);
    gst_structure_fixate_field_nearest_fraction(s, "framerate", 30, 1);
    return GST_BASE_SRC_CLASS(gst_gardivo_test_src_parent_class)->fixate(src, caps);
}

static gboolean gst_gardivo_test_src_set_caps(GstBaseSrc* src, GstCaps* caps) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(src);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) || GST_VIDEO_INFO_FPS_N(&info) <= 0)
        return FALSE;
    gardivo::TestPatternScene::Timing timing;
    GST_OBJECT_LOCK(self);
    timing = *self->timing;
    GST_OBJECT_UNLOCK(self);
    delete self->scene;
    self->scene =
        new gardivo::TestPatternScene(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), timing);
    self->info = info;
    gst_base_src_set_blocksize(src, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
    return TRUE;
}

// A live source is pushed at the pace of its timestamps.
static void gst_gardivo_test_src_get_times(GstBaseSrc* src, GstBuffer* buffer, GstClockTime* start,
                                           GstClockTime* end) {
    *start = GST_BUFFER_PTS(buffer);
    *end = GST_CLOCK_TIME_IS_VALID(*start) ? *start + GST_BUFFER_DURATION(buffer) : GST_CLOCK_TIME_NONE;
}

static GstFlowReturn gst_gardivo_test_src_fill(GstPushSrc* src, GstBuffer* buffer) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(src);
    if (!self->scene)
        return GST_FLOW_NOT_NEGOTIATED;
    const int fpsN = GST_VIDEO_INFO_FPS_N(&self->info), fpsD = GST_VIDEO_INFO_FPS_D(&self->info);
    const GstClockTime pts = gst_util_uint64_scale(self->frames, fpsD * GST_SECOND, fpsN);
    const GstClockTime next = gst_util_uint64_scale(self->frames + 1, fpsD * GST_SECOND, fpsN);
    const double seconds = static_cast<double>(pts) / GST_SECOND;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &self->info, buffer, GST_MAP_WRITE))
        return GST_FLOW_ERROR;
    const int width = self->scene->width(), height = self->scene->height();
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    auto* data = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    if (stride == width * 2) {
        self->scene->render(seconds, self->frames, data);
    } else {
        std::vector<uint8_t> packed(static_cast<size_t>(width) * height * 2);
        self->scene->render(seconds, self->frames, packed.data());
        for (int y = 0; y < height; ++y)
            memcpy(data + static_cast<size_t>(y) * stride, packed.data() + static_cast<size_t>(y) * width * 2,
                   static_cast<size_t>(width) * 2);
    }
    gst_video_frame_unmap(&frame);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = next - pts;
    GST_BUFFER_OFFSET(buffer) = self->frames;
    GST_BUFFER_OFFSET_END(buffer) = self->frames + 1;
    const gboolean moving = self->scene->moving(seconds);
    if (moving && !self->wasMoving)
        gst_element_post_message(
            GST_ELEMENT(self),
            gst_message_new_element(GST_OBJECT(self), gst_structure_new("gardivo-motion", "running-time",
                                                                        G_TYPE_UINT64, pts, NULL)));
    self->wasMoving = moving;
    const gboolean lit = self->scene->lampOn(seconds);
    if (lit != self->wasLit)
        gst_element_post_message(
            GST_ELEMENT(self),
            gst_message_new_element(GST_OBJECT(self),
                                    gst_structure_new("gardivo-lamp", "running-time", G_TYPE_UINT64, pts,
                                                      "on", G_TYPE_BOOLEAN, lit, NULL)));
    self->wasLit = lit;
    ++self->frames;
    return GST_FLOW_OK;
}

static gboolean gst_gardivo_test_src_start(GstBaseSrc* src) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(src);
    self->frames = 0;
    self->wasMoving = FALSE;
    self->wasLit = FALSE;
    return TRUE;
}

static void gst_gardivo_test_src_finalize(GObject* object) {
    GstGardivoTestSrc* self = GST_GARDIVO_TEST_SRC(object);
    delete self->scene;
    delete self->timing;
    G_OBJECT_CLASS(gst_gardivo_test_src_parent_class)->finalize(object);
}

static void gst_gardivo_test_src_class_init(GstGardivoTestSrcClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push_class = GST_PUSH_SRC_CLASS(klass);
    object_class->set_property = gst_gardivo_test_src_set_property;
    object_class->get_property = gst_gardivo_test_src_get_property;
    object_class->finalize = gst_gardivo_test_src_finalize;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(object_class, PROP_STILL_SECONDS,
                                    g_param_spec_double("still-seconds", "Still seconds",
                                                        "How long the room stays empty", 0, 1e7, 5, flags));
    g_object_class_install_property(object_class, PROP_MOVE_SECONDS,
                                    g_param_spec_double("move-seconds", "Move seconds",
                                                        "How long the figure walks in and out (0: at once)",
                                                        0, 3600, 4, flags));
    g_object_class_install_property(object_class, PROP_REST_SECONDS,
                                    g_param_spec_double("rest-seconds", "Rest seconds",
                                                        "How long the figure stands still", 0, 1e7, 20,
                                                        flags));
    g_object_class_install_property(
        object_class, PROP_LOOP,
        g_param_spec_boolean("loop", "Loop", "Walk out again and start over", TRUE, flags));
    g_object_class_install_property(
        object_class, PROP_LAMP_ON_SECONDS,
        g_param_spec_double("lamp-on-seconds", "Lamp on seconds",
                            "When the lamp is switched on, in seconds from the start (negative: never)", -1,
                            1e7, -1, flags));
    g_object_class_install_property(
        object_class, PROP_LAMP_OFF_SECONDS,
        g_param_spec_double("lamp-off-seconds", "Lamp off seconds",
                            "When the lamp is switched off again (negative: it stays on)", -1, 1e7, -1,
                            flags));
    g_object_class_install_property(object_class, PROP_LAMP_GAIN,
                                    g_param_spec_double("lamp-gain", "Lamp gain",
                                                        "How much brighter the room gets with the lamp on",
                                                        0.2, 4, 1.35, flags));
    gst_element_class_set_static_metadata(element_class, "Gardivo test pattern", "Source/Video",
                                          "A still room that a figure walks through now and then", "Gardivo");
    gst_element_class_add_static_pad_template(element_class, &src_template);
    base_class->fixate = gst_gardivo_test_src_fixate;
    base_class->set_caps = gst_gardivo_test_src_set_caps;
    base_class->get_times = gst_gardivo_test_src_get_times;
    base_class->start = gst_gardivo_test_src_start;
    push_class->fill = gst_gardivo_test_src_fill;
    GST_DEBUG_CATEGORY_INIT(gst_gardivo_test_src_debug, "gardivotestsrc", 0, "Gardivo test pattern");
}

static void gst_gardivo_test_src_init(GstGardivoTestSrc* self) {
    self->timing = new gardivo::TestPatternScene::Timing;
    self->scene = nullptr;
    self->frames = 0;
    self->wasMoving = FALSE;
    gst_video_info_init(&self->info);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static gboolean plugin_init(GstPlugin* plugin) {
    return GST_ELEMENT_REGISTER(gardivotestsrc, plugin);
}

#define PACKAGE "gardivo"
#define VERSION "1.00"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, gardivotestsrc, "Gardivo's test pattern source",
                  plugin_init, VERSION, "LGPL", "Gardivo", "https://gardivo.invalid/")
