#pragma once

// The evidence settings that came after the settings record: how much of the time before an
// alarm a clip holds, how long evidence is kept, whether a change of light is an alarm, and the
// copies that phones and browsers play. The record keeps its size; these live as values of a
// key of their own beside it, read by every program that needs them and written by cfgwiz.

#include "platform/RegistryStore.h"
#include "settings/SettingsLimits.h"

#include <cstdint>
#include <string>

namespace gardivo {

struct EvidenceOptions {
    static constexpr const char* kKeyPath = "SOFTWARE\\Tavrin\\Gardivo\\Evidence";

    enum PictureFormat { Bitmap = 0, Png = 1, Jpeg = 2 };

    // Seconds of pictures before the alarm that begin its clip (AVI clips).
    int preRecordSeconds = 3;
    // Evidence kept under this size, in MiB (0: no limit), and for this many days (0: no limit).
    int retentionMegabytes = 0;
    int retentionDays = 0;
    // A change of most of the watched blocks by an even shift of brightness is a change of light:
    // the reference is taken again instead of raising an alarm.
    bool lightingRule = true;
    int lightingPercent = 60; // of the watched blocks
    // A copy in MP4 (H.264) or WebM is made beside every clip once it ends.
    bool playableCopies = true;
    // The alert mail attaches the playable copy instead of the AVI when there is one.
    bool mailPlayableCopy = true;
    // The picture the alert mail attaches.
    int mailPictureFormat = Bitmap;

    // The values of the key, each clamped to its range; a value that is missing or of another
    // type keeps its default.
    static EvidenceOptions read(const RegistryStore& registry, RegistryRoot root);
    // All values in one locked change.
    bool write(RegistryStore& registry, RegistryRoot root, std::string* error = nullptr) const;

    bool operator==(const EvidenceOptions&) const = default;
};

// The evidence file beside another, of the same name with another extension (".mp4").
std::string evidenceSibling(const std::string& path, const char* extension);
// The copy of a clip that phones and browsers play (MP4 or WebM beside it), "" while there is none.
std::string existingPlayableCopy(const std::string& clip);

namespace limits {
inline constexpr Range PreRecordSeconds{0, 30};
// Up to 100 TB, and 10 years.
inline constexpr Range RetentionMegabytes{0, 100000000};
inline constexpr Range RetentionDays{0, 3650};
inline constexpr Range LightingPercent{10, 100};
inline constexpr Range MailPictureFormat{0, 2};
} // namespace limits

} // namespace gardivo
