#pragma once

// The few operations the input controls need from a video device, so that they can be tried on
// a device of the tests' own. The real one speaks V4L2 to a /dev/video node.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

struct VideoControlRange {
    bool present = false;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 0;
    int32_t defaultValue = 0;
};

struct VideoInputInfo {
    uint32_t index = 0;
    std::string name;
    bool tuner = false;
};

class VideoDeviceIo {
public:
    // The colour controls, by the numbers the settings use for them.
    enum Control { Brightness = 0, Contrast = 1, Hue = 2, Saturation = 3 };

    virtual ~VideoDeviceIo() = default;
    virtual std::string driver() const = 0;
    virtual std::vector<VideoInputInfo> inputs() = 0;
    // errnoValue receives the reason of a failure (EBUSY while the device streams).
    virtual bool selectInput(uint32_t index, int& errnoValue) = 0;
    virtual std::optional<uint32_t> currentInput() = 0;
    // False for a device without an analog video decoder (no standards at all).
    virtual bool hasStandards() = 0;
    virtual bool setStandard(uint64_t v4l2Standard, int& errnoValue) = 0;
    virtual VideoControlRange queryControl(Control control) = 0;
    virtual bool setControl(Control control, int32_t value) = 0;
};

// Opens a V4L2 device node for its controls (a second open beside the one that streams); null
// when it cannot be opened or is no video capture device.
std::unique_ptr<VideoDeviceIo> openV4l2Device(const std::string& path);

} // namespace gardivo
