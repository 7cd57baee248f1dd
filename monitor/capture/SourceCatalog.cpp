#include "SourceCatalog.h"

#include "SourceBin.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string deviceString(GstDevice* device, const char* field) {
    GstStructure* props = gst_device_get_properties(device);
    std::string value;
    if (props) {
        if (const char* v = gst_structure_get_string(props, field))
            value = v;
        gst_structure_free(props);
    }
    return value;
}

std::shared_ptr<GstDevice> shareDevice(GstDevice* device) {
    return std::shared_ptr<GstDevice>(GST_DEVICE(gst_object_ref(device)),
                                      [](GstDevice* d) { gst_object_unref(d); });
}

} // namespace

std::string CaptureSource::identity() const {
    if (!devicePath.empty())
        return "v4l2:" + devicePath;
    if (kind == Kind::Device && device) {
        gchar* name = gst_device_get_display_name(device.get());
        std::string id = std::string("device:") + (name ? name : "");
        g_free(name);
        return id;
    }
    return "configured:" + name + "|" + description;
}

std::vector<SourceLine> SourceCatalog::parse(const std::string& text, std::vector<int>* badLines) {
    std::vector<SourceLine> lines;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        const auto bar = t.find('|');
        const std::string name = bar == std::string::npos ? "" : trim(t.substr(0, bar));
        const std::string description = bar == std::string::npos ? "" : trim(t.substr(bar + 1));
        if (name.empty() || description.empty()) {
            if (badLines)
                badLines->push_back(number);
            continue;
        }
        lines.push_back({number, name, description});
    }
    return lines;
}

SourceCatalog::SourceCatalog(std::string sourcesFile, CaptureReporter& reporter)
    : m_sourcesFile(std::move(sourcesFile)), m_reporter(reporter), m_provider(monitorDevices) {}

SourceCatalog::~SourceCatalog() = default;

std::vector<CaptureSource> SourceCatalog::monitorDevices(const char* deviceClass) {
    std::vector<CaptureSource> found;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, deviceClass, nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    std::set<std::string> paths;
    for (GList* l = devices; l; l = l->next) {
        GstDevice* device = GST_DEVICE(l->data);
        // A sound source that only listens to what the speakers play is no microphone.
        if (deviceString(device, "device.class") == "monitor")
            continue;
        CaptureSource source;
        source.kind = CaptureSource::Kind::Device;
        gchar* name = gst_device_get_display_name(device);
        source.name = name ? name : "";
        g_free(name);
        source.devicePath = deviceString(device, "api.v4l2.path");
        if (source.devicePath.empty())
            source.devicePath = deviceString(device, "device.path");
        if (source.devicePath.rfind("/dev/video", 0) != 0)
            source.devicePath.clear();
        // Several providers may show one camera; one entry a node.
        if (!source.devicePath.empty() && !paths.insert(source.devicePath).second)
            continue;
        source.device = shareDevice(device);
        found.push_back(std::move(source));
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return found;
}

std::vector<SourceCatalog::LockedCamera> SourceCatalog::lockedCameras(const std::string& deviceDirectory) {
    std::vector<LockedCamera> locked;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5 ||
            name.find_first_not_of("0123456789", 5) != std::string::npos)
            continue;
        const std::string node = entry.path().string();
        if (::access(node.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
            continue;
        struct stat st {};
        std::string group = "video";
        if (::stat(node.c_str(), &st) == 0)
            if (const ::group* g = ::getgrgid(st.st_gid))
                group = g->gr_name;
        locked.push_back({node, group});
    }
    std::sort(locked.begin(), locked.end(), [](const auto& a, const auto& b) { return a.node < b.node; });
    return locked;
}

void SourceCatalog::enumerate() {
    m_video.clear();
    m_audio.clear();
    for (const auto& camera : lockedCameras())
        if (m_reported.insert("locked " + camera.node).second)
            m_reporter.say("The camera " + camera.node +
                           " cannot be opened by this account, so it is not listed. "
                           "The \"" +
                           camera.group +
                           "\" group may use cameras: ask for your account to be added to it (sudo "
                           "usermod -aG " +
                           camera.group + " $USER) and log in again.");
    for (auto& device : m_provider("Video/Source"))
        if (m_video.size() < kMaxSources)
            m_video.push_back(std::move(device));
    for (auto& device : m_provider("Audio/Source"))
        if (m_audio.size() < kMaxSources)
            m_audio.push_back(std::move(device));

    std::ifstream in(m_sourcesFile);
    if (!in)
        return;
    std::stringstream text;
    text << in.rdbuf();
    std::vector<int> bad;
    const auto lines = parse(text.str(), &bad);
    // Our own file, so the user is told what is wrong with it, once for the run.
    const auto once = [&](const std::string& key, const std::string& what) {
        if (m_reported.insert(key).second)
            m_reporter.say(what + "; the line is left out.");
    };
    for (int number : bad)
        once("line " + std::to_string(number),
             m_sourcesFile + " line " + std::to_string(number) + " is not \"name|pipeline or URI\"");
    std::set<std::string> names;
    for (const auto& v : m_video)
        names.insert(v.name);
    for (const auto& line : lines) {
        const std::string where =
            m_sourcesFile + " line " + std::to_string(line.lineNumber) + " (" + line.name + ")";
        // The menu holds ten, and a name chooses a source: what does not fit is said, not dropped.
        if (m_video.size() >= kMaxSources) {
            once("full " + line.name + "|" + line.description,
                 where + ": there is no room for more than " + std::to_string(kMaxSources) + " sources");
            continue;
        }
        if (names.count(line.name)) {
            once("twice " + line.name + "|" + line.description,
                 where + ": the name \"" + line.name + "\" is taken by an earlier source");
            continue;
        }
        CaptureSource source;
        source.kind = CaptureSource::Kind::Configured;
        source.name = line.name;
        source.description = line.description;
        // A pipeline that names elements nobody has, or gives no video, is said once and skipped.
        std::string error;
        GstElement* probe = createVideoSource(source, error);
        if (!probe) {
            once(line.name + "|" + line.description, where + ": " + error);
            continue;
        }
        gst_object_unref(gst_object_ref_sink(probe));
        names.insert(source.name);
        m_video.push_back(std::move(source));
    }
}

GstElement* SourceCatalog::createVideoSource(const CaptureSource& source, std::string& error) {
    if (source.kind == CaptureSource::Kind::Device) {
        if (!source.device) {
            error = "the device is gone";
            return nullptr;
        }
        GstElement* element = gst_device_create_element(source.device.get(), nullptr);
        if (!element) {
            error = "the device gives no element";
            return nullptr;
        }
        return SourceBin::fromDevice(element, error);
    }
    return SourceBin::fromDescription(source.description, error);
}

GstElement* SourceCatalog::createAudioSource(const CaptureSource& source, std::string& error) {
    if (!source.device) {
        error = "no sound device";
        return nullptr;
    }
    GstElement* element = gst_device_create_element(source.device.get(), nullptr);
    if (!element)
        error = "the sound device gives no element";
    return element;
}

DeviceWatch::DeviceWatch(Callback callback) : m_callback(std::move(callback)) {
    m_monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(m_monitor, "Video/Source", nullptr);
    gst_device_monitor_add_filter(m_monitor, "Audio/Source", nullptr);
    GstBus* bus = gst_device_monitor_get_bus(m_monitor);
    gst_bus_set_sync_handler(bus, onMessage, this, nullptr);
    gst_object_unref(bus);
    m_started = gst_device_monitor_start(m_monitor);
}

DeviceWatch::~DeviceWatch() {
    if (m_started)
        gst_device_monitor_stop(m_monitor);
    GstBus* bus = gst_device_monitor_get_bus(m_monitor);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(m_monitor);
}

GstBusSyncReply DeviceWatch::onMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<DeviceWatch*>(data);
    const auto type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_DEVICE_ADDED || type == GST_MESSAGE_DEVICE_REMOVED) {
        GstDevice* device = nullptr;
        if (type == GST_MESSAGE_DEVICE_ADDED)
            gst_message_parse_device_added(message, &device);
        else
            gst_message_parse_device_removed(message, &device);
        CaptureSource source;
        source.kind = CaptureSource::Kind::Device;
        source.devicePath = deviceString(device, "api.v4l2.path");
        if (source.devicePath.empty())
            source.devicePath = deviceString(device, "device.path");
        if (source.devicePath.rfind("/dev/video", 0) != 0)
            source.devicePath.clear();
        source.device = shareDevice(device);
        gst_object_unref(device);
        self->m_callback(type == GST_MESSAGE_DEVICE_ADDED, source.identity());
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

} // namespace gardivo
