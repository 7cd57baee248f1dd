#pragma once

// The picture of the shipped "Test Pattern" source: a still room in which, after a while, a
// figure walks in, stands still for a while and walks out again, over and over. It lets Gardivo
// run, raise alarms and trace where no camera exists.

#include <cstdint>
#include <optional>
#include <vector>

namespace gardivo {

class TestPatternScene {
public:
    struct Timing {
        double stillSeconds = 5.0; // the empty room before the figure comes
        double moveSeconds = 4.0;  // walking in, and again walking out
        double restSeconds = 20.0; // standing still in the room
        bool loop = true;          // after walking out, the room is empty again and it all repeats
        // A lamp switched on and off at these times since the start (negative: never). It makes
        // the room brighter by about this factor, a little more on the side it stands on.
        double lampOnSeconds = -1.0;
        double lampOffSeconds = -1.0;
        double lampGain = 1.35;
    };

    TestPatternScene(int width, int height, Timing timing);

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Renders the UYVY picture at the given time since the source started (rows top first,
    // width * 2 bytes a row). A little sensor noise changes from frame to frame.
    void render(double seconds, uint64_t frameNumber, uint8_t* uyvy) const;
    // Where the figure is at that time: its left edge (negative while it is half in), or nothing
    // while it is away.
    std::optional<int> figureLeft(double seconds) const;
    // Whether the lamp is on at that time.
    bool lampOn(double seconds) const;
    // Whether the figure moves at that time.
    bool moving(double seconds) const;
    // The first moment the figure moves at or after the time; negative when it never will.
    double nextMotion(double seconds) const;

private:
    double cycle() const;
    void drawFigure(double seconds, uint8_t* uyvy) const;

    int m_width;
    int m_height;
    Timing m_timing;
    int m_figureWidth;
    int m_figureHeight;
    std::vector<std::vector<uint8_t>> m_backgrounds; // the room with a few patterns of noise
};

} // namespace gardivo
