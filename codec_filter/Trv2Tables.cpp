#include "Trv2Tables.h"

#include <algorithm>
#include <cmath>

namespace gardivo::trv2 {

namespace {

constexpr int8_t idx(int u, int v) {
    return static_cast<int8_t>(8 * u + v);
}

// Group g holds the 2 x 2 square of frequencies whose smaller corner is (u, v).
constexpr std::array<int8_t, 4> square(int u, int v) {
    return {idx(u, v), idx(u, v + 1), idx(u + 1, v), idx(u + 1, v + 1)};
}

std::array<Code, 256> buildValueCodes() {
    std::array<Code, 256> codes{};
    for (int byte = 1; byte < 256; ++byte) {
        const int c = static_cast<int8_t>(byte);
        const int magnitude = c < 0 ? -c : c;
        if (magnitude <= 31) {
            int k = 0;
            while ((2 << k) <= magnitude)
                ++k;
            const uint32_t bits =
                (1u << k) | (uint32_t(magnitude - (1 << k)) << (k + 1)) | (uint32_t(c < 0) << (2 * k + 1));
            codes[static_cast<size_t>(byte)] = {static_cast<uint16_t>(bits), static_cast<uint8_t>(2 * k + 2)};
        } else {
            codes[static_cast<size_t>(byte)] = {static_cast<uint16_t>(byte << 5), 13};
        }
    }
    return codes;
}

} // namespace

const std::array<std::array<int8_t, 4>, 16> kScanGroups = {{square(0, 0),
                                                            square(0, 2),
                                                            square(2, 0),
                                                            square(2, 2),
                                                            square(4, 0),
                                                            square(0, 4),
                                                            square(6, 0),
                                                            square(4, 2),
                                                            square(2, 4),
                                                            square(0, 6),
                                                            square(6, 2),
                                                            square(4, 4),
                                                            square(2, 6),
                                                            {-1, -1, -1, -1},
                                                            square(4, 6),
                                                            {-1, -1, -1, -1}}};

namespace {

// The prefix tables as the format lists them, by the positions that are zero, turned into
// tables indexed by the mask of non-zero positions.
struct PrefixRow {
    const char* zeroPositions;
    uint16_t value;
    uint8_t length;
};

template <size_t N>
std::array<Code, N> byNonZeroMask(const PrefixRow (&rows)[N], int firstPosition) {
    std::array<Code, N> table{};
    for (const auto& row : rows) {
        unsigned zero = 0;
        for (const char* p = row.zeroPositions; *p; ++p)
            zero |= 1u << (*p - '0' - firstPosition);
        table[~zero & (N - 1)] = {row.value, row.length};
    }
    return table;
}

constexpr PrefixRow kFirstGroupRows[] = {{"", 0, 2},  {"123", 2, 2}, {"3", 1, 3},   {"23", 5, 3},
                                         {"1", 3, 4}, {"2", 7, 4},   {"12", 11, 4}, {"13", 15, 4}};
constexpr PrefixRow kGroupRows[] = {{"0123", 0, 2}, {"023", 2, 3}, {"123", 6, 3}, {"13", 1, 4},
                                    {"23", 9, 4},   {"013", 5, 4}, {"2", 13, 4},  {"", 3, 4},
                                    {"3", 11, 4},   {"0", 7, 6},   {"02", 39, 6}, {"01", 23, 6},
                                    {"012", 55, 6}, {"03", 15, 6}, {"12", 47, 6}, {"1", 31, 5}};

} // namespace

const std::array<Code, 8> kFirstGroupPrefix = byNonZeroMask(kFirstGroupRows, 1);
const std::array<Code, 16> kGroupPrefix = byNonZeroMask(kGroupRows, 0);
const std::array<Code, 256> kValueCodes = buildValueCodes();

double descale(int u, int v) {
    const auto f = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * M_PI / 16.0); };
    return 1.0 / (8.0 * f(u) * f(v));
}

QualityParameters makeQualityParameters(int a, int b) {
    QualityParameters p;
    p.scale = a == 0 ? 10 : a;
    p.count = std::clamp(b, 40, 64);
    p.lastGroup = p.count / 4 - 1;
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            const double s = descale(u, v);
            const double m =
                (u == 0 && v == 0) ? 32768.0 * s / quantiser(0, 0) : 4096.0 * p.scale * s / quantiser(u, v);
            p.multipliers[static_cast<size_t>(8 * u + v)] = static_cast<int16_t>(std::floor(0.5 + m));
        }
    return p;
}

EncoderState& EncoderState::instance() {
    static EncoderState state;
    return state;
}

void EncoderState::SetQualityParameters(int a, int b) {
    QualityParameters p = makeQualityParameters(a, b);
    std::lock_guard lock(m_mutex);
    m_params = p;
}

uint32_t EncoderState::ApplyQualityLevel(int level) {
    const QualityRow row =
        kQualityTable[static_cast<unsigned>(level) > 10u ? kDefaultLevel : static_cast<size_t>(level)];
    SetQualityParameters(row.scale, row.count);
    return packQuality(row);
}

QualityParameters EncoderState::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_params;
}

} // namespace gardivo::trv2
