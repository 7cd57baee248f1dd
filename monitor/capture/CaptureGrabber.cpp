// The grabber: the branch that keeps the newest frame in UYVY at the detector's size, the frame
// handed to the detector, and the snapshot written from it.

#include "CaptureGraph.h"

#include "PixelConversionLibrary.h"
#include "monitor/engine/DetectionEngine.h"
#include "platform/FileOps.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>

namespace gardivo {

namespace {

constexpr int kMaxCaptureSide = 4096;

} // namespace

GstCaps* CaptureGraph::grabberCaps() const {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "UYVY", "width", G_TYPE_INT,
                               grabWidth(), "height", G_TYPE_INT, m_frameHeight, nullptr);
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
    // Pictures the detector will not look at are neither scaled nor converted.
    if (GstRef<GstPad> pad{gst_element_get_static_pad(queue, "sink")})
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, FrameGate::probe, &m_gate, nullptr);
    // Scaled before it is converted: a camera's large picture is made small in its own format,
    // and only the small one is converted to UYVY.
    m_grabberConnected = gst_element_link_many(m_mainTee, queue, scale, convert, caps, tee, sink, nullptr);
    if (!m_grabberConnected)
        m_env.reporter->report("Connect:Capture-Grabber", CaptureReporter::Failure::CannotConnect);
    return m_grabberConnected;
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

namespace {

// The UYVY rows of a sample, rowBytes of each (its whole width when 0), when it has the expected
// size (any when expectWidth is 0); its size goes to width and height.
bool sampleRows(GstSample* sample, std::vector<uint8_t>& out, size_t rowBytes, int expectWidth,
                int expectHeight, int& width, int& height) {
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_UYVY)
        return false;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    width = GST_VIDEO_FRAME_WIDTH(&frame);
    height = GST_VIDEO_FRAME_HEIGHT(&frame);
    if (expectWidth > 0 && (width != expectWidth || height != expectHeight)) {
        gst_video_frame_unmap(&frame);
        return false;
    }
    if (rowBytes == 0)
        rowBytes = static_cast<size_t>(width) * 2;
    const size_t stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    out.resize(rowBytes * static_cast<size_t>(height));
    for (size_t y = 0; y < static_cast<size_t>(height); ++y)
        std::memcpy(out.data() + y * rowBytes, data + y * stride, rowBytes);
    gst_video_frame_unmap(&frame);
    return true;
}

} // namespace

bool CaptureGraph::latestPicture(std::vector<uint8_t>& uyvy, int& width, int& height) const {
    SampleRef sample;
    {
        std::lock_guard lock(m_sampleMutex);
        if (!m_sample)
            return false;
        sample.reset(gst_sample_ref(m_sample.get()));
    }
    return sampleRows(sample.get(), uyvy, 0, 0, 0, width, height);
}

bool CaptureGraph::GrabFrame(std::vector<uint8_t>& slot) {
    // The detector looked: the gate learns its pace from these looks (a snapshot is none).
    if (!copyFrame(slot))
        return false;
    m_gate.looked();
    return true;
}

bool CaptureGraph::copyFrame(std::vector<uint8_t>& slot) {
    SampleRef sample;
    {
        std::lock_guard lock(m_sampleMutex);
        if (!m_sample || std::chrono::steady_clock::now() - m_sampleTime > kStaleFrame)
            return false;
        sample.reset(gst_sample_ref(m_sample.get()));
    }
    // The size of the sample's own caps: they lag a change of size by a frame or two. A frame
    // of the old size is not handed out, so that no reference of the wrong size is taken. An odd
    // width is grabbed one pixel wider, UYVY coming in pairs; each row handed out has exactly the
    // asked width, so that the detector's rows line up with the picture's.
    int width = 0, height = 0;
    return sampleRows(sample.get(), slot, static_cast<size_t>(m_frameWidth) * 2, grabWidth(), m_frameHeight,
                      width, height);
}

bool CaptureGraph::SnapshotToFile(const std::string& path) {
    std::vector<uint8_t> frame;
    if (!copyFrame(frame) || frame.empty() || !m_env.settings)
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

} // namespace gardivo
