// The copies that phones and browsers play: both formats, with and without sound, and what a
// clip that cannot be read leaves behind (nothing).

#include "CaptureTestKit.h"
#include "PlayedFrames.h"

#include "monitor/capture/PlayableCopy.h"

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

// A TRV2 clip of 45 pictures at 15 a second (three seconds), with a second of sound first
// missing when `sound` is set: the sound starts with the pictures.
std::string makeClip(const TempDir& dir, bool sound, int width = 160, int height = 120) {
    loadOurPlugins();
    const std::string clip = dir.file("error001.avi");
    std::string description =
        "videotestsrc num-buffers=45 pattern=ball ! video/x-raw,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) +
        ",framerate=15/1 ! videoconvert ! video/x-raw,format=UYVY ! trv2enc ! "
        "trv2avisink name=sink location=" +
        clip;
    if (sound)
        description +=
            " audiotestsrc num-buffers=30 samplesperbuffer=1102 ! audio/x-raw,format=S16LE,rate=11025,"
            "channels=1 ! sink.audio";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    EXPECT_NE(pipeline, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* end = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    EXPECT_TRUE(end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS);
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return clip;
}

bool hasSound(const std::string& file) {
    const std::string description =
        "filesrc location=\"" + file + "\" ! decodebin ! audioconvert ! fakesink name=out";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return false;
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    const bool linked = gst_pad_is_linked(pad) && gst_pad_get_current_caps(pad);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return linked;
}

class PlayableCopyTest : public ::testing::TestWithParam<PlayableFormat> {};

TEST_P(PlayableCopyTest, TheCopyHoldsEveryPictureForTheClipsLengthAndItsSound) {
    const PlayableFormat format = GetParam();
    loadOurPlugins();
    for (const char* element :
         {format.videoEncoder.c_str(), format.muxer.c_str(), format.audioEncoder.c_str()})
        if (GstElementFactory* f = gst_element_factory_find(element))
            gst_object_unref(f);
        else
            GTEST_SKIP() << element << " is not installed";
    TempDir dir;
    for (const bool sound : {false, true}) {
        const std::string clip = makeClip(dir, sound);
        const std::string copy = playableCopyPath(clip, format);
        std::string error;
        ASSERT_TRUE(makePlayableCopy(clip, copy, format, &error)) << error;
        EXPECT_EQ(existingPlayableCopy(clip), copy);
        const PlayedLength played = playedLength(copy, false);
        EXPECT_EQ(played.frames, 45);
        EXPECT_NEAR(played.seconds, 3.0, 0.1);
        EXPECT_EQ(hasSound(copy), sound);
        const auto a = decodedPictures(clip, 160, 120);
        const auto b = decodedPictures(copy, 160, 120, false);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_LT(meanDifference(a[20], b[20]), 6.0);
        fs::remove(copy);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PlayableCopyTest,
                         ::testing::Values(PlayableFormat{"mp4", "x264enc", "avenc_aac", "mp4mux"},
                                           PlayableFormat{"webm", "vp8enc", "opusenc", "webmmux"}),
                         [](const auto& info) { return info.param.extension; });

TEST(PlayableCopy, APictureOfAnOddHeightIsCopiedALineShorter) {
    TempDir dir;
    const std::string clip = makeClip(dir, false, 96, 71);
    const auto format = playableFormat();
    ASSERT_TRUE(format) << "no encoder for playable copies is installed";
    std::string error;
    const std::string copy = playableCopyPath(clip, *format);
    ASSERT_TRUE(makePlayableCopy(clip, copy, *format, &error)) << error;
    EXPECT_EQ(playedLength(copy, false).frames, 45);
    // The copy's own size, as a player gets it.
    GstElement* player = gst_parse_launch(
        ("filesrc location=" + copy + " ! decodebin ! appsink name=out sync=false").c_str(), nullptr);
    ASSERT_NE(player, nullptr);
    GstElement* out = gst_bin_get_by_name(GST_BIN(player), "out");
    gst_element_set_state(player, GST_STATE_PLAYING);
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND);
    ASSERT_NE(sample, nullptr);
    int width = 0, height = 0;
    const GstStructure* st = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(st, "width", &width);
    gst_structure_get_int(st, "height", &height);
    EXPECT_EQ(width, 96);
    EXPECT_EQ(height, 70);
    gst_sample_unref(sample);
    gst_element_set_state(player, GST_STATE_NULL);
    gst_object_unref(out);
    gst_object_unref(player);
}

TEST(PlayableCopy, AClipThatCannotBeReadLeavesNothingBehind) {
    TempDir dir;
    writeText(dir.file("error001.avi"), "RIFF this is no clip");
    const auto format = playableFormat();
    ASSERT_TRUE(format) << "no encoder for playable copies is installed";
    std::string error;
    const std::string copy = playableCopyPath(dir.file("error001.avi"), *format);
    EXPECT_FALSE(makePlayableCopy(dir.file("error001.avi"), copy, *format, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_FALSE(fs::exists(copy + ".part"));
    EXPECT_EQ(existingPlayableCopy(dir.file("error001.avi")), "");
}

} // namespace
