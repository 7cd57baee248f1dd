#pragma once

// Header only: the pixel conversion module and the codec are built without the rest of the
// platform layer, but pick their kernels by the same rule.

#include <cstdlib>
#include <cstring>

namespace gardivo {

enum class SimdLevel { Scalar = 0, Sse2 = 1, Ssse3 = 2, Avx2 = 3 };

// GARDIVO_FORCE_SCALAR=1 (any value but "0" or "") forces the portable kernels everywhere.
inline bool scalarForced() {
    const char* value = std::getenv("GARDIVO_FORCE_SCALAR");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The best level this processor offers, or Scalar when forced. Callers ask once and keep the
// kernel they picked.
inline SimdLevel detectSimdLevel() {
    if (scalarForced())
        return SimdLevel::Scalar;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return SimdLevel::Avx2;
    if (__builtin_cpu_supports("ssse3"))
        return SimdLevel::Ssse3;
    if (__builtin_cpu_supports("sse2"))
        return SimdLevel::Sse2;
#endif
    return SimdLevel::Scalar;
}

inline const char* simdLevelName(SimdLevel level) {
    switch (level) {
    case SimdLevel::Avx2:
        return "avx2";
    case SimdLevel::Ssse3:
        return "ssse3";
    case SimdLevel::Sse2:
        return "sse2";
    case SimdLevel::Scalar:
        break;
    }
    return "scalar";
}

} // namespace gardivo
