#pragma once

#include "FrameSource.h"

#include <cstdint>
#include <vector>

namespace gardivo {

// A frame source without a camera: a still textured background with a little sensor noise, on
// which a bright square appears, crosses the picture, and then rests. Frame n of a scene is the
// same on every run.
class SyntheticScene final : public FrameSource {
public:
    struct Script {
        int stillFrames = 4;  // frames before the object enters
        int movingFrames = 8; // frames while it moves
        int objectSize = 64;  // side of the square in pixels
        int stepPixels = 24;  // how far it moves each frame
        int noise = 4;        // largest luma noise, kept below every luma threshold
        double enterAt = 0;   // where the object appears, as a share of the width
    };

    SyntheticScene(int width, int height) : SyntheticScene(width, height, Script{}) {}
    SyntheticScene(int width, int height, Script script);

    bool isGrabberConnected() const override { return m_connected; }
    int graphState() const override { return m_graphState; }
    void setFrameSize(int width, int height) override;
    bool GrabFrame(std::vector<uint8_t>& slot) override;

    void setConnected(bool connected) { m_connected = connected; }
    void setGraphState(int state) { m_graphState = state; }
    // Frames handed out so far.
    int framesDelivered() const { return m_next; }
    // Renders frame n without advancing.
    void render(int n, std::vector<uint8_t>& out) const;
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width;
    int m_height;
    Script m_script;
    int m_next = 0;
    bool m_connected = true;
    int m_graphState = 1;
};

} // namespace gardivo
