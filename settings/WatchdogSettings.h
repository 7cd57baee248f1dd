#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace gardivo {

// The settings record shared by gardivo, cfgwiz and email, kept raw in "watchdog.cfg": 1416
// bytes, little-endian 32-bit integers and fixed-width NUL-terminated strings, no header. The
// field names are the record's own; every offset is checked below.
struct WatchdogSettings {
    int32_t VideoStandard;
    char VideoConnector[20];
    int32_t Brightness;
    int32_t Contrast;
    int32_t Hue;
    int32_t Saturation;
    int32_t RecordFormat;
    int32_t RecordAudio;
    int32_t RecordTimeLimit;
    int32_t Reserved52; // each program's defaults put its own value here; nobody reads it
    int32_t RecordFrameRate;
    int32_t Reserved60;
    int32_t Reserved64[4];
    char Reserved80[100];
    int32_t Reserved180;
    int32_t CaptureDevice;
    int32_t Reserved188;
    int32_t MixerIndexA;
    int32_t MixerIndexB;
    int32_t TopMost;
    char WorkingDirectory[260];
    char DatabaseName[260];
    int32_t Sensitivity;
    int32_t DetectInterval;
    int32_t RegionMode;
    int32_t WindowStyle;
    int32_t AutoRun;
    int32_t WarningSound;
    int32_t StartDelay;
    int32_t TracingMode;
    int32_t StopRule;
    int32_t ReleaseTime;
    int32_t ConditionLimit;
    uint32_t ActionFlags;
    char ProgramFile[260];
    char EmailAddress[50];
    char EmailCc[50];
    char EmailBody[260];
    char PhoneNumber[20];
    int32_t RedialCount;

    static constexpr size_t kSize = 1416;
    using Bytes = std::array<uint8_t, kSize>;

    Bytes toBytes() const;
    static WatchdogSettings fromBytes(const Bytes& bytes);
};

static_assert(std::endian::native == std::endian::little, "the record is stored in host order");
static_assert(std::is_trivially_copyable_v<WatchdogSettings> && std::is_standard_layout_v<WatchdogSettings>);
static_assert(sizeof(WatchdogSettings) == WatchdogSettings::kSize);
static_assert(offsetof(WatchdogSettings, VideoConnector) == 4);
static_assert(offsetof(WatchdogSettings, Brightness) == 24);
static_assert(offsetof(WatchdogSettings, Contrast) == 28);
static_assert(offsetof(WatchdogSettings, Hue) == 32);
static_assert(offsetof(WatchdogSettings, Saturation) == 36);
static_assert(offsetof(WatchdogSettings, RecordFormat) == 40);
static_assert(offsetof(WatchdogSettings, RecordAudio) == 44);
static_assert(offsetof(WatchdogSettings, RecordTimeLimit) == 48);
static_assert(offsetof(WatchdogSettings, Reserved52) == 52);
static_assert(offsetof(WatchdogSettings, RecordFrameRate) == 56);
static_assert(offsetof(WatchdogSettings, Reserved80) == 80);
static_assert(offsetof(WatchdogSettings, Reserved180) == 180);
static_assert(offsetof(WatchdogSettings, CaptureDevice) == 184);
static_assert(offsetof(WatchdogSettings, MixerIndexA) == 192);
static_assert(offsetof(WatchdogSettings, MixerIndexB) == 196);
static_assert(offsetof(WatchdogSettings, TopMost) == 200);
static_assert(offsetof(WatchdogSettings, WorkingDirectory) == 204);
static_assert(offsetof(WatchdogSettings, DatabaseName) == 464);
static_assert(offsetof(WatchdogSettings, Sensitivity) == 724);
static_assert(offsetof(WatchdogSettings, DetectInterval) == 728);
static_assert(offsetof(WatchdogSettings, RegionMode) == 732);
static_assert(offsetof(WatchdogSettings, WindowStyle) == 736);
static_assert(offsetof(WatchdogSettings, AutoRun) == 740);
static_assert(offsetof(WatchdogSettings, WarningSound) == 744);
static_assert(offsetof(WatchdogSettings, StartDelay) == 748);
static_assert(offsetof(WatchdogSettings, TracingMode) == 752);
static_assert(offsetof(WatchdogSettings, StopRule) == 756);
static_assert(offsetof(WatchdogSettings, ReleaseTime) == 760);
static_assert(offsetof(WatchdogSettings, ConditionLimit) == 764);
static_assert(offsetof(WatchdogSettings, ActionFlags) == 768);
static_assert(offsetof(WatchdogSettings, ProgramFile) == 772);
static_assert(offsetof(WatchdogSettings, EmailAddress) == 1032);
static_assert(offsetof(WatchdogSettings, EmailCc) == 1082);
static_assert(offsetof(WatchdogSettings, EmailBody) == 1132);
static_assert(offsetof(WatchdogSettings, PhoneNumber) == 1392);
static_assert(offsetof(WatchdogSettings, RedialCount) == 1412);

// Reads a fixed-width string field: the text up to its NUL, or the whole width when a file
// written elsewhere left no NUL in it.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
    const char* end = std::find(field, field + N, '\0');
    return std::string(field, end);
}

// How much of a UTF-8 text fits in capacity bytes without cutting a letter in two.
inline size_t utf8FittingLength(std::string_view text, size_t capacity) {
    if (text.size() <= capacity)
        return text.size();
    size_t n = capacity;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Writes a fixed-width string field: a longer text is cut so the NUL always fits, never in the
// middle of a letter; the rest of the field is cleared.
template <size_t N>
void setFieldText(char (&field)[N], std::string_view text) {
    const size_t n = utf8FittingLength(text, N - 1);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), n);
}

// The three programs that read the record; each has its own defaults.
enum class ProgramKind { Gardivo, Wizard, Email };

// A freshly defaulted record for the program. The default working directory is the user's home
// plus "/Gardivo".
WatchdogSettings defaultSettings(ProgramKind kind, const std::string& homeDirectory);

} // namespace gardivo
