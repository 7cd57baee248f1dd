#pragma once

// The fixed tables of the TRV2 format and the encoder's process-wide quality state.

#include <array>
#include <cstdint>
#include <mutex>

namespace gardivo::trv2 {

struct QualityRow {
    uint8_t scale; // a
    uint8_t count; // b
};

// Rows by quality level 0..10: 9 is the finest, 0 the coarsest, 5 the default.
inline constexpr std::array<QualityRow, 11> kQualityTable = {{{4, 40},
                                                              {5, 40},
                                                              {6, 40},
                                                              {8, 40},
                                                              {10, 40},
                                                              {10, 52},
                                                              {12, 52},
                                                              {16, 64},
                                                              {20, 64},
                                                              {24, 64},
                                                              {65, 115}}};
inline constexpr int kDefaultLevel = 5;

// The default intra quantiser matrix of MPEG-1 video, W[v][u] (rows are vertical frequency).
inline constexpr uint8_t kIntraMatrix[8][8] = {
    {8, 16, 19, 22, 26, 27, 29, 34},  {16, 16, 22, 24, 27, 29, 34, 37}, {19, 22, 26, 27, 29, 34, 34, 38},
    {22, 22, 26, 27, 29, 34, 37, 40}, {22, 26, 27, 29, 32, 35, 40, 48}, {26, 27, 29, 32, 35, 40, 48, 58},
    {26, 27, 29, 34, 38, 46, 56, 69}, {27, 29, 35, 38, 46, 56, 69, 83}};

// Q(u, v) with u the horizontal frequency.
inline int quantiser(int u, int v) {
    return kIntraMatrix[v][u];
}

// The scan: 16 groups of four coefficient indices (8u + v); -1 marks the positions of groups
// 13 and 15, which always hold zeros.
extern const std::array<std::array<int8_t, 4>, 16> kScanGroups;

// Descale factor s(u, v) of the scaled forward DCT.
double descale(int u, int v);

// Parameters the encoder works with.
struct QualityParameters {
    int scale = 10;                        // a, 0 taken as 10
    int count = 64;                        // b, clamped to 40..64
    int lastGroup = 15;                    // L = b / 4 - 1
    std::array<int16_t, 64> multipliers{}; // m at index 8u + v
};

// Builds the parameters for (a, b) as the encoder clamps them.
QualityParameters makeQualityParameters(int a, int b);

// The packed form carried in the media type: (b << 8) | a, b unclamped.
inline uint32_t packQuality(const QualityRow& row) {
    return (uint32_t(row.count) << 8) | row.scale;
}

// The process-wide parameters every encoder instance uses; changes take effect between frames.
class EncoderState {
public:
    static EncoderState& instance();
    void SetQualityParameters(int a, int b);
    // A level above 10 (read as unsigned) uses row 5. Returns the row's packed parameters.
    uint32_t ApplyQualityLevel(int level);
    QualityParameters snapshot() const;

private:
    mutable std::mutex m_mutex;
    QualityParameters m_params = makeQualityParameters(10, 64);
};

// Prefix codes: (value, bit count), written least significant bit first. Indexed by the mask of
// non-zero positions (bit i set when position i holds a non-zero byte).
struct Code {
    uint16_t bits;
    uint8_t length;
};
extern const std::array<Code, 8> kFirstGroupPrefix; // mask of positions 1..3 (bit 0 = position 1)
extern const std::array<Code, 16> kGroupPrefix;     // mask of positions 0..3
// The value code of a coefficient byte read as unsigned; entry 0 has length 0.
extern const std::array<Code, 256> kValueCodes;

} // namespace gardivo::trv2
