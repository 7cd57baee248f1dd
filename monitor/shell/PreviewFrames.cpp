#include "PreviewFrames.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "deinterlace/PreviewKernels.h"

namespace gardivo {

namespace {

GstCaps* previewCaps(int width, int height) {
    // BGRx is the byte order of Qt's 32-bit RGB on little-endian machines. The YUV layouts that
    // cameras and decoders give are taken as they come and turned into it here, several times
    // faster than a general converter would.
    GstCaps* caps = gst_caps_from_string(G_BYTE_ORDER == G_LITTLE_ENDIAN
                                             ? "video/x-raw, format=(string){ BGRx, UYVY, YUY2, I420 }"
                                             : "video/x-raw, format=(string)xRGB");
    if (width > 0 && height > 0)
        gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    return caps;
}

// A picture that stays in the stream's own buffer: it is shown without being copied, and the
// buffer goes back to its pool once the picture is let go (on whichever thread that is).
struct HeldFrame {
    GstSample* sample;
    GstVideoFrame frame;
};

void releaseHeldFrame(void* data) {
    auto* held = static_cast<HeldFrame*>(data);
    gst_video_frame_unmap(&held->frame);
    gst_sample_unref(held->sample);
    delete held;
}

// A YUV picture turned into one of the frames' own pictures.
QImage converted(PreviewFrames& frames, const GstVideoFrame& frame) {
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    return frames.fillPicture(width, height, [&](QImage& picture) {
        const auto& kernels = pixelconv::activePreviewKernels();
        const auto plane = [&](int n) {
            return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, n));
        };
        const auto stride = [&](int n) {
            return static_cast<ptrdiff_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, n));
        };
        const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(&frame);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = picture.scanLine(y);
            if (format == GST_VIDEO_FORMAT_UYVY)
                kernels.uyvy(plane(0) + y * stride(0), row, width);
            else if (format == GST_VIDEO_FORMAT_YUY2)
                kernels.yuy2(plane(0) + y * stride(0), row, width);
            else
                kernels.i420(plane(0) + y * stride(0), plane(1) + (y / 2) * stride(1),
                             plane(2) + (y / 2) * stride(2), row, width);
        }
    });
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data) {
    auto* frames = static_cast<PreviewFrames*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    auto* held = new HeldFrame{sample, {}};
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&held->frame, &info, buffer, GST_MAP_READ)) {
        gst_sample_unref(sample);
        delete held;
        return GST_FLOW_OK;
    }
    const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(&held->frame);
    if (format == GST_VIDEO_FORMAT_UYVY || format == GST_VIDEO_FORMAT_YUY2 ||
        format == GST_VIDEO_FORMAT_I420) {
        QImage picture = converted(*frames, held->frame);
        releaseHeldFrame(held);
        if (!picture.isNull())
            frames->store(std::move(picture));
        return GST_FLOW_OK;
    }
    const QImage picture(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&held->frame, 0)),
                         GST_VIDEO_FRAME_WIDTH(&held->frame), GST_VIDEO_FRAME_HEIGHT(&held->frame),
                         GST_VIDEO_FRAME_PLANE_STRIDE(&held->frame, 0), QImage::Format_RGB32,
                         releaseHeldFrame, held);
    if (picture.isNull()) {
        releaseHeldFrame(held);
        return GST_FLOW_OK;
    }
    frames->store(picture);
    return GST_FLOW_OK;
}

} // namespace

PreviewFrames::~PreviewFrames() {
    if (m_caps)
        gst_object_unref(m_caps);
}

GstElement* PreviewFrames::makeSink() {
    GstElement* bin = gst_bin_new("preview-picture");
    GstElement* caps = gst_element_factory_make("capsfilter", "preview-picture-caps");
    GstElement* sink = gst_element_factory_make("appsink", "preview-picture-sink");
    if (!bin || !caps || !sink) {
        for (GstElement* e : {bin, caps, sink})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return nullptr;
    }
    // The newest picture only; the live source is never held up by the window.
    g_object_set(sink, "max-buffers", 1, "drop", TRUE, "sync", FALSE, "async", FALSE, "enable-last-sample",
                 FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(bin), caps, sink, nullptr);
    gst_element_link(caps, sink);
    GstPad* target = gst_element_get_static_pad(caps, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", target));
    gst_object_unref(target);
    {
        std::lock_guard lock(m_mutex);
        if (m_caps)
            gst_object_unref(m_caps);
        m_caps = GST_ELEMENT(gst_object_ref(caps));
        applySize();
    }
    return bin;
}

void PreviewFrames::setSize(int width, int height) {
    std::lock_guard lock(m_mutex);
    m_width = width;
    m_height = height;
    applySize();
}

void PreviewFrames::applySize() {
    if (!m_caps)
        return;
    GstCaps* caps = previewCaps(m_width, m_height);
    g_object_set(m_caps, "caps", caps, nullptr);
    gst_caps_unref(caps);
}

QImage PreviewFrames::fillPicture(int width, int height, const std::function<void(QImage&)>& fill) {
    std::lock_guard lock(m_poolMutex);
    QImage* target = nullptr;
    for (QImage& picture : m_pool)
        if (picture.width() == width && picture.height() == height && picture.isDetached())
            target = &picture;
    if (!target) {
        // Every picture of this size is still shown or about to be: the oldest gives way.
        target = &m_pool[m_nextPoolSlot];
        m_nextPoolSlot = (m_nextPoolSlot + 1) % m_pool.size();
        *target = QImage(width, height, QImage::Format_RGB32);
        if (target->isNull())
            return {};
    }
    // Written while only the pool holds it, so that writing does not copy it.
    fill(*target);
    return *target;
}

QImage PreviewFrames::latest() const {
    std::lock_guard lock(m_mutex);
    return m_latest;
}

void PreviewFrames::setOnFrame(std::function<void()> onFrame) {
    std::lock_guard lock(m_mutex);
    m_onFrame = std::move(onFrame);
}

void PreviewFrames::store(QImage picture) {
    std::function<void()> onFrame;
    {
        std::lock_guard lock(m_mutex);
        m_latest = std::move(picture);
        onFrame = m_onFrame;
    }
    ++m_frames;
    if (onFrame && !m_pending.exchange(true))
        onFrame();
}

} // namespace gardivo
