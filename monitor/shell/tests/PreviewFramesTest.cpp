// The live picture as the video window gets it: from a real pipeline, in each of the layouts
// cameras and decoders give, and never changed under a painter that still holds it.

#include "monitor/shell/PreviewFrames.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <string>
#include <thread>

using namespace gardivo;

namespace {

// Pushes frames of one colour through the preview sink and returns the newest picture.
class PreviewPipeline {
public:
    PreviewPipeline(PreviewFrames& frames, const std::string& format, int width, int height) {
        gst_init(nullptr, nullptr);
        m_pipeline = gst_pipeline_new(nullptr);
        m_source = gst_element_factory_make("videotestsrc", nullptr);
        GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
        // As in the capture graph: a converter before the sink, idle when the sink takes the layout.
        GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
        GstElement* sink = frames.makeSink();
        GstCaps* wanted =
            gst_caps_from_string(("video/x-raw, format=" + format + ", width=" + std::to_string(width) +
                                  ", height=" + std::to_string(height) + ", framerate=30/1")
                                     .c_str());
        g_object_set(caps, "caps", wanted, nullptr);
        gst_caps_unref(wanted);
        g_object_set(m_source, "is-live", TRUE, nullptr);
        gst_bin_add_many(GST_BIN(m_pipeline), m_source, caps, convert, sink, nullptr);
        m_linked = gst_element_link_many(m_source, caps, convert, sink, nullptr);
    }
    ~PreviewPipeline() {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    bool linked() const { return m_linked; }
    void play(const char* pattern) {
        gst_util_set_object_arg(G_OBJECT(m_source), "pattern", pattern);
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    }

private:
    GstElement* m_pipeline;
    GstElement* m_source;
    bool m_linked = false;
};

// Waits for a picture whose centre has the colour asked for.
QImage waitForColour(PreviewFrames& frames, QColor colour) {
    for (int i = 0; i < 300; ++i) {
        const QImage picture = frames.latest();
        if (!picture.isNull()) {
            const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
            if (std::abs(c.red() - colour.red()) <= 3 && std::abs(c.green() - colour.green()) <= 3 &&
                std::abs(c.blue() - colour.blue()) <= 3)
                return picture;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

TEST(PreviewFrames, EveryLayoutShowsItsColoursAndAHeldPictureStaysAsItWas) {
    for (const char* format : {"UYVY", "YUY2", "I420", "BGRx", "RGB"}) {
        SCOPED_TRACE(format);
        PreviewFrames frames;
        frames.setSize(0, 0);
        PreviewPipeline pipeline(frames, format, 161, 121); // odd sizes: the last pixel pair is half
        ASSERT_TRUE(pipeline.linked());
        pipeline.play("white");
        const QImage white = waitForColour(frames, QColor(255, 255, 255));
        ASSERT_FALSE(white.isNull());
        EXPECT_EQ(white.size(), QSize(161, 121));
        EXPECT_EQ(white.pixelColor(160, 120), QColor(255, 255, 255));
        // The painter still holds the white picture while red ones keep coming.
        pipeline.play("red");
        const QImage red = waitForColour(frames, QColor(255, 0, 0));
        ASSERT_FALSE(red.isNull());
        for (int i = 0; i < 10; ++i)
            frames.latest(); // later frames reuse the pictures nobody holds
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(white.pixelColor(80, 60), QColor(255, 255, 255));
        EXPECT_EQ(white.pixelColor(0, 0), QColor(255, 255, 255));
    }
}

} // namespace
