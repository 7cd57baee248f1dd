#include "SyntheticScene.h"

#include <algorithm>

namespace gardivo {

SyntheticScene::SyntheticScene(int width, int height, Script script)
    : m_width(width), m_height(height), m_script(script) {}

void SyntheticScene::setFrameSize(int width, int height) {
    m_width = width;
    m_height = height;
}

void SyntheticScene::render(int n, std::vector<uint8_t>& out) const {
    out.resize(static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 2);
    // Where the object is in frame n, if it is there at all.
    const int moved = std::min(n - m_script.stillFrames, m_script.movingFrames - 1);
    const bool present = n >= m_script.stillFrames;
    const int size = m_script.objectSize;
    const int span = std::max(1, m_width - size);
    const int start = static_cast<int>(m_script.enterAt * m_width);
    const int ox = present ? (start + moved * m_script.stepPixels) % span : -size;
    const int oy = present ? (m_height - size) / 2 : -size;

    uint32_t seed = 0x9E3779B9u * static_cast<uint32_t>(n + 1);
    for (int y = 0; y < m_height; ++y) {
        uint8_t* row = out.data() + static_cast<size_t>(y) * static_cast<size_t>(m_width) * 2;
        for (int x = 0; x < m_width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise =
                m_script.noise ? static_cast<int>(seed >> 24) % (2 * m_script.noise + 1) - m_script.noise : 0;
            int luma = 70 + ((x / 20 + y / 20) % 2) * 30 + (y * 40) / std::max(1, m_height);
            if (x >= ox && x < ox + size && y >= oy && y < oy + size)
                luma = 215;
            row[2 * x + 1] = static_cast<uint8_t>(std::clamp(luma + noise, 16, 235));
            row[2 * x] = static_cast<uint8_t>(x % 2 == 0 ? 120 : 136); // U on even, V on odd pixels
        }
    }
}

bool SyntheticScene::GrabFrame(std::vector<uint8_t>& slot) {
    if (m_width <= 0 || m_height <= 0)
        return false;
    render(m_next++, slot);
    return true;
}

} // namespace gardivo
