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

GstSoundPlayer::GstSoundPlayer() {
    gst_init(nullptr, nullptr);
}

GstSoundPlayer::~GstSoundPlayer() {
    stop();
}

bool GstSoundPlayer::play() {
    stop(); // a new alarm starts the siren from the beginning
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "appsrc name=wav is-live=false ! wavparse ! audioconvert ! audioresample ! autoaudiosink", &error);
    if (!pipeline) {
        g_clear_error(&error);
        return false;
    }
    g_clear_error(&error);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "wav");
    const auto wav = warningSoundWav();
    GstBuffer* buffer =
        gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(wav.data()), wav.size(), 0,
                                    wav.size(), nullptr, nullptr);
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return false;
    }
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
