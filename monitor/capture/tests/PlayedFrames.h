#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <string>

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

} // namespace gardivo::testing
