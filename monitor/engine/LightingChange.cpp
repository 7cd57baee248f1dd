// A change of light: a lamp switched on or off, a cloud over the window. It changes most of the
// picture at once, each part by an even shift of its brightness, while what the parts show stays
// the same. Such a change takes a new reference instead of raising an alarm; a change that would
// raise one by the parts it does not explain still does.

#include "DetectionEngine.h"

#include "settings/EvidenceOptions.h"

#include <algorithm>
#include <cmath>

namespace gardivo {

namespace {

// How far a block's pixels may stray from its fitted brightness change: the sensor's noise and
// a lamp's uneven light, well below a figure's edges.
constexpr double kResidualLimit = 6.0;
// A shift below this is no change of light at all.
constexpr double kSmallestShift = 3.0;

struct BlockLight {
    double shift;    // mean luma after less mean luma before
    double residual; // mean distance of the pixels from the fitted change
};

// Pixels at the ends of the range may have been cut off there: how bright they really became
// cannot be told, so they do not count against the fit.
bool clipped(uint8_t luma) {
    return luma <= 17 || luma >= 234;
}

// Fits later = gain * earlier + offset over the block's luma and says how well it fits.
BlockLight fitBlock(const uint8_t* earlier, const uint8_t* later, size_t rowBytes, int size) {
    double sumE = 0, sumL = 0, allE = 0, allL = 0;
    int n = 0;
    const auto each = [&](auto&& visit) {
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const size_t at = static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 2 + 1;
                visit(earlier[at], later[at]);
            }
    };
    each([&](uint8_t e, uint8_t l) {
        allE += e;
        allL += l;
        if (clipped(e) || clipped(l))
            return;
        sumE += e;
        sumL += l;
        ++n;
    });
    const double all = static_cast<double>(size) * size;
    const double shift = (allL - allE) / all;
    // A block the light drove (mostly) to white or black shows nothing else.
    if (n < size * size / 4)
        return {shift, 0.0};
    const double meanE = sumE / n, meanL = sumL / n;
    double variance = 0, covariance = 0;
    each([&](uint8_t e, uint8_t l) {
        if (clipped(e) || clipped(l))
            return;
        variance += (e - meanE) * (e - meanE);
        covariance += (e - meanE) * (l - meanL);
    });
    // A flat block keeps its (lack of) pattern whatever the gain; a lamp brightens, it does not
    // turn a pattern around.
    const double gain = variance > n * 4.0 ? std::clamp(covariance / variance, 0.4, 3.0) : 1.0;
    double residual = 0;
    each([&](uint8_t e, uint8_t l) {
        if (!clipped(e) && !clipped(l))
            residual += std::abs((l - meanL) - gain * (e - meanE));
    });
    return {shift, residual / n};
}

} // namespace

bool DetectionEngine::IsLightingChange(const uint8_t* earlier, const uint8_t* later) const {
    const EvidenceOptions& options = m_settings.evidenceOptions();
    if (!options.lightingRule || m_activeBlocks == 0)
        return false;
    const size_t rowBytes = static_cast<size_t>(m_frameWidth) * 2;
    uint32_t brighter = 0, darker = 0, unexplained = 0;
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c) {
            if (!cell(c, r).enabled)
                continue;
            const size_t offset =
                static_cast<size_t>(kBlockSize * r) * rowBytes + static_cast<size_t>(kBlockSize * c) * 2;
            const BlockLight light = fitBlock(earlier + offset, later + offset, rowBytes, kBlockSize);
            if (light.residual > kResidualLimit) {
                // Something other than light changed here; it counts as the detector counts it.
                if (m_blockKernel(earlier + offset, later + offset, rowBytes, m_lumaThreshold,
                                  m_pixelCountThreshold))
                    ++unexplained;
            } else if (light.shift >= kSmallestShift) {
                ++brighter;
            } else if (light.shift <= -kSmallestShift) {
                ++darker;
            }
        }
    }
    const uint32_t percent = static_cast<uint32_t>(limits::LightingPercent.clamp(options.lightingPercent));
    const bool mostShifted = std::max(brighter, darker) * 100u >= percent * m_activeBlocks;
    // What light does not explain would raise the alarm on its own: it is raised.
    return mostShifted && unexplained <= m_changedBlockThreshold;
}

} // namespace gardivo
