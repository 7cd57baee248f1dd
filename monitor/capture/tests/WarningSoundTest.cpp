#include "monitor/capture/WarningSound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

using namespace gardivo;

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(WarningSound, IsAFourteenSecondEightBitMonoSirenAt22050Hz) {
    const auto wav = warningSoundWav();
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(wav.data()), 4), "RIFF");
    EXPECT_EQ(le32(wav.data() + 4), wav.size() - 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(wav.data() + 8), 8), "WAVEfmt ");
    EXPECT_EQ(wav[20] | wav[21] << 8, 1); // PCM
    EXPECT_EQ(wav[22] | wav[23] << 8, 1); // mono
    EXPECT_EQ(le32(wav.data() + 24), 22050u);
    EXPECT_EQ(wav[34] | wav[35] << 8, 8);
    const uint32_t samples = le32(wav.data() + 40);
    EXPECT_NEAR(samples / 22050.0, 14.0, 0.5);

    // Two tones: count zero crossings in a window of each half-cycle.
    const uint8_t* pcm = wav.data() + 44;
    const auto frequency = [&](double from_s) {
        const size_t start = static_cast<size_t>(from_s * 22050), length = 22050 / 10;
        int crossings = 0;
        for (size_t i = start + 1; i < start + length; ++i)
            crossings += (pcm[i - 1] < 128) != (pcm[i] < 128);
        return crossings / 2.0 / 0.1;
    };
    const double first = frequency(0.1), second = frequency(0.55);
    EXPECT_GT(std::abs(first - second), 100.0) << first << " Hz then " << second << " Hz";
    EXPECT_NEAR(frequency(1.0), first, 30.0);
}

TEST(WarningSound, GStreamerReadsItAsAudio) {
    gst_init(nullptr, nullptr);
    GstElement* pipeline =
        gst_parse_launch("appsrc name=wav ! wavparse ! audioconvert ! appsink name=out sync=false", nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "wav");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    const auto wav = warningSoundWav();
    gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_wrapped_full(
                                                  GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(wav.data()),
                                                  wav.size(), 0, wav.size(), nullptr, nullptr));
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstClockTime last = 0;
    int rate = 0, channels = 0;
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
        const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(caps, "rate", &rate);
        gst_structure_get_int(caps, "channels", &channels);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        last = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(channels, 1);
    EXPECT_NEAR(static_cast<double>(last) / GST_SECOND, 14.0, 0.5);
}

TEST(WarningSound, PlayingAndStoppingNeverFailsLoudly) {
    GstSoundPlayer player;
    // With or without a sound device: play() says which, and stop() always leaves it silent.
    const bool playing = player.play();
    EXPECT_EQ(player.isPlaying(), playing);
    player.play(); // again, from the start
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    player.stop();
}

} // namespace
