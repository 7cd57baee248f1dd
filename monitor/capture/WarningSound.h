#pragma once

#include "monitor/engine/EngineServices.h"

#include <cstddef>
#include <cstdint>
#include <span>

typedef struct _GstElement GstElement;

namespace gardivo {

// The siren played on an alarm, a WAV file kept in the program's memory.
std::span<const uint8_t> warningSoundWav();

// Plays the warning sound from memory through GStreamer, without waiting for it. Where there is
// no sound device the play fails quietly.
class GstSoundPlayer final : public SoundPlayer {
public:
    GstSoundPlayer();
    ~GstSoundPlayer() override;
    GstSoundPlayer(const GstSoundPlayer&) = delete;
    GstSoundPlayer& operator=(const GstSoundPlayer&) = delete;

    bool play() override;
    void stop() override;
    bool isPlaying() const { return m_pipeline != nullptr; }

private:
    GstElement* m_pipeline = nullptr; // playing
    GstElement* m_ready = nullptr;    // made ready for the next alarm
};

} // namespace gardivo
