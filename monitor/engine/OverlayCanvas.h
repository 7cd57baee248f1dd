#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gardivo {

// Colours are 0x00BBGGRR values, as the overlay has always been specified.
using Colour = uint32_t;
inline constexpr Colour kKeyColour = 0xFF00FF; // filling with it erases the overlay
inline constexpr Colour kRed = 0x0000FF;
inline constexpr Colour kBlue = 0xFF0000;
inline constexpr Colour kYellow = 0x00FFFF;

enum class TextAlign { Left, Centre };

struct CanvasRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const CanvasRect&) const = default;
};

// What the engine draws over the live picture, in video-window pixels. The desktop
// implementation paints a transparent layer above the video; tests record the calls.
class OverlayCanvas {
public:
    virtual ~OverlayCanvas() = default;
    virtual void fillRect(const CanvasRect& rect, Colour colour) = 0;
    // One line of bold serif text, transparent background, clipped to the box.
    virtual void drawText(const CanvasRect& box, std::string_view text, Colour colour, int fontSize,
                          TextAlign align = TextAlign::Left) = 0;
    virtual void drawLine(int x1, int y1, int x2, int y2, Colour colour, int penWidth) = 0;
    // Keeps what the overlay shows now, and puts it back, while a region is dragged.
    virtual void saveSnapshot() = 0;
    virtual void restoreSnapshot() = 0;
};

// Draws nothing: the overlay of a monitor without a screen.
class NullOverlayCanvas final : public OverlayCanvas {
public:
    void fillRect(const CanvasRect&, Colour) override {}
    void drawText(const CanvasRect&, std::string_view, Colour, int, TextAlign) override {}
    void drawLine(int, int, int, int, Colour, int) override {}
    void saveSnapshot() override {}
    void restoreSnapshot() override {}
};

// Keeps every drawing call in order, for tests.
class RecordingOverlayCanvas final : public OverlayCanvas {
public:
    enum class Kind { Fill, Text, Line, Save, Restore };
    struct Call {
        Kind kind;
        CanvasRect rect; // fill area, text box, or line from (left, top) to (right, bottom)
        Colour colour;
        std::string text;
        int size; // font size or pen width
        TextAlign align = TextAlign::Left;
        bool operator==(const Call&) const = default;
    };

    void fillRect(const CanvasRect& rect, Colour colour) override {
        m_calls.push_back({Kind::Fill, rect, colour, {}, 0});
    }
    void drawText(const CanvasRect& box, std::string_view text, Colour colour, int fontSize,
                  TextAlign align = TextAlign::Left) override {
        m_calls.push_back({Kind::Text, box, colour, std::string(text), fontSize, align});
    }
    void drawLine(int x1, int y1, int x2, int y2, Colour colour, int penWidth) override {
        m_calls.push_back({Kind::Line, {x1, y1, x2, y2}, colour, {}, penWidth});
    }
    void saveSnapshot() override { m_calls.push_back({Kind::Save, {}, 0, {}, 0}); }
    void restoreSnapshot() override { m_calls.push_back({Kind::Restore, {}, 0, {}, 0}); }

    const std::vector<Call>& calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

private:
    std::vector<Call> m_calls;
};

} // namespace gardivo
