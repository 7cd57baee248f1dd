#pragma once

// The sources gardivo can watch: the cameras the device monitor finds, then the sources listed
// in "sources.txt" of the program directory (network cameras, video files, pipelines), at most
// ten in all; and the sound sources, at most ten.

#include "CaptureReporter.h"

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace gardivo {

struct CaptureSource {
    enum class Kind { Device, Configured };
    Kind kind = Kind::Configured;
    std::string name;        // the friendly name shown, and written as "Device%d"
    std::string description; // a configured source's pipeline or URI
    std::string devicePath;  // the V4L2 node of a camera, "" for anything else
    std::shared_ptr<GstDevice> device;

    // What stays the same for one source while devices come and go.
    std::string identity() const;
};

// One line of "sources.txt": "friendly name|pipeline or URI".
struct SourceLine {
    int lineNumber = 0;
    std::string name;
    std::string description;
};

class SourceCatalog {
public:
    static constexpr size_t kMaxSources = 10;
    static constexpr const char* kFileName = "sources.txt";

    using DeviceProvider = std::function<std::vector<CaptureSource>(const char* deviceClass)>;

    SourceCatalog(std::string sourcesFile, CaptureReporter& reporter);
    ~SourceCatalog();
    SourceCatalog(const SourceCatalog&) = delete;
    SourceCatalog& operator=(const SourceCatalog&) = delete;

    // Lists the sources again. A line of "sources.txt" that is not of the form, or whose pipeline
    // cannot be made, is reported once for the run and left out.
    void enumerate();
    const std::vector<CaptureSource>& video() const { return m_video; }
    const std::vector<CaptureSource>& audio() const { return m_audio; }

    // A bin giving raw video (or sound) of the source on its "src" pad; null, with the reason in
    // error, when it cannot be made.
    static GstElement* createVideoSource(const CaptureSource& source, std::string& error);
    static GstElement* createAudioSource(const CaptureSource& source, std::string& error);

    // Lines of a sources file, and the numbers of the lines that are not of the form.
    static std::vector<SourceLine> parse(const std::string& text, std::vector<int>* badLines = nullptr);

    // Tests list devices of their own; by default the device monitor's.
    void setDeviceProvider(DeviceProvider provider) { m_provider = std::move(provider); }
    static std::vector<CaptureSource> monitorDevices(const char* deviceClass);
    // Camera nodes in the folder (/dev) this account may not open, each with the group that
    // may: such a camera is simply missing from the device lists, so the user is told why.
    struct LockedCamera {
        std::string node;
        std::string group;
    };
    static std::vector<LockedCamera> lockedCameras(const std::string& deviceDirectory = "/dev");

private:
    std::string m_sourcesFile;
    CaptureReporter& m_reporter;
    DeviceProvider m_provider;
    std::vector<CaptureSource> m_video;
    std::vector<CaptureSource> m_audio;
    std::set<std::string> m_reported; // lines already said to be wrong
};

// Watches cameras and sound sources coming and going; the callback runs on a GStreamer thread
// and must only post.
class DeviceWatch {
public:
    using Callback = std::function<void(bool added, const std::string& identity)>;
    explicit DeviceWatch(Callback callback);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

private:
    static GstBusSyncReply onMessage(GstBus* bus, GstMessage* message, gpointer self);
    Callback m_callback;
    GstDeviceMonitor* m_monitor = nullptr;
    bool m_started = false;
};

} // namespace gardivo
