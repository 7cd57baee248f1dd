#include "TestPatternScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gardivo {

namespace {

struct Yuv {
    uint8_t y, u, v;
};

constexpr Yuv kWall{150, 120, 134};
constexpr Yuv kFloor{95, 118, 140};
constexpr Yuv kWindow{200, 140, 118};
constexpr Yuv kDoor{70, 110, 150};
constexpr Yuv kShirt{82, 96, 200};
constexpr Yuv kSkin{170, 110, 150};
constexpr Yuv kTrousers{45, 140, 120};

constexpr int kNoisePatterns = 4;

// Fills a rectangle of pixel pairs (x rounded down to even) with a colour.
void fill(uint8_t* frame, int width, int height, int x0, int y0, int x1, int y1, Yuv c) {
    x0 = std::clamp(x0, 0, width) & ~1;
    x1 = std::clamp(x1, 0, width) & ~1;
    y0 = std::clamp(y0, 0, height);
    y1 = std::clamp(y1, 0, height);
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = frame + static_cast<size_t>(y) * width * 2;
        for (int x = x0; x < x1; x += 2) {
            row[2 * x] = c.u;
            row[2 * x + 1] = c.y;
            row[2 * x + 2] = c.v;
            row[2 * x + 3] = c.y;
        }
    }
}

} // namespace

TestPatternScene::TestPatternScene(int width, int height, Timing timing)
    : m_width(std::max(2, width & ~1)), m_height(std::max(1, height)), m_timing(timing) {
    m_figureWidth = std::max(8, m_width / 8);
    m_figureHeight = std::max(16, m_height * 2 / 5);
    std::vector<uint8_t> room(static_cast<size_t>(m_width) * m_height * 2);
    const int horizon = m_height * 2 / 3;
    // A wall shaded from top to bottom and a floor with boards.
    for (int y = 0; y < m_height; ++y) {
        Yuv c = y < horizon ? kWall : kFloor;
        c.y = static_cast<uint8_t>(y < horizon ? c.y - 30 * y / std::max(1, horizon)
                                               : c.y + ((y - horizon) / std::max(1, m_height / 24)) % 2 * 12);
        fill(room.data(), m_width, m_height, 0, y, m_width, y + 1, c);
    }
    fill(room.data(), m_width, m_height, m_width * 5 / 8, m_height / 8, m_width * 7 / 8, m_height * 3 / 8,
         kWindow);
    fill(room.data(), m_width, m_height, m_width * 3 / 4 - 2, m_height / 8, m_width * 3 / 4 + 2,
         m_height * 3 / 8, kWall);
    fill(room.data(), m_width, m_height, m_width / 16, m_height / 4, m_width / 16 + m_width / 7, horizon,
         kDoor);
    // Sensor noise of at most 3 levels, well below every threshold of the detector.
    uint32_t seed = 2026;
    for (int k = 0; k < kNoisePatterns; ++k) {
        auto noisy = room;
        for (size_t i = 1; i < noisy.size(); i += 2) {
            seed = seed * 1664525u + 1013904223u;
            noisy[i] = static_cast<uint8_t>(std::clamp(noisy[i] + static_cast<int>(seed >> 29) - 3, 16, 235));
        }
        m_backgrounds.push_back(std::move(noisy));
    }
}

double TestPatternScene::cycle() const {
    return m_timing.stillSeconds + 2 * m_timing.moveSeconds + m_timing.restSeconds;
}

std::optional<int> TestPatternScene::figureLeft(double seconds) const {
    double t = seconds;
    if (m_timing.loop && cycle() > 0)
        t = std::fmod(seconds, cycle());
    const double walk = m_timing.moveSeconds;
    const int restAt = (m_width - m_figureWidth) / 2;
    const double outside = -m_figureWidth;
    if (t < m_timing.stillSeconds)
        return std::nullopt;
    t -= m_timing.stillSeconds;
    if (t < walk && walk > 0) // walking in from the left (without a walk it is there at once)
        return static_cast<int>(outside + (restAt - outside) * t / walk);
    t -= walk;
    if (t < m_timing.restSeconds || !m_timing.loop)
        return restAt;
    t -= m_timing.restSeconds;
    if (t < walk && walk > 0) { // walking out to the right
        const int left = static_cast<int>(restAt + (m_width - restAt) * t / walk);
        if (left < m_width)
            return left;
    }
    return std::nullopt;
}

bool TestPatternScene::moving(double seconds) const {
    // By the phase of the walk, not by the figure's place from one picture to the next: a slow
    // walk keeps its place for a picture or two, and each of those would start a walk anew.
    double t = seconds;
    if (m_timing.loop && cycle() > 0)
        t = std::fmod(seconds, cycle());
    // Without a walk the figure is there at once: the first pictures with it count as the move.
    const double walk = std::max(m_timing.moveSeconds, 0.02);
    const double in = m_timing.stillSeconds;
    const double out = in + m_timing.moveSeconds + m_timing.restSeconds;
    const bool walkingIn = t >= in && t < in + walk;
    const bool walkingOut = m_timing.loop && t >= out && t < out + walk;
    return walkingIn || walkingOut;
}

double TestPatternScene::nextMotion(double seconds) const {
    const double period = m_timing.loop ? cycle() : 0;
    double t = seconds;
    if (period > 0)
        t -= std::fmod(seconds, period);
    // The figure starts walking in at stillSeconds and out after the rest, in each cycle.
    for (int k = 0; k < 3; ++k) {
        const double in = t + m_timing.stillSeconds;
        const double out = in + m_timing.moveSeconds + m_timing.restSeconds;
        if (in >= seconds)
            return in;
        if (m_timing.loop && out >= seconds)
            return out;
        if (period <= 0)
            return -1;
        t += period;
    }
    return -1;
}

bool TestPatternScene::lampOn(double seconds) const {
    return m_timing.lampOnSeconds >= 0 && seconds >= m_timing.lampOnSeconds &&
           (m_timing.lampOffSeconds < 0 || m_timing.lampOffSeconds <= m_timing.lampOnSeconds ||
            seconds < m_timing.lampOffSeconds);
}

void TestPatternScene::render(double seconds, uint64_t frameNumber, uint8_t* uyvy) const {
    const auto& background = m_backgrounds[frameNumber % kNoisePatterns];
    std::memcpy(uyvy, background.data(), background.size());
    drawFigure(seconds, uyvy);
    if (!lampOn(seconds))
        return;
    // The lamp lights everything in the room, the figure too; it stands on the right, so the
    // right of the picture gets a little more of its light than the left.
    const double spread = 0.08 * (m_timing.lampGain - 1.0) / 0.35;
    std::vector<uint8_t> lut(256);
    for (int x = 0; x < m_width; x += 16) {
        const double gain = m_timing.lampGain - spread + 2 * spread * x / std::max(m_width - 1, 1);
        for (int v = 0; v < 256; ++v)
            lut[static_cast<size_t>(v)] =
                static_cast<uint8_t>(std::clamp(static_cast<int>(16 + (v - 16) * gain + 0.5), 16, 235));
        const int end = std::min(x + 16, m_width);
        for (int y = 0; y < m_height; ++y) {
            uint8_t* row = uyvy + static_cast<size_t>(y) * m_width * 2;
            for (int px = x; px < end; ++px)
                row[2 * px + 1] = lut[row[2 * px + 1]];
        }
    }
}

void TestPatternScene::drawFigure(double seconds, uint8_t* uyvy) const {
    const auto where = figureLeft(seconds);
    if (!where)
        return;
    const int left = *where;
    const int top = m_height * 2 / 3 - m_figureHeight + m_height / 20;
    const int w = m_figureWidth;
    const int h = m_figureHeight;
    fill(uyvy, m_width, m_height, left + w / 3, top, left + 2 * w / 3, top + h / 6, kSkin); // head
    fill(uyvy, m_width, m_height, left, top + h / 6, left + w, top + h * 3 / 5, kShirt);    // body
    fill(uyvy, m_width, m_height, left + w / 8, top + h * 3 / 5, left + w * 7 / 8, top + h,
         kTrousers); // legs
}

} // namespace gardivo
