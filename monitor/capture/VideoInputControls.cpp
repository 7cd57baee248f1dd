#include "VideoInputControls.h"

#include "platform/TextCase.h"

#include <algorithm>
#include <linux/videodev2.h>

namespace gardivo {

namespace {

struct ConnectorName {
    int type;
    const char* name;
};

constexpr ConnectorName kConnectors[] = {
    {1, "TV Tuner"},
    {2, "Composite"},
    {3, "SVideo"},
    {4, "Video RGB"},
    {5, "Video YRYBY"},
    {6, "Video SerialDigital"},
    {7, "Video ParallelDigital"},
    {8, "Video SCSI"},
    {9, "Video AUX"},
    {10, "Video 1394"},
    {11, "Video USB"},
    {12, "Video Decoder"},
    {13, "Video Encoder"},
    {4096, "Audio Tuner"},
    {4097, "Audio Line"},
    {4098, "Audio Mic"},
    {4099, "Audio AESDigital"},
    {4100, "Audio SPDIFDigital"},
    {4101, "Audio SCSI"},
    {4102, "Audio AUX"},
    {4103, "Audio 1394"},
    {4104, "Audio USB"},
    {4105, "Audio Decoder"},
};

struct Standard {
    const char* name;
    uint64_t v4l2;
};

// By the settings' index. The analog decoder values of the table map onto V4L2 one to one;
// 0x400 is PAL N, so indexes 2 and 6 select the same standard.
constexpr Standard kStandards[] = {
    {"NTSC M", V4L2_STD_NTSC_M},     {"NTSC M(Japan)", V4L2_STD_NTSC_M_JP},
    {"NTSC N", V4L2_STD_PAL_N},      {"NTSC 443", V4L2_STD_NTSC_443},
    {"PAL B", V4L2_STD_PAL_B},       {"PAL M", V4L2_STD_PAL_M},
    {"PAL N", V4L2_STD_PAL_N},       {"PAL D", V4L2_STD_PAL_D},
    {"PAL I", V4L2_STD_PAL_I},       {"SECAM B", V4L2_STD_SECAM_B},
    {"SECAM L", V4L2_STD_SECAM_L},   {"SECAM D", V4L2_STD_SECAM_D},
    {"SECAM K1", V4L2_STD_SECAM_K1},
};

} // namespace

std::string connectors::name(int type, size_t maxLength) {
    std::string name = "Unknown";
    for (const auto& c : kConnectors)
        if (c.type == type)
            name = c.name;
    if (maxLength > 0 && name.size() > maxLength - 1)
        name.resize(maxLength - 1);
    return name;
}

int connectors::type(const std::string& name) {
    for (const auto& c : kConnectors)
        if (name == c.name)
            return c.type;
    return 0;
}

int connectors::typeOfInput(const VideoInputInfo& input, const std::string& driver) {
    if (input.tuner)
        return 1;
    const std::string n = asciiLower(input.name);
    if (n.rfind("composite", 0) == 0)
        return 2;
    if (n.rfind("s-video", 0) == 0 || n.rfind("svideo", 0) == 0)
        return 3;
    if (n.find("component") != std::string::npos)
        return 5;
    if (n.find("rgb") != std::string::npos)
        return 4;
    if (driver == "uvcvideo")
        return 11;
    return -1; // "Unknown"
}

std::string standards::name(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kStandards)))
        index = 0;
    return kStandards[index].name;
}

uint64_t standards::v4l2Value(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kStandards)))
        index = 0;
    return kStandards[index].v4l2;
}

InputRoutes::InputRoutes(VideoDeviceIo& device) : m_device(device) {
    const auto inputs = device.inputs();
    for (const auto& input : inputs)
        m_routes.push_back({input.index, connectors::typeOfInput(input, device.driver()), ""});
    for (size_t i = 0; i < m_routes.size(); ++i) {
        Route& r = m_routes[i];
        const bool shared = std::count_if(m_routes.begin(), m_routes.end(),
                                          [&](const Route& o) { return o.type == r.type; }) > 1;
        r.name = shared && !inputs[i].name.empty() ? inputs[i].name : connectors::name(r.type);
    }
    // Cards that give their inputs one name are told apart by the input's number.
    std::vector<bool> twice(m_routes.size());
    for (size_t i = 0; i < m_routes.size(); ++i)
        twice[i] = std::count_if(m_routes.begin(), m_routes.end(), [&](const Route& o) {
                       return equalsIgnoringCase(o.name, m_routes[i].name);
                   }) > 1;
    for (size_t i = 0; i < m_routes.size(); ++i)
        if (twice[i])
            m_routes[i].name += " " + std::to_string(m_routes[i].input);
    if (const auto current = device.currentInput())
        for (size_t i = 0; i < m_routes.size(); ++i)
            if (m_routes[i].input == *current)
                m_current = static_cast<int>(i);
}

int InputRoutes::type(int route) const {
    return route >= 0 && route < count() ? m_routes[static_cast<size_t>(route)].type : 0;
}

std::string InputRoutes::name(int route, size_t maxLength) const {
    if (route < 0 || route >= count())
        return connectors::name(0, maxLength);
    std::string n = m_routes[static_cast<size_t>(route)].name;
    if (maxLength > 0 && n.size() > maxLength - 1)
        n.resize(maxLength - 1);
    return n;
}

int InputRoutes::find(const std::string& name) const {
    for (int i = 0; i < count(); ++i)
        if (equalsIgnoringCase(m_routes[static_cast<size_t>(i)].name, name))
            return i;
    return -1;
}

bool InputRoutes::select(int route, int& errnoValue) {
    if (route < 0 || route >= count())
        return false;
    if (!m_device.selectInput(m_routes[static_cast<size_t>(route)].input, errnoValue))
        return false;
    m_current = route;
    return true;
}

VideoDeviceSettings::VideoDeviceSettings(std::unique_ptr<VideoDeviceIo> device, SettingsStore& settings,
                                         CaptureReporter& reporter)
    : m_device(std::move(device)), m_settings(settings), m_reporter(reporter) {}

bool VideoDeviceSettings::Init() {
    if (!m_device) {
        m_reporter.say("No capture driver!");
        return false;
    }
    m_hasDecoder = m_device->hasStandards();
    for (int c = 0; c < 4; ++c) {
        const auto r = m_device->queryControl(static_cast<VideoDeviceIo::Control>(c));
        m_ranges[static_cast<size_t>(c)] = {0, r.defaultValue, r.minimum, r.maximum, r.step};
    }
    // The device's defaults replace the settings' colours, and are applied.
    WatchdogSettings& s = m_settings.settings();
    s.Brightness = range(VideoDeviceIo::Brightness).defaultValue;
    s.Contrast = range(VideoDeviceIo::Contrast).defaultValue;
    s.Hue = range(VideoDeviceIo::Hue).defaultValue;
    s.Saturation = range(VideoDeviceIo::Saturation).defaultValue;
    SetBrightness(s.Brightness);
    SetContrast(s.Contrast);
    SetHue(s.Hue);
    SetSaturation(s.Saturation);
    m_settings.writeProcAmpRange("Brightness", range(VideoDeviceIo::Brightness));
    m_settings.writeProcAmpRange("Saturation", range(VideoDeviceIo::Saturation));
    m_settings.writeProcAmpRange("Contrast", range(VideoDeviceIo::Contrast));
    m_settings.writeProcAmpRange("Hue", range(VideoDeviceIo::Hue));
    return true;
}

bool VideoDeviceSettings::set(VideoDeviceIo::Control control, int32_t value) {
    // A control the device does not have cannot be set.
    const ProcAmpRange& r = range(control);
    if (r.minimum == 0 && r.maximum == 0 && r.step == 0)
        return false;
    return m_device->setControl(control, value);
}

bool VideoDeviceSettings::SetStandard(uint64_t v4l2Standard, int& errnoValue) {
    return m_hasDecoder && m_device->setStandard(v4l2Standard, errnoValue);
}

} // namespace gardivo
