#pragma once

// The inputs, television standard and colour controls of a capture device, and the names of
// connectors in both directions. Sources that are no V4L2 device (the test pattern, network
// cameras, files) have none of them.

#include "CaptureReporter.h"
#include "VideoDeviceIo.h"
#include "settings/SettingsStore.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace gardivo {

// The physical connector types and their names, one table for both ways.
namespace connectors {
// The name of a type, cut to maxLength - 1 characters; "Unknown" for any type not listed.
std::string name(int type, size_t maxLength = 256);
// The type of a name; 0 (which no input has) for a name not listed.
int type(const std::string& name);
// The connector type of a V4L2 input, from its kind and name: a tuner is 1, "Composite..." 2,
// "S-Video" 3; a camera of a USB video class driver "Video USB".
int typeOfInput(const VideoInputInfo& input, const std::string& driver);
} // namespace connectors

// Video standards by the index kept in the settings: the name and the V4L2 standard.
namespace standards {
std::string name(int index);
uint64_t v4l2Value(int index);
} // namespace standards

// The inputs a device can route to its capture: one route an input (a device here has no chain
// of crossbars). The route's type is its connector type.
class InputRoutes {
public:
    InputRoutes(VideoDeviceIo& device);
    int count() const { return static_cast<int>(m_routes.size()); }
    int type(int route) const;
    // The connector's name ("Composite", "SVideo"); where several inputs share a connector type
    // (the usual four-input surveillance card), the card's own name of each input, so that each
    // can be chosen.
    std::string name(int route, size_t maxLength = 256) const;
    // The route of that name, in any letter case; -1 when there is none.
    int find(const std::string& name) const;
    // errnoValue receives the reason of a failure (EBUSY while streaming).
    bool select(int route, int& errnoValue);
    int current() const { return m_current; }

private:
    struct Route {
        uint32_t input;
        int type;
        std::string name; // what the menu shows
    };
    VideoDeviceIo& m_device;
    std::vector<Route> m_routes;
    int m_current = -1;
};

// The colour controls and the standard of the device in use.
class VideoDeviceSettings {
public:
    VideoDeviceSettings(std::unique_ptr<VideoDeviceIo> device, SettingsStore& settings,
                        CaptureReporter& reporter);
    // Reads the ranges, makes the device's defaults the settings' values, sets them and writes the
    // ranges for cfgwiz. Without a device says "No capture driver!".
    bool Init();
    bool SetBrightness(int32_t value) { return set(VideoDeviceIo::Brightness, value); }
    bool SetContrast(int32_t value) { return set(VideoDeviceIo::Contrast, value); }
    bool SetHue(int32_t value) { return set(VideoDeviceIo::Hue, value); }
    bool SetSaturation(int32_t value) { return set(VideoDeviceIo::Saturation, value); }
    bool hasDecoder() const { return m_hasDecoder; }
    // errnoValue receives the reason of a failure.
    bool SetStandard(uint64_t v4l2Standard, int& errnoValue);
    const ProcAmpRange& range(VideoDeviceIo::Control control) const {
        return m_ranges[static_cast<size_t>(control)];
    }
    VideoDeviceIo& device() { return *m_device; }

private:
    bool set(VideoDeviceIo::Control control, int32_t value);

    std::unique_ptr<VideoDeviceIo> m_device;
    SettingsStore& m_settings;
    CaptureReporter& m_reporter;
    bool m_hasDecoder = false;
    std::array<ProcAmpRange, 4> m_ranges{};
};

} // namespace gardivo
