#include "CaptureSession.h"

#include "monitor/messages/ScriptText.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/ProgramDirectory.h"
#include "platform/TextCase.h"
#include "settings/SettingsLimits.h"

#include <cerrno>

namespace gardivo {

CaptureSession::CaptureSession(CaptureGraph::Environment environment, std::string sourcesFile,
                               DeviceOpener openDevice, std::unique_ptr<MixerBackend> mixer)
    : m_env(std::move(environment)), m_reporter(*m_env.reporter), m_settings(*m_env.settings),
      m_catalog(std::move(sourcesFile), *m_env.reporter), m_openDevice(std::move(openDevice)) {
    // The mixer controller is made once; without a sound card there is none, and no error.
    auto controller = std::make_unique<MixerController>(std::move(mixer));
    if (controller->Init())
        m_mixer = std::move(controller);
}

CaptureSession::~CaptureSession() {
    // The order the shell takes the capture side down in: preview, clip, graph.
    if (m_graph) {
        if (m_graph->isCapturing())
            StopRecording();
        m_graph->StopPreview();
        m_graph->TearDown(true);
        m_graph->Close();
    }
    m_videoSettings.reset();
    closeRoutes();
    m_graph.reset();
}

void CaptureSession::closeRoutes() {
    if (!m_routes)
        return;
    m_routes.reset();
    m_connectorNames.clear();
    m_settings.registry().deleteKey(m_settings.registryRoot(), SettingsStore::kVideoConnectorsKey);
}

bool CaptureSession::OpenCapture() {
    if (!m_graph) {
        m_graph = std::make_unique<CaptureGraph>(
            m_env, m_catalog, joinPath(m_settings.homeDirectory(), "capture.mpg"), CaptureGraph::Mpeg2, 2);
        m_graph->setStopRecording([this] { StopRecording(); });
        m_graph->setPreferredSource(m_preferredSource);
        if (m_frameWidth > 0)
            m_graph->SetCaptureSize(m_frameWidth, m_frameHeight);
        if (!m_graph->Open())
            return false;
    }
    // The device's settings: its inputs, standard and colours, made again at every open. Sources
    // without a device node (the test pattern, network cameras, files) have none.
    const CaptureSource* source = m_graph->videoSource();
    const std::string node = source ? source->devicePath : std::string();
    if (!m_videoSettings && !node.empty()) {
        if (auto io = m_openDevice(node))
            m_videoSettings = std::make_unique<VideoDeviceSettings>(std::move(io), m_settings, m_reporter);
    }
    if (m_videoSettings && !m_videoSettings->Init())
        m_videoSettings.reset();
    if (m_videoSettings && !m_routes) {
        m_routes = std::make_unique<InputRoutes>(m_videoSettings->device());
        for (int i = 0; i < m_routes->count(); ++i)
            if (m_routes->name(i) != "TV Tuner")
                m_connectorNames.push_back(m_routes->name(i));
        if (m_routes->count() > 0)
            m_settings.writeConnectorList(m_connectorNames);
    }
    ApplySettings();
    return RestartPreview();
}

bool CaptureSession::RestartPreview() {
    return m_graph && m_graph->BuildPreviewGraph() && m_graph->StartPreview();
}

void CaptureSession::setFrameSize(int width, int height) {
    m_frameWidth = width;
    m_frameHeight = height;
    if (m_graph)
        m_graph->SetCaptureSize(width, height);
}

void CaptureSession::postToTracingBox(uint32_t message) {
    if (m_env.sink)
        m_env.sink->postMessage(kTracingBox, message, 0, 0);
}

bool CaptureSession::StartRecording(const std::string& fileName) {
    // A second clip cannot start while one is written: it is refused, and nothing changes.
    if (!m_graph || m_graph->isCapturing())
        return false;
    const WatchdogSettings& s = m_settings.settings();
    const int format = s.RecordFormat == 2
                           ? CaptureGraph::Avi
                           : (s.RecordFormat == 0 ? CaptureGraph::Mpeg1 : CaptureGraph::Mpeg2);
    if (format != CaptureGraph::Avi && !m_mpegVariant)
        m_mpegVariant = format; // the variant is chosen when the encoder settings are made
    const int used = format == CaptureGraph::Avi ? format : *m_mpegVariant;
    m_graph->setRecording(used, s.RecordAudio == 1 && m_graph->audioAvailable(),
                          limits::RecordTimeLimit.clamp(s.RecordTimeLimit), fileName);
    if (!m_graph->BuildCaptureGraph() || !m_graph->StartCapture()) {
        // A failed build must not leave the camera off while the detector waits for pictures.
        m_graph->TearDown(false);
        RestartPreview();
        return false;
    }
    postToTracingBox(WM_APP_CAPTURE_BUSY);
    return true;
}

void CaptureSession::StopRecording() {
    if (!m_graph)
        return;
    const bool wasCapturing = m_graph->isCapturing();
    const std::string clip = m_graph->outputFileName();
    m_graph->StopCapture();
    postToTracingBox(WM_APP_CAPTURE_IDLE);
    RestartPreview();
    if (wasCapturing && m_clipEnded)
        m_clipEnded(clip);
}

bool CaptureSession::Snapshot(const std::string& path) {
    return m_graph && m_graph->SnapshotToFile(path);
}

void CaptureSession::ApplySettings() {
    const WatchdogSettings& s = m_settings.settings();
    // The sound card is the user's: its recording input and level are set only while the clips
    // are to have sound, and then only the lines the settings name.
    if (m_mixer && s.RecordAudio == 1) {
        m_mixer->SelectPlaybackSource(s.MixerIndexB);
        m_mixer->SelectRecordingSource(s.MixerIndexA);
    }
    if (m_videoSettings) {
        SetVideoStandard(s.VideoStandard);
        m_videoSettings->SetBrightness(s.Brightness);
        m_videoSettings->SetContrast(s.Contrast);
        m_videoSettings->SetHue(s.Hue);
        m_videoSettings->SetSaturation(s.Saturation);
    }
    if (m_graph) {
        // A pre-record time changed in the wizard applies to the watch under way.
        m_graph->keepRecentFrames(m_graph->wantsRecentFrames());
        if (hasSeveralConnectors()) {
            const std::string connector = fieldText(s.VideoConnector);
            if (connector == "SVideo")
                SelectSVideo();
            else if (connector == "Composite")
                SelectComposite();
            else if (SelectConnectorByName(connector))
                ReportVideoSource(connector);
        } else {
            ReportVideoSource("");
        }
    }
}

bool CaptureSession::withStreamStopped(const std::function<bool(int&)>& change) {
    int error = 0;
    if (change(error))
        return true;
    // Inputs and standards are refused while the device streams: set in a stopped stream.
    if (error != EBUSY || !m_graph || !m_graph->isPreviewing())
        return false;
    m_graph->StopPreview();
    const bool ok = change(error);
    m_graph->StartPreview();
    return ok;
}

bool CaptureSession::RouteConnector(int type) {
    if (!m_routes || m_routes->count() == 0) {
        m_reporter.say("There're no other video sources!");
        return false;
    }
    for (int i = 0; i < m_routes->count(); ++i) {
        if (m_routes->type(i) != type)
            continue;
        withStreamStopped([&](int& error) { return m_routes->select(i, error); });
        break;
    }
    // A name the device does not have leaves the routing as it was.
    return true;
}

bool CaptureSession::SelectConnectorByName(const std::string& name) {
    setFieldText(m_settings.settings().VideoConnector, name);
    // An input of the card's own name first: of four composite inputs, the one named.
    if (m_routes) {
        if (const int route = m_routes->find(name); route >= 0) {
            withStreamStopped([&](int& error) { return m_routes->select(route, error); });
            return true;
        }
    }
    return RouteConnector(connectors::type(name));
}

bool CaptureSession::SelectComposite() {
    if (!RouteConnector(2))
        return false;
    setFieldText(m_settings.settings().VideoConnector, "Composite");
    ReportVideoSource("Composite");
    return true;
}

bool CaptureSession::SelectSVideo() {
    if (!RouteConnector(3))
        return false;
    setFieldText(m_settings.settings().VideoConnector, "SVideo");
    ReportVideoSource("SVideo");
    return true;
}

void CaptureSession::SelectVideoSource(const std::string& name) {
    if (equalsIgnoringCase(name, "Composite"))
        SelectComposite();
    else if (equalsIgnoringCase(name, "SVideo"))
        SelectSVideo();
    else if (SelectConnectorByName(name))
        ReportVideoSource(name);
}

bool CaptureSession::SetVideoStandard(int index) {
    const uint64_t value = standards::v4l2Value(index);
    if (m_videoSettings) {
        if (!m_videoSettings->hasDecoder())
            return false;
        if (!withStreamStopped([&](int& error) { return m_videoSettings->SetStandard(value, error); })) {
            m_reporter.report("put_TVFormat");
            return false;
        }
    }
    m_settings.settings().VideoStandard = index;
    ReportStandard(standards::name(index));
    return true;
}

bool CaptureSession::SetProcAmp(int which, int value) {
    if (!m_videoSettings)
        return false;
    switch (which) {
    case 1001:
        return m_videoSettings->SetBrightness(value);
    case 1002:
        return m_videoSettings->SetContrast(value);
    case 1003:
        return m_videoSettings->SetSaturation(value);
    case 1004:
        return m_videoSettings->SetHue(value);
    default:
        return false;
    }
}

void CaptureSession::ReportVideoSource(const std::string& name) {
    if (m_env.sink && m_env.sink->windowExists(kControlPanel))
        m_env.sink->runScript(kControlPanel, scriptCall("DescChange", "videosource", name));
    m_settings.writeCurrentConnector();
}

void CaptureSession::ReportStandard(const std::string& name) {
    if (m_env.sink && m_env.sink->windowExists(kControlPanel))
        m_env.sink->runScript(kControlPanel, scriptCall("DescChange", "standard", name));
}

void CaptureSession::ReportDimension(const std::string& text) {
    if (m_env.sink && m_env.sink->windowExists(kControlPanel))
        m_env.sink->runScript(kControlPanel, scriptCall("DescChange", "dimension", text));
}

bool CaptureSession::SelectDevice(int videoIndex) {
    if (!m_graph || videoIndex < 0 || videoIndex >= static_cast<int>(m_graph->videoNames().size()))
        return false;
    if (m_graph->isCapturing())
        StopRecording();
    m_videoSettings.reset();
    closeRoutes();
    if (m_graph->SelectDevice(videoIndex, m_graph->selectedAudio()) != videoIndex)
        return false;
    return OpenCapture();
}

void CaptureSession::OnDeviceChange(bool added, const std::string& identity) {
    if (!m_graph)
        return;
    // The next device is chosen on the list as it was: the first one, or the second when the
    // first was the one removed; it is then found again in the new list by what it is.
    const std::vector<std::string> before = m_graph->videoIdentities();
    const int selected = m_graph->selectedVideo();
    const bool lost = !added && m_graph->OnDeviceRemoved(identity);
    if (lost) {
        m_videoSettings.reset();
        closeRoutes();
    }
    m_graph->Reenumerate();
    if (lost && before.size() > 1) {
        const std::string& next = before[selected != 0 ? 0 : 1];
        const auto now = m_graph->videoIdentities();
        for (size_t i = 0; i < now.size(); ++i)
            if (now[i] == next &&
                m_graph->SelectDevice(static_cast<int>(i), m_graph->selectedAudio()) == static_cast<int>(i)) {
                OpenCapture();
                break;
            }
    }
    // An open setup wizard shows the new list.
    if (m_env.sink)
        m_env.sink->postMessage(kSetupForm, WM_APP_SELECT_DEVICE, 0, 0);
}

void CaptureSession::OnTimer(int id) {
    if (m_graph)
        m_graph->OnTimer(id);
}

void CaptureSession::OnGraphEvent() {
    if (m_graph)
        m_graph->OnGraphEvent();
}

} // namespace gardivo
