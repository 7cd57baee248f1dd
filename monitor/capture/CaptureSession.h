#pragma once

// Everything of the capture side the rest of gardivo talks to: the capture graph with the
// settings objects of the device in use (inputs, standard, colours) and the sound card's mixer,
// and the operations on all of them together (open, restart the preview, record a clip, apply
// the settings, tell the main page what is selected). It runs on the engine thread; it is the
// engine's frame source and recorder.

#include "AudioMixer.h"
#include "CaptureGraph.h"
#include "CaptureReporter.h"
#include "SourceCatalog.h"
#include "VideoInputControls.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace gardivo {

class CaptureSession final : public Recorder, public FrameSource {
public:
    using DeviceOpener = std::function<std::unique_ptr<VideoDeviceIo>(const std::string& path)>;

    // environment: what the graph needs; sourcesFile: "sources.txt" of the program directory.
    CaptureSession(CaptureGraph::Environment environment, std::string sourcesFile,
                   DeviceOpener openDevice = openV4l2Device,
                   std::unique_ptr<MixerBackend> mixer = makeAlsaMixerBackend());
    ~CaptureSession() override;
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // The source to open, by name, when it is listed (the headless monitor's --source).
    void setPreferredSource(std::string name) { m_preferredSource = std::move(name); }

    // --- the operations of the capture side ---
    bool OpenCapture();
    bool RestartPreview();
    bool StartRecording(const std::string& fileName) override;
    void StopRecording();
    void ApplySettings();
    // The Tracing Box's SnapShot.
    bool Snapshot(const std::string& path);

    // --- inputs, standard and colours ---
    bool RouteConnector(int type);
    bool SelectConnectorByName(const std::string& name);
    bool SelectComposite();
    bool SelectSVideo();
    // A video-source menu choice: "Composite" and "SVideo" in any letter case, or a name.
    void SelectVideoSource(const std::string& name);
    bool SetVideoStandard(int index);
    // WM_APP_PROC_AMP: 1001 brightness, 1002 contrast, 1003 saturation, 1004 hue.
    bool SetProcAmp(int which, int value);
    bool hasSeveralConnectors() const { return m_routes && m_routes->count() > 1; }
    const std::vector<std::string>& connectorNames() const { return m_connectorNames; }

    // --- what the main page is told ---
    void ReportVideoSource(const std::string& name);
    void ReportStandard(const std::string& name);
    void ReportDimension(const std::string& text);

    // --- devices ---
    // WM_APP_SELECT_DEVICE: switch to source index and start its preview. False for an index
    // outside the list, which changes nothing.
    bool SelectDevice(int videoIndex);
    // A camera or sound source came or went (from the device watch), on the engine thread.
    void OnDeviceChange(bool added, const std::string& identity);

    void OnTimer(int id);
    void OnGraphEvent();
    // Called once the clip has ended, however it ended.
    void setClipEnded(std::function<void(const std::string& path)> ended) { m_clipEnded = std::move(ended); }

    // --- FrameSource ---
    bool isGrabberConnected() const override { return m_graph && m_graph->isGrabberConnected(); }
    int graphState() const override { return m_graph ? m_graph->graphState() : 0; }
    void setFrameSize(int width, int height) override;
    bool GrabFrame(std::vector<uint8_t>& slot) override { return m_graph && m_graph->GrabFrame(slot); }

    bool isRecording() const override { return m_graph && m_graph->isCapturing(); }
    void keepRecentFrames(bool watching) override {
        if (m_graph)
            m_graph->keepRecentFrames(watching);
    }

    CaptureGraph* graph() { return m_graph.get(); }
    SourceCatalog& catalog() { return m_catalog; }
    VideoDeviceSettings* videoSettings() { return m_videoSettings.get(); }
    MixerController* mixer() { return m_mixer.get(); }

private:
    // Runs a change the device refuses while it streams with the stream stopped for a moment.
    bool withStreamStopped(const std::function<bool(int&)>& change);
    void closeRoutes();
    void postToTracingBox(uint32_t message);

    CaptureGraph::Environment m_env;
    CaptureReporter& m_reporter;
    SettingsStore& m_settings;
    SourceCatalog m_catalog;
    DeviceOpener m_openDevice;
    std::unique_ptr<CaptureGraph> m_graph;
    std::unique_ptr<VideoDeviceSettings> m_videoSettings;
    std::unique_ptr<InputRoutes> m_routes;
    std::vector<std::string> m_connectorNames;
    std::unique_ptr<MixerController> m_mixer;
    // The MPEG variant is chosen once, when the first MPEG clip is asked for.
    std::optional<int> m_mpegVariant;
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    std::function<void(const std::string&)> m_clipEnded;
    std::string m_preferredSource;
};

} // namespace gardivo
