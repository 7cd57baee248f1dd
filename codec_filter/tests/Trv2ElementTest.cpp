// The trv2filter plugin as GStreamer sees it: caps, buffers, flags, the quality rules and their
// "system.ini", and clips written to AVI and read back through avidemux.

#include "codec_filter/AviReader.h"
#include "codec_filter/AviWriter.h"
#include "codec_filter/QualitySetting.h"
#include "codec_filter/Trv2Encoder.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <gst/app/gstappsink.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace gardivo::trv2;

namespace {

class Trv2Elements : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gst_init(nullptr, nullptr);
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(GARDIVO_PROGRAM_DIR "/libgsttrv2filter.so", &error);
        ASSERT_NE(plugin, nullptr) << (error ? error->message : "");
        gst_object_unref(plugin);
    }
    void SetUp() override { ::setenv("TAVRIN_REGISTRY_DIR", m_registry.path().c_str(), 1); }
    std::string ini() const { return m_registry.file("system.ini"); }

    TempDir m_registry;
    TempDir m_files;
};

GstCaps* uyvyCaps(int w, int h) {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "UYVY", "width", G_TYPE_INT, w,
                               "height", G_TYPE_INT, h, "framerate", GST_TYPE_FRACTION, 25, 1, NULL);
}

GstBuffer* greyFrame(int w, int h, uint8_t luma) {
    GstBuffer* b = gst_buffer_new_allocate(nullptr, static_cast<gsize>(w) * h * 2, nullptr);
    GstMapInfo map;
    gst_buffer_map(b, &map, GST_MAP_WRITE);
    for (gsize i = 0; i < map.size; i += 2) {
        map.data[i] = 128;
        map.data[i + 1] = luma;
    }
    gst_buffer_unmap(b, &map);
    return b;
}

guint capsQuality(GstHarness* h) {
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    guint quality = 0;
    gst_structure_get_uint(gst_caps_get_structure(caps, 0), "quality", &quality);
    gst_caps_unref(caps);
    return quality;
}

TEST_F(Trv2Elements, TheEncoderOffersTrv2OfTheSameSizeWithItsQuality) {
    GstHarness* h = gst_harness_new("trv2enc");
    gst_harness_set_src_caps(h, uyvyCaps(320, 240));
    GstBuffer* in = greyFrame(320, 240, 128);
    GST_BUFFER_PTS(in) = 40 * GST_MSECOND;
    GST_BUFFER_DURATION(in) = 40 * GST_MSECOND;
    GST_BUFFER_FLAG_SET(in, GST_BUFFER_FLAG_DELTA_UNIT);
    GST_BUFFER_FLAG_SET(in, GST_BUFFER_FLAG_DISCONT);
    GST_BUFFER_FLAG_SET(in, GST_BUFFER_FLAG_DECODE_ONLY);
    ASSERT_EQ(gst_harness_push(h, in), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    ASSERT_NE(out, nullptr);

    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    EXPECT_TRUE(gst_structure_has_name(s, "video/x-trv2"));
    int w = 0, hgt = 0, num = 0, den = 0;
    gst_structure_get_int(s, "width", &w);
    gst_structure_get_int(s, "height", &hgt);
    gst_structure_get_fraction(s, "framerate", &num, &den);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(hgt, 240);
    EXPECT_EQ(num, 25);
    gst_caps_unref(caps);
    EXPECT_EQ(capsQuality(h), 0x340Au); // level 5 by default

    // A grey frame: 300 macroblocks of 84 bits. The buffer was allocated for width x height x 2.
    EXPECT_EQ(gst_buffer_get_size(out), (300 * 84 + 31) / 32 * 4u);
    gsize offset = 0, maxsize = 0;
    gst_buffer_get_sizes(out, &offset, &maxsize);
    EXPECT_GE(maxsize, 320u * 240 * 2);
    EXPECT_EQ(GST_BUFFER_PTS(out), 40 * GST_MSECOND);
    EXPECT_EQ(GST_BUFFER_DURATION(out), 40 * GST_MSECOND);
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DELTA_UNIT));
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DISCONT));
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DECODE_ONLY));
    gst_buffer_unref(out);

    // A key frame stays one.
    ASSERT_EQ(gst_harness_push(h, greyFrame(320, 240, 10)), GST_FLOW_OK);
    out = gst_harness_pull(h);
    EXPECT_FALSE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DELTA_UNIT));
    EXPECT_FALSE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DISCONT));
    gst_buffer_unref(out);
    gst_harness_teardown(h);
}

// Output memory is used again frame after frame, and a buffer that held a short frame comes back
// whole: a detailed frame after a grey one is still coded in full.
TEST_F(Trv2Elements, OutputBuffersComeBackFromAPoolAtFullSize) {
    const int w = 320, hgt = 240;
    std::mt19937 rng(9);
    GstBuffer* noisy = gst_buffer_new_allocate(nullptr, static_cast<gsize>(w) * hgt * 2, nullptr);
    std::vector<uint8_t> noise(static_cast<size_t>(w) * hgt * 2);
    for (auto& b : noise)
        b = static_cast<uint8_t>(rng());
    gst_buffer_fill(noisy, 0, noise.data(), noise.size());
    // The plugin has its own copy of the codec; this one is set to the level it uses by default.
    ApplyQualityLevel(5);
    std::vector<uint8_t> expected(worstCaseFrameBytes(w, hgt));
    expected.resize(EncodeFrame(noise.data(), w, hgt, expected.data(), expected.size()));
    ASSERT_GT(expected.size(), 1000u);

    GstHarness* h = gst_harness_new("trv2enc");
    gst_harness_set_src_caps(h, uyvyCaps(w, hgt));
    std::set<const void*> memory;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(gst_harness_push(h, i % 2 ? gst_buffer_ref(noisy) : greyFrame(w, hgt, 40)), GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(h);
        ASSERT_NE(out, nullptr);
        EXPECT_NE(out->pool, nullptr) << i;
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
        memory.insert(map.data);
        if (i % 2)
            EXPECT_TRUE(map.size == expected.size() && std::equal(expected.begin(), expected.end(), map.data))
                << "frame " << i << " is " << map.size << " bytes, " << expected.size() << " expected";
        else
            EXPECT_EQ(map.size, (300 * 84 + 31) / 32 * 4u);
        gst_buffer_unmap(out, &map);
        gst_buffer_unref(out);
    }
    EXPECT_LE(memory.size(), 2u);
    gst_buffer_unref(noisy);
    gst_harness_teardown(h);
}

TEST_F(Trv2Elements, TinyPicturesAreCodedWholeAtTheFinestLevel) {
    std::mt19937 rng(4);
    for (int side : {4, 8, 16}) {
        GstHarness* h = gst_harness_new("trv2enc");
        g_object_set(h->element, "quality-level", 9, NULL);
        gst_harness_set_src_caps(h, uyvyCaps(side, side));
        std::vector<uint8_t> picture(static_cast<size_t>(side) * side * 2);
        for (auto& b : picture)
            b = static_cast<uint8_t>(rng());
        GstBuffer* in = gst_buffer_new_memdup(picture.data(), picture.size());
        ASSERT_EQ(gst_harness_push(h, in), GST_FLOW_OK) << side;
        GstBuffer* out = gst_harness_pull(h);
        ASSERT_NE(out, nullptr) << side;
        std::vector<uint8_t> whole(worstCaseFrameBytes(side, side));
        whole.resize(encodeFrameWith(picture.data(), side, side, whole.data(), whole.size(),
                                     makeQualityParameters(24, 64), activeKernel()));
        GstMapInfo map;
        gst_buffer_map(out, &map, GST_MAP_READ);
        EXPECT_EQ(std::vector<uint8_t>(map.data, map.data + map.size), whole) << side;
        gst_buffer_unmap(out, &map);
        gst_buffer_unref(out);
        gst_harness_teardown(h);
    }
}

TEST_F(Trv2Elements, OnlyEvenWidthUyvyIsAccepted) {
    GstHarness* rgb = gst_harness_new("trv2enc");
    gst_harness_set_src_caps_str(rgb, "video/x-raw,format=RGB,width=320,height=240,framerate=25/1");
    EXPECT_NE(gst_harness_push(rgb, gst_buffer_new_allocate(nullptr, 320 * 240 * 3, nullptr)), GST_FLOW_OK);
    gst_harness_teardown(rgb);

    GstHarness* odd = gst_harness_new("trv2enc");
    gst_harness_set_src_caps(odd, uyvyCaps(321, 240));
    EXPECT_NE(gst_harness_push(odd, gst_buffer_new_allocate(nullptr, 321 * 240 * 2, nullptr)), GST_FLOW_OK);
    gst_harness_teardown(odd);
}

TEST_F(Trv2Elements, TheStoredLevelIsReadWhenAnEncoderIsMade) {
    writeText(ini(), "[boot]\nshell=x\n[TavrinCap.Drv]\nTRV2QL=7\n");
    GstElement* enc = gst_element_factory_make("trv2enc", nullptr);
    int level = -1;
    g_object_get(enc, "quality-level", &level, NULL);
    EXPECT_EQ(level, 7);
    gst_object_unref(enc);

    GstHarness* h = gst_harness_new("trv2enc");
    gst_harness_set_src_caps(h, uyvyCaps(32, 32));
    gst_harness_push(h, greyFrame(32, 32, 50));
    gst_buffer_unref(gst_harness_pull(h));
    EXPECT_EQ(capsQuality(h), 0x4010u);
    gst_harness_teardown(h);

    writeText(ini(), "[TavrinCap.Drv]\nTRV2QL=12\n");
    enc = gst_element_factory_make("trv2enc", nullptr);
    g_object_get(enc, "quality-level", &level, NULL);
    EXPECT_EQ(level, 5);
    gst_object_unref(enc);
}

TEST_F(Trv2Elements, LevelTenIsAppliedButKeptAsFive) {
    writeText(ini(), "[boot]\nshell=x\n");
    GstElement* enc = gst_element_factory_make("trv2enc", nullptr);
    g_object_set(enc, "quality-level", 3, NULL);
    EXPECT_EQ(readQualityLevel(ini()), 3);
    EXPECT_NE(readText(ini()).find("[boot]\nshell=x\n"), std::string::npos); // the rest of the file stays
    g_object_set(enc, "quality-level", 10, NULL);
    int level = -1;
    g_object_get(enc, "quality-level", &level, NULL);
    EXPECT_EQ(level, 5);
    EXPECT_EQ(readQualityLevel(ini()), 5);
    gst_object_unref(enc);

    // Row 10 is what a new output type carries.
    GstHarness* h = gst_harness_new("trv2enc");
    g_object_set(h->element, "quality-level", 10, NULL);
    gst_harness_set_src_caps(h, uyvyCaps(32, 32));
    gst_harness_push(h, greyFrame(32, 32, 50));
    gst_buffer_unref(gst_harness_pull(h));
    EXPECT_EQ(capsQuality(h), 0x7341u);
    gst_harness_teardown(h);

    enc = gst_element_factory_make("trv2enc", nullptr);

    g_object_set(enc, "quality-level", 8, NULL);
    g_signal_emit_by_name(enc, "reset-quality-level");
    g_object_get(enc, "quality-level", &level, NULL);
    EXPECT_EQ(level, 5);
    EXPECT_EQ(readText(ini()).find("TRV2QL=5"), readText(ini()).rfind("TRV2QL="));
    gst_object_unref(enc);
}

TEST_F(Trv2Elements, EncodersStoringTheirLevelAtOnceNeitherFailsNorMixes) {
    writeText(ini(), "[boot]\nshell=x\n[TavrinCap.Drv]\nTRV2QL=5\n");
    std::atomic<int> failures{0};
    const auto store = [&](int level) {
        for (int i = 0; i < 300; ++i)
            if (!writeQualityLevel(level, ini()))
                ++failures;
    };
    std::thread a(store, 3), b(store, 7);
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
    const std::string text = readText(ini());
    EXPECT_TRUE(text == "[boot]\nshell=x\n[TavrinCap.Drv]\nTRV2QL=3\n" ||
                text == "[boot]\nshell=x\n[TavrinCap.Drv]\nTRV2QL=7\n")
        << text;
    for (const auto& entry : std::filesystem::directory_iterator(m_registry.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// Luma PSNR of two UYVY pictures.
double psnr(const uint8_t* a, const uint8_t* b, size_t size) {
    double se = 0;
    for (size_t i = 1; i < size; i += 2)
        se += (a[i] - b[i]) * double(a[i] - b[i]);
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * (size / 2) / se);
}

// Frames of a pipeline description ending in "appsink name=out".
std::vector<std::vector<uint8_t>> runToFrames(const std::string& description, std::string* caps = nullptr) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    EXPECT_NE(pipeline, nullptr) << (error ? error->message : "");
    if (!pipeline)
        return {};
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<std::vector<uint8_t>> frames;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        if (caps && caps->empty()) {
            gchar* text = gst_caps_to_string(gst_sample_get_caps(sample));
            *caps = text;
            g_free(text);
        }
        GstMapInfo map;
        gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ);
        frames.emplace_back(map.data, map.data + map.size);
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return frames;
}

// Runs a pipeline to its end; false on an error message.
bool runToEnd(const std::string& description) {
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

TEST_F(Trv2Elements, ARecordedClipPlaysBackThroughAvidemux) {
    const std::string clip = m_files.file("error001.avi");
    const std::string source = "videotestsrc num-buffers=20 pattern=gradient ! "
                               "video/x-raw,format=UYVY,width=320,height=240,framerate=10/1";
    ASSERT_TRUE(runToEnd(source + " ! trv2enc ! trv2avisink location=" + clip));

    const auto info = readTrv2StreamInfo(clip);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 320);
    EXPECT_EQ(info->height, 240);
    EXPECT_EQ(info->packedQuality, 0x340Au);
    EXPECT_EQ(info->rateNumerator, 10u);
    EXPECT_EQ(info->frames, 20u);

    const auto original = runToFrames(source + " ! appsink name=out sync=false");
    std::string caps;
    const auto decoded = runToFrames(
        "filesrc location=" + clip + " ! avidemux ! trv2dec ! appsink name=out sync=false", &caps);
    ASSERT_EQ(decoded.size(), 20u);
    EXPECT_NE(caps.find("format=(string)UYVY"), std::string::npos) << caps;
    EXPECT_NE(caps.find("width=(int)320"), std::string::npos) << caps;
    for (size_t i = 0; i < decoded.size(); ++i) {
        ASSERT_EQ(decoded[i].size(), original[i].size());
        EXPECT_GE(psnr(decoded[i].data(), original[i].data(), decoded[i].size()), 32.0) << "frame " << i;
    }
    // decodebin finds the decoder by itself, as a player would.
    EXPECT_EQ(runToFrames("filesrc location=" + clip +
                          " ! decodebin ! appsink name=out sync=false caps=video/x-raw,format=UYVY")
                  .size(),
              20u);
}

TEST_F(Trv2Elements, SoundIsInterleavedWithThePictures) {
    const std::string clip = m_files.file("error002.avi");
    ASSERT_TRUE(runToEnd(
        "trv2avisink name=mux location=" + clip +
        " videotestsrc num-buffers=10 ! video/x-raw,format=UYVY,width=64,height=48,framerate=10/1 ! "
        "trv2enc ! mux.video "
        "audiotestsrc num-buffers=10 samplesperbuffer=2205 ! audio/x-raw,format=S16LE,rate=22050,channels=1 "
        "! mux.audio"));
    const auto sound =
        runToFrames("filesrc location=" + clip + " ! avidemux ! audio/x-raw ! appsink name=out sync=false");
    size_t bytes = 0;
    for (const auto& chunk : sound)
        bytes += chunk.size();
    EXPECT_EQ(bytes, 10u * 2205 * 2);
    EXPECT_EQ(runToFrames("filesrc location=" + clip + " ! avidemux ! trv2dec ! appsink name=out sync=false")
                  .size(),
              10u);
}

// Writes n grey frames of 64 x 48 at level 5 with the writer; returns the encoded frames.
std::vector<std::vector<uint8_t>> writeFrames(AviWriter& writer, int n) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> out(worstCaseFrameBytes(64, 48));
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> picture(64 * 48 * 2, 128);
        for (size_t p = 1; p < picture.size(); p += 2)
            picture[p] = static_cast<uint8_t>(16 + (i * 7 + p) % 200);
        const size_t size =
            trv2::encodeFrameWith(picture.data(), 64, 48, out.data(), out.size(),
                                  trv2::makeQualityParameters(10, 52), trv2::macroblockScalar);
        frames.emplace_back(out.begin(), out.begin() + static_cast<long>(size));
        EXPECT_TRUE(writer.writeVideoFrame(out.data(), size));
    }
    return frames;
}

AviVideoFormat smallFormat() {
    AviVideoFormat f;
    f.width = 64;
    f.height = 48;
    f.format = trv2BitmapInfo(64, 48, 0x340A);
    return f;
}

TEST_F(Trv2Elements, BeyondOneRiffTheFileContinuesInOpenDmlParts) {
    const std::string clip = m_files.file("long.avi");
    AviWriter writer;
    writer.setRiffLimit(32 * 1024); // stands in for 1 GiB
    ASSERT_TRUE(writer.open(clip, smallFormat(), std::nullopt));
    const auto frames = writeFrames(writer, 120);
    ASSERT_TRUE(writer.close());
    EXPECT_GT(writer.riffCount(), 2);
    const std::string bytes = readText(clip);
    EXPECT_NE(bytes.find("AVIX"), std::string::npos);
    EXPECT_NE(bytes.find("indx"), std::string::npos);
    EXPECT_NE(bytes.find("ix00"), std::string::npos);
    EXPECT_EQ(bytes.find("idx1"), bytes.rfind("idx1")); // the classic index covers the first part only
    const auto read = runToFrames("filesrc location=" + clip + " ! avidemux ! appsink name=out sync=false");
    ASSERT_EQ(read.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(read[i], frames[i]) << "frame " << i;
}

TEST_F(Trv2Elements, AWriterThatDiedLeavesEveryWholeFrameReadable) {
    const std::string clip = m_files.file("cut.avi");
    const std::string copy = m_files.file("cut-copy.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.open(clip, smallFormat(), std::nullopt));
    const auto frames = writeFrames(writer, 12);
    // The file as it is on disk right now is what a crash would leave.
    std::filesystem::copy_file(clip, copy);
    const auto read = runToFrames("filesrc location=" + copy + " ! avidemux ! appsink name=out sync=false");
    ASSERT_EQ(read.size(), frames.size());
    EXPECT_EQ(read.back(), frames.back());
    EXPECT_TRUE(writer.close());
}

TEST_F(Trv2Elements, TheAviHeadersCarryTheTrv2Format) {
    const std::string clip = m_files.file("header.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.open(clip, smallFormat(), std::nullopt));
    writeFrames(writer, 3);
    ASSERT_TRUE(writer.close());
    const std::string b = readText(clip);
    const size_t strf = b.find("strf");
    ASSERT_NE(strf, std::string::npos);
    const auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
               uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
    };
    EXPECT_EQ(le32(strf + 4), 48u);                                // the chunk: a 48-byte info header
    EXPECT_EQ(le32(strf + 8), 48u);                                // biSize 40 + 8
    EXPECT_EQ(le32(strf + 12), 64u);                               // width
    EXPECT_EQ(b.substr(strf + 22, 2), std::string("\x18\x00", 2)); // 24 bits
    EXPECT_EQ(b.substr(strf + 24, 4), "TRV2");
    EXPECT_EQ(le32(strf + 28), 64u * 48 * 2);
    EXPECT_EQ(le32(strf + 48), 0x340Au);
    EXPECT_EQ(b.substr(strf + 52, 4), "TAVR");
    EXPECT_EQ(b.substr(b.find("strh") + 8, 8), "vidsTRV2");
    EXPECT_NE(b.find("idx1"), std::string::npos);
    EXPECT_EQ(b.find("indx"), std::string::npos); // one RIFF: no OpenDML index
}

} // namespace

namespace {

// Runs a pipeline until it ends; the text of the error that stopped it, "" at a clean end.
std::string runForError(const std::string& description) {
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return "no pipeline";
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    std::string text = msg ? "" : "timed out";
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError* error = nullptr;
        gst_message_parse_error(msg, &error, nullptr);
        text = error->message;
        g_error_free(error);
    }
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return text;
}

TEST_F(Trv2Elements, AClipThatClaimsAHugePictureIsRefusedWithAReason) {
    const std::string clip = m_files.file("huge.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.open(clip, smallFormat(), std::nullopt));
    writeFrames(writer, 3);
    ASSERT_TRUE(writer.close());
    std::string bytes = readText(clip);
    const size_t strf = bytes.find("strf");
    const auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(v >> (8 * i));
    };

    // Beyond what any capture source gives.
    put(strf + 12, 32766);
    put(strf + 16, 32767);
    writeText(clip, bytes);
    std::string error;
    EXPECT_FALSE(readTrv2StreamInfo(clip, &error));
    EXPECT_NE(error.find("32766x32767"), std::string::npos) << error;
    std::string text = runForError("filesrc location=" + clip + " ! avidemux ! trv2dec ! fakesink");
    EXPECT_NE(text.find("at most 8192x8192"), std::string::npos) << text;

    // Within the limit, but no frame of the file could describe it.
    put(strf + 12, 4096);
    put(strf + 16, 4096);
    writeText(clip, bytes);
    EXPECT_FALSE(readTrv2StreamInfo(clip, &error));
    text = runForError("filesrc location=" + clip + " ! avidemux ! trv2dec ! fakesink");
    EXPECT_NE(text.find("no frame of at most"), std::string::npos) << text;

    // The same file with its true size plays.
    put(strf + 12, 64);
    put(strf + 16, 48);
    writeText(clip, bytes);
    EXPECT_EQ(runForError("filesrc location=" + clip + " ! avidemux ! trv2dec ! fakesink"), "");
}

} // namespace

namespace {

// Runs f in a child process whose files may not grow past `bytes`; its exit code.
template <typename F>
int withFileSizeLimit(rlim_t bytes, F f) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_F(Trv2Elements, AFullDiskLeavesNoEmptyClipAndSaysWhy) {
    const std::string clip = m_files.file("full.avi");
    // Not even the headers fit: open fails with the reason and leaves no file.
    EXPECT_EQ(withFileSizeLimit(1000,
                                [&] {
                                    AviWriter writer;
                                    std::string error;
                                    if (writer.open(clip, smallFormat(), std::nullopt, &error))
                                        return 1;
                                    return error.find("too large") != std::string::npos ? 0 : 2;
                                }),
              0);
    EXPECT_FALSE(std::filesystem::exists(clip));

    // The headers fit but no frame does: the clip is removed when it is closed.
    EXPECT_EQ(withFileSizeLimit(5000,
                                [&] {
                                    AviWriter writer;
                                    if (!writer.open(clip, smallFormat(), std::nullopt))
                                        return 1;
                                    std::vector<uint8_t> frame(4000, 1);
                                    if (writer.writeVideoFrame(frame.data(), frame.size()))
                                        return 2;
                                    if (writer.lastError().empty())
                                        return 3;
                                    return writer.close() ? 4 : 0;
                                }),
              0);
    EXPECT_FALSE(std::filesystem::exists(clip));

    // Frames written before the disk filled stay readable.
    EXPECT_EQ(withFileSizeLimit(16000,
                                [&] {
                                    AviWriter writer;
                                    if (!writer.open(clip, smallFormat(), std::nullopt))
                                        return 1;
                                    std::vector<uint8_t> frame(1000, 1);
                                    int written = 0;
                                    while (writer.writeVideoFrame(frame.data(), frame.size()))
                                        ++written;
                                    writer.close();
                                    return written > 0 ? 0 : 2;
                                }),
              0);
    EXPECT_TRUE(std::filesystem::exists(clip));
}

} // namespace
