#pragma once

// The one capture object of gardivo: a GStreamer pipeline from the chosen source to a preview
// branch (the picture on screen, or nothing without a screen), a grabber branch (the newest
// frame in UYVY at the detector's size) and, while a clip is recorded, a recording branch that
// hangs off the grabber's frames (TRV2 in AVI, or MPEG). Everything here runs on the engine
// thread; GStreamer's streaming threads only store the newest frame and write the clip.
//
//   source ! tee ! queue ! videoconvert ! videoscale ! preview sink
//            tee ! queue ! videoconvert ! videoscale ! UYVY WxH ! tee ! appsink (the grabber)
//                                                                   tee ! queue ! trv2enc ! trv2avisink
//   sound source ! audioconvert ! audioresample ! queue ! trv2avisink.audio        (recording only)
//
// While the detector watches with a pre-record time, the grabber's frames are also encoded all
// the time into a ring of the last seconds (tee ! queue ! trv2enc ! appsink); an AVI clip then
// takes the ring's pictures instead of encoding its own (appsrc ! trv2avisink), so that it
// begins before the alarm:
//
//                                                                   tee ! queue ! trv2enc ! appsink (the
//                                                                   ring)
//   appsrc (fed by the ring) ! trv2avisink
//
// The states and transitions are those of the capture graph described for Gardivo; the source
// itself keeps running while a clip is added and taken off, so that neither a network camera
// nor the detector loses its pictures for every clip.

#include "CaptureReporter.h"
#include "FrameGate.h"
#include "GstPointers.h"
#include "PrerecordRing.h"
#include "SourceCatalog.h"
#include "monitor/engine/EngineServices.h"
#include "monitor/engine/FrameSource.h"
#include "settings/SettingsStore.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

class DetectionEngine;

class CaptureGraph final : public FrameSource {
public:
    enum RunningState { Stopped = 0, Previewing = 1, Capturing = 2 };
    enum BuiltState { NothingBuilt = 0, PreviewBuilt = 1, CaptureBuilt = 2 };
    enum RecordFormat { Mpeg1 = 0, Mpeg2 = 1, Avi = 2 };

    // Timers of the engine thread the graph uses.
    static constexpr int kCaptureTimer = 1;      // 200 ms statistics and time limit
    static constexpr int kSourceWatchTimer = 11; // a source that stopped giving pictures
    static constexpr int kReconnectTimer = 12;   // a source that failed, tried again
    static constexpr int kCaptureTimerPeriod_ms = 200;
    // A picture older than this is not handed to the detector.
    static constexpr std::chrono::milliseconds kStaleFrame{3000};
    static constexpr uint64_t kDiskLow_MiB = 39;

    // What the graph reaches outside itself.
    struct Environment {
        CaptureReporter* reporter = nullptr;
        SettingsStore* settings = nullptr;
        MessageSink* sink = nullptr;  // WM_APP_CAPTURE_BUSY and _IDLE for the Tracing Box
        TimerHost* timers = nullptr;  // the timers above
        EngineClock* clock = nullptr; // the 500 ms wait before tracing goes on
        WaitInterrupt* interrupt = nullptr;
        // From any thread: WM_APP_GRAPH_EVENT to the engine thread.
        std::function<void()> postGraphEvent;
        // The sink of the preview branch; null makes a fakesink (no screen).
        std::function<GstElement*()> makePreviewSink;
        // Free bytes on the file system of a path; nothing when it cannot be told.
        std::function<std::optional<uint64_t>(const std::string&)> freeSpace;
        std::function<uint64_t()> now_ms;
        // The detection engine, once it exists.
        std::function<DetectionEngine*()> engine;
        // Element messages of the pipeline (the test pattern's "gardivo-motion").
        std::function<void(const GstStructure*)> onElementMessage;
        // Before the disk watch refuses or ends a clip: older evidence may make room.
        std::function<void()> makeRoom;
        // No picture for this long and the source counts as lost.
        std::chrono::milliseconds stallTime{5000};
    };

    CaptureGraph(Environment environment, SourceCatalog& catalog, std::string fileName, int recordFormat,
                 int connectorType);
    // Open() chooses the source of this name when it is listed, else the one the settings name.
    void setPreferredSource(std::string name) { m_preferredSource = std::move(name); }
    ~CaptureGraph() override;
    CaptureGraph(const CaptureGraph&) = delete;
    CaptureGraph& operator=(const CaptureGraph&) = delete;

    // --- the capture object ---
    bool Open();
    void Close();
    void TearDown(bool full);
    bool BuildPreviewGraph();
    bool StartPreview();
    bool StopPreview();
    bool BuildCaptureGraph();
    bool StartCapture();
    bool StopCapture();
    void OnCaptureTimer();
    void DisplayCaptureStatistics(bool running);
    // Draws a status line over the picture and watches the disk the clip is written to.
    void DrawStatus(const std::string& text);
    void OnGraphEvent();
    bool SetCaptureSize(int width, int height);
    // Switches to the sources of the lists; 0 when the video index is outside the list.
    int SelectDevice(int videoIndex, int audioIndex);
    // Lists the sources again and finds the one in use by what it is, not by where it was.
    void Reenumerate();
    // A device went away (from the device watch). When it was the one in use, says so, ends a
    // clip under way and lets the source go; the caller then switches to another source.
    bool OnDeviceRemoved(const std::string& identity);
    void OnTimer(int id);

    // Writes the current picture as a 24-bit bitmap through the pixel conversion module.
    bool SnapshotToFile(const std::string& path);

    // --- FrameSource ---
    bool isGrabberConnected() const override { return m_grabberConnected; }
    int graphState() const override { return m_running; }
    void setFrameSize(int width, int height) override { SetCaptureSize(width, height); }
    bool GrabFrame(std::vector<uint8_t>& slot) override;
    // The newest picture as the grabber has it (UYVY), from any thread; false while there is none.
    bool latestPicture(std::vector<uint8_t>& uyvy, int& width, int& height) const;
    // Someone watches the picture from afar: every picture passes the gate meanwhile.
    void setRemoteViewers(bool watching) {
        m_remoteViewers = watching;
        applyGate();
    }

    // --- recording parameters (set by StartRecording) ---
    void setRecording(int format, bool audio, int timeLimit_s, const std::string& fileName);
    // Whether the detector watches: while it does, and a pre-record time is set, the newest
    // seconds of pictures are kept encoded for the next clip.
    void keepRecentFrames(bool watching);
    bool keepsRecentFrames() const { return m_ringTeePad != nullptr; }
    bool wantsRecentFrames() const { return m_ringWanted; }
    const PrerecordRing& prerecordRing() const { return m_ring; }
    // Pictures from before its start that the clip under way (or the last one) began with.
    size_t framesFromBefore() const { return m_framesFromBefore; }
    // Called by the one who stops a recording from outside the graph (time limit, disk, errors).
    void setStopRecording(std::function<void()> stop) { m_stopRecording = std::move(stop); }

    // --- queries ---
    RunningState runningState() const { return m_running; }
    BuiltState builtState() const { return m_built; }
    bool isPreviewing() const { return m_running == Previewing; }
    bool isCapturing() const { return m_running == Capturing; }
    bool audioAvailable() const { return !m_audioSources.empty(); }
    int frameWidth() const { return m_frameWidth; }
    // The width the grabber takes: the asked one, made even, as UYVY comes in pairs of pixels.
    int grabWidth() const { return m_frameWidth + (m_frameWidth % 2); }
    int frameHeight() const { return m_frameHeight; }
    int selectedVideo() const { return m_selectedVideo; }
    int selectedAudio() const { return m_selectedAudio; }
    std::vector<std::string> videoNames() const;
    std::vector<std::string> videoIdentities() const;
    const CaptureSource* videoSource() const;
    const std::string& outputFileName() const { return m_fileName; }
    int recordFormat() const { return m_recordFormat; }
    bool recordAudio() const { return m_recordAudio; }
    int timeLimit_s() const { return m_timeLimit_s; }
    const std::string& lastStatus() const { return m_lastStatus; }
    uint64_t framesWritten() const { return m_framesWritten; }
    uint64_t framesDropped() const { return m_framesDropped; }
    // True while the pipeline is being rebuilt after its source failed or stalled.
    bool isReconnecting() const { return m_reconnectPending; }
    const FrameGate& frameGate() const { return m_gate; }
    // Pictures the grabber has taken since the graph was made.
    uint64_t picturesSeen() const { return m_samples; }
    GstElement* pipeline() const { return m_pipeline.get(); }

private:
    // The elements of the recording branch.
    struct Branch {
        std::vector<GstElement*> video; // from its queue to its sink
        GstElement* queue = nullptr;
        GstElement* sink = nullptr;
        GstElement* soundInput = nullptr; // where the sound joins: the AVI writer or the multiplexer
        GstElement* ringSource = nullptr; // the appsrc the ring feeds, instead of the queue
        GstPad* teePad = nullptr;         // the grabber tee's pad it is linked to while recording
        GstElement* audioSource = nullptr;
        std::vector<GstElement*> audio; // from the sound source to the sink's sound pad
        bool avi = true;
        bool linked = false;
        bool failed = false; // it reported an error: no end of stream will reach its sink

        std::mutex mutex;
        std::condition_variable ended;
        int endsSeen = 0; // end-of-stream events that reached the sink's pads
    };

    // Takes the source list afresh from the catalogue.
    void enumerateSources();
    // The clip's file: the one asked for, else the given name in the home directory.
    std::string clipFile(const char* unnamed) const;
    bool createGraph();
    void destroyPipeline();
    bool ensureSource();
    bool ensurePreviewBranch();
    bool ensureGrabberBranch();
    bool buildAviBranch();
    bool buildMpegBranch();
    bool addAudioBranch();
    void removeRecordingBranch();
    // Hangs the ring's branch on the grabber's frames, or takes it off, as watching and the
    // clip under way need it.
    void updateRing();
    bool linkRing();
    void unlinkRing();
    void removeRing();
    // Everything passes the gate while it is on screen, recorded or kept in the ring.
    void applyGate();
    void pauseTracing();
    void resumeTracing();
    void handleError(GstMessage* message);
    void scheduleReconnect();
    // The source gives no picture: the user is told once for the outage, and it is tried again.
    void sourceFailed(const std::string& reason);
    void reconnect();
    void stopRecordingFromGraph();
    std::string freeSpaceDirectory() const;
    // At most 39 MiB free where the clip goes.
    bool diskIsLow() const;
    static bool lowOn(std::optional<uint64_t> freeBytes) {
        return freeBytes && *freeBytes / 1048576 <= kDiskLow_MiB;
    }
    void removeEmptyPlaceholder();
    void sayDiskWillBeFull();
    GstCaps* grabberCaps() const;
    static GstBusSyncReply busSyncHandler(GstBus* bus, GstMessage* message, gpointer self);
    static GstFlowReturn onNewSample(GstAppSink* sink, gpointer self);
    // The newest frame at the asked size, as GrabFrame hands it out.
    bool copyFrame(std::vector<uint8_t>& slot);
    // "The video source "NAME"" for what the user is told of the source in use.
    std::string sourceLabel() const;

    Environment m_env;
    SourceCatalog& m_catalog;
    // Which pictures are decoded and converted; the pipeline's probes point at it.
    FrameGate m_gate;

    GstRef<GstElement> m_pipeline;
    GstElement* m_source = nullptr;     // owned by the pipeline
    GstElement* m_mainTee = nullptr;    // after the source
    GstElement* m_grabberTee = nullptr; // after the UYVY caps
    GstElement* m_grabberCaps = nullptr;
    GstElement* m_grabber = nullptr; // the appsink
    std::vector<GstElement*> m_previewElements;
    std::vector<GstElement*> m_grabberElements;
    std::unique_ptr<Branch> m_recording;
    std::vector<GstElement*> m_ringElements; // queue, encoder, appsink
    GstPad* m_ringTeePad = nullptr;
    PrerecordRing m_ring;
    bool m_ringWanted = false;
    bool m_remoteViewers = false;
    size_t m_framesFromBefore = 0;

    RunningState m_running = Stopped;
    BuiltState m_built = NothingBuilt;
    bool m_grabberConnected = false;
    int m_recordFormat;
    std::string m_fileName;
    bool m_recordAudio = false;
    int m_timeLimit_s = 0;
    int m_connectorType;
    int m_frameWidth = 320;
    int m_frameHeight = 240;

    std::vector<CaptureSource> m_videoSources;
    std::vector<CaptureSource> m_audioSources;
    int m_selectedVideo = -1;
    int m_selectedAudio = -1;
    bool m_audioCapturable = true;

    // Messages of the pipeline for the engine thread, taken off the bus as they are posted.
    std::mutex m_busMutex;
    std::vector<MessageRef> m_busMessages;

    // The newest frame, stored by the grabber's streaming thread.
    mutable std::mutex m_sampleMutex;
    SampleRef m_sample;
    std::chrono::steady_clock::time_point m_sampleTime;
    std::atomic<uint64_t> m_samples{0};

    // Statistics of the recording.
    uint64_t m_captureStart_ms = 0;
    uint64_t m_captureStop_ms = 0;
    std::atomic<uint64_t> m_framesWritten{0};
    std::atomic<uint64_t> m_framesDropped{0};
    std::string m_lastStatus;
    bool m_diskFullStop = false;
    std::string m_placeholderClip; // the clip file made at the start, while nothing is in it

    bool m_pausedTracing = false;
    bool m_reconnectPending = false;
    bool m_outage = false;         // the user was told the source gives no picture
    uint64_t m_samplesAtStart = 0; // pictures seen when the source was last started
    int m_reconnectDelay_ms = 1000;
    bool m_uyvyReported = false;
    uint64_t m_samplesAtLastWatch = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::function<void()> m_stopRecording;
    std::string m_preferredSource;
};

} // namespace gardivo
