#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <string>
#include <vector>

namespace gardivo::testing {

// The frames of a TRV2 clip as a player sees them: demultiplexed and decoded; -1 when the pipeline
// cannot even be made.
inline int playedFrames(const std::string& clip) {
    const std::string description =
        "filesrc location=\"" + clip + "\" ! avidemux ! trv2dec ! appsink name=out sync=false";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return -1;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    int frames = 0;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        ++frames;
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return frames;
}

// Every picture of a clip as 24-bit BGR rows, top first, decoded as a player would (any file the
// decoder bin reads, e.g. a playable copy, when trv2 is false).
inline std::vector<std::vector<uint8_t>> decodedPictures(const std::string& clip, int width, int height,
                                                         bool trv2 = true) {
    const std::string caps =
        "video/x-raw,format=BGR,width=" + std::to_string(width) + ",height=" + std::to_string(height);
    const std::string description =
        "filesrc location=\"" + clip + "\" ! " + (trv2 ? "avidemux ! trv2dec" : "decodebin") +
        " ! videoconvert ! videoscale ! " + caps + " ! appsink name=out sync=false";
    std::vector<std::vector<uint8_t>> pictures;
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return pictures;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            // Rows of BGR are padded to four bytes.
            const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
            std::vector<uint8_t> picture;
            for (int y = 0; y < height && (y + 1) * stride <= map.size; ++y)
                picture.insert(picture.end(), map.data + y * stride, map.data + y * stride + width * 3);
            pictures.push_back(std::move(picture));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return pictures;
}

// How many pictures a player shows of a clip and for how long, in seconds (from the first
// picture's time to the end of the last).
struct PlayedLength {
    int frames = 0;
    double seconds = 0;
};
inline PlayedLength playedLength(const std::string& clip, bool trv2) {
    const std::string description = "filesrc location=\"" + clip + "\" ! " +
                                    (trv2 ? "avidemux ! trv2dec" : "decodebin") +
                                    " ! appsink name=out sync=false";
    PlayedLength length;
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (!pipeline)
        return length;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstClockTime first = GST_CLOCK_TIME_NONE, end = 0;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (GST_BUFFER_PTS_IS_VALID(buffer)) {
            if (!GST_CLOCK_TIME_IS_VALID(first))
                first = GST_BUFFER_PTS(buffer);
            end = std::max<GstClockTime>(end, GST_BUFFER_PTS(buffer) + (GST_BUFFER_DURATION_IS_VALID(buffer)
                                                                            ? GST_BUFFER_DURATION(buffer)
                                                                            : 0));
        }
        ++length.frames;
        gst_sample_unref(sample);
    }
    if (GST_CLOCK_TIME_IS_VALID(first))
        length.seconds = static_cast<double>(end - first) / GST_SECOND;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return length;
}

// The mean difference of two pictures of the same size, per byte.
inline double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += static_cast<uint64_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

} // namespace gardivo::testing
