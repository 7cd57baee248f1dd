#include "WarningSound.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

// The WAV file made at build time, linked in as it is.
__asm__(".section .rodata\n"
        ".balign 16\n"
        ".global gardivoWarningSoundStart\n"
        "gardivoWarningSoundStart:\n"
        ".incbin \"" GARDIVO_WARNING_SOUND_FILE "\"\n"
        ".global gardivoWarningSoundEnd\n"
        "gardivoWarningSoundEnd:\n"
        ".previous\n");
extern "C" const uint8_t gardivoWarningSoundStart[];
extern "C" const uint8_t gardivoWarningSoundEnd[];

namespace gardivo {

std::span<const uint8_t> warningSoundWav() {
    return {gardivoWarningSoundStart, static_cast<size_t>(gardivoWarningSoundEnd - gardivoWarningSoundStart)};
}

namespace {

// A pipeline that plays the WAV data pushed into its source, made ready (the sound device is
// found and opened) without playing yet.
GstElement* readyPipeline() {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "appsrc name=wav is-live=false ! wavparse ! audioconvert ! audioresample ! autoaudiosink", &error);
    g_clear_error(&error);
    if (!pipeline)
        return nullptr;
    gst_object_ref_sink(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

} // namespace

GstSoundPlayer::GstSoundPlayer() {
    gst_init(nullptr, nullptr);
    // Finding the sound device takes a while: done now, so that the first alarm does not wait.
    m_ready = readyPipeline();
}

GstSoundPlayer::~GstSoundPlayer() {
    stop();
    if (m_ready) {
        gst_element_set_state(m_ready, GST_STATE_NULL);
        gst_object_unref(m_ready);
    }
}

bool GstSoundPlayer::play() {
    stop(); // a new alarm starts the siren from the beginning
    GstElement* pipeline = m_ready ? m_ready : readyPipeline();
    m_ready = nullptr;
    if (!pipeline)
        return false;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return false;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "wav");
    const auto wav = warningSoundWav();
    GstBuffer* buffer =
        gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(wav.data()), wav.size(), 0,
                                    wav.size(), nullptr, nullptr);
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    m_pipeline = pipeline;
    return true;
}

void GstSoundPlayer::stop() {
    if (!m_pipeline)
        return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
}

} // namespace gardivo
