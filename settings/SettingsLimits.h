#pragma once

// The ranges the setup wizard lets a user choose. A record written by hand, by an older program
// or cut short on disk may hold anything; gardivo clamps each field to its range where it uses it,
// and the wizard shows it clamped.

#include <algorithm>
#include <cstdint>

namespace gardivo::limits {

struct Range {
    int32_t minimum;
    int32_t maximum;
    constexpr int32_t clamp(int32_t value) const { return std::clamp(value, minimum, maximum); }
};

inline constexpr Range Sensitivity{1, 99};
// 1000 / frames a second, for one to four frames a second.
inline constexpr Range DetectInterval{250, 1000};
inline constexpr Range DetectRate{1, 4};
// Seconds; a day is the longest the wizard offers for either.
inline constexpr Range StartDelay{0, 86400};
inline constexpr Range ReleaseTime{0, 86400};
// 0 is the default of a fresh record: the first condition already passes it.
inline constexpr Range ConditionLimit{0, 9999999};
inline constexpr Range ConditionLimitChoice{1, 9999999};
// 0 records until the clip is stopped some other way.
inline constexpr Range RecordTimeLimit{0, 99999999};
inline constexpr Range RecordTimeLimitChoice{2, 99999999};
inline constexpr Range RecordFrameRate{1, 30};
inline constexpr Range RedialCount{1, 5};

} // namespace gardivo::limits
