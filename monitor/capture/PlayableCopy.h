#pragma once

// Copies of alarm clips that phones and browsers play: the TRV2 AVI decoded, with its sound, and
// encoded as MP4 with H.264 when an H.264 encoder is installed, else as WebM with VP8. The copy
// lies beside the clip under the clip's name; it is written under a temporary name and only
// takes its own once it is whole.

#include "settings/EvidenceOptions.h"

#include <optional>
#include <string>

namespace gardivo {

struct PlayableFormat {
    std::string extension;    // "mp4" or "webm"
    std::string videoEncoder; // x264enc, openh264enc or vp8enc
    std::string audioEncoder; // empty: the copy goes without the clip's sound
    std::string muxer;
};

// gardivo-playable, the program that makes the copies: the one of the program directory, else
// the one beside the running program.
std::string playableCopier(const std::string& programDirectory);

// The format the installed encoders allow; nothing when neither an H.264 nor a VP8 encoder with
// its container is installed.
std::optional<PlayableFormat> playableFormat();
// Where the copy of a clip goes in that format: the clip's path with the format's extension.
std::string playableCopyPath(const std::string& clip, const PlayableFormat& format);
// Makes the copy; false with the reason when it could not be made (nothing is left behind then).
bool makePlayableCopy(const std::string& clip, const std::string& target, const PlayableFormat& format,
                      std::string* error = nullptr);

} // namespace gardivo
