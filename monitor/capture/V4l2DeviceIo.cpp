#include "VideoDeviceIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace gardivo {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

uint32_t controlId(VideoDeviceIo::Control control) {
    switch (control) {
    case VideoDeviceIo::Brightness:
        return V4L2_CID_BRIGHTNESS;
    case VideoDeviceIo::Contrast:
        return V4L2_CID_CONTRAST;
    case VideoDeviceIo::Hue:
        return V4L2_CID_HUE;
    case VideoDeviceIo::Saturation:
        return V4L2_CID_SATURATION;
    }
    return V4L2_CID_BRIGHTNESS;
}

class V4l2DeviceIo final : public VideoDeviceIo {
public:
    V4l2DeviceIo(int fd, std::string driver) : m_fd(fd), m_driver(std::move(driver)) {}
    ~V4l2DeviceIo() override { ::close(m_fd); }

    std::string driver() const override { return m_driver; }

    std::vector<VideoInputInfo> inputs() override {
        std::vector<VideoInputInfo> list;
        for (uint32_t i = 0; i < 64; ++i) {
            v4l2_input input{};
            input.index = i;
            if (xioctl(m_fd, VIDIOC_ENUMINPUT, &input) < 0)
                break;
            const char* name = reinterpret_cast<const char*>(input.name);
            list.push_back({i, std::string(name, strnlen(name, sizeof input.name)),
                            input.type == V4L2_INPUT_TYPE_TUNER});
        }
        return list;
    }

    bool selectInput(uint32_t index, int& errnoValue) override {
        int value = static_cast<int>(index);
        if (xioctl(m_fd, VIDIOC_S_INPUT, &value) == 0)
            return true;
        errnoValue = errno;
        return false;
    }

    std::optional<uint32_t> currentInput() override {
        int value = 0;
        if (xioctl(m_fd, VIDIOC_G_INPUT, &value) < 0)
            return std::nullopt;
        return static_cast<uint32_t>(value);
    }

    bool hasStandards() override {
        v4l2_standard standard{};
        standard.index = 0;
        // ENODATA or ENOTTY: there is no analog decoder on this device.
        return xioctl(m_fd, VIDIOC_ENUMSTD, &standard) == 0;
    }

    bool setStandard(uint64_t v4l2Standard, int& errnoValue) override {
        v4l2_std_id id = v4l2Standard;
        if (xioctl(m_fd, VIDIOC_S_STD, &id) == 0)
            return true;
        errnoValue = errno;
        return false;
    }

    VideoControlRange queryControl(Control control) override {
        v4l2_queryctrl query{};
        query.id = controlId(control);
        VideoControlRange range;
        if (xioctl(m_fd, VIDIOC_QUERYCTRL, &query) < 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED))
            return range; // a missing control has a zero range
        range.present = true;
        range.minimum = query.minimum;
        range.maximum = query.maximum;
        range.step = query.step;
        range.defaultValue = query.default_value;
        return range;
    }

    bool setControl(Control control, int32_t value) override {
        v4l2_control c{};
        c.id = controlId(control);
        c.value = value;
        return xioctl(m_fd, VIDIOC_S_CTRL, &c) == 0;
    }

private:
    int m_fd;
    std::string m_driver;
};

} // namespace

std::unique_ptr<VideoDeviceIo> openV4l2Device(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    v4l2_capability caps{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &caps) < 0) {
        ::close(fd);
        return nullptr;
    }
    const char* driver = reinterpret_cast<const char*>(caps.driver);
    return std::make_unique<V4l2DeviceIo>(fd, std::string(driver, strnlen(driver, sizeof caps.driver)));
}

} // namespace gardivo
