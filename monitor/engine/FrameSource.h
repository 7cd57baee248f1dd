#pragma once

#include <cstdint>
#include <vector>

namespace gardivo {

// Where the detector takes its frames from: the capture pipeline's grabber, or a synthetic scene.
class FrameSource {
public:
    // The graph state in which the grabber must not be asked for frames.
    static constexpr int kGraphStateBusy = 2;

    virtual ~FrameSource() = default;
    virtual bool isGrabberConnected() const = 0;
    virtual int graphState() const = 0;
    // Frames should come at this size from now on.
    virtual void setFrameSize(int width, int height) = 0;
    // Copies the newest UYVY frame into the slot, resizing it to the frame's byte size (a slot
    // keeps its capacity, so steady frames never allocate). False when there is no frame.
    virtual bool GrabFrame(std::vector<uint8_t>& slot) = 0;
};

} // namespace gardivo
