// Watching, alarms, tracing and release: when the engine watches, what a condition sets off,
// and when it stops by itself.

#include "DetectionEngine.h"
#include "monitor/messages/WindowMessages.h"
#include "settings/SettingsLimits.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace gardivo {

namespace {

constexpr const char* kLimitReached =
    "Total errors is reached the assigned amount....\nGardivo is stop and reset.";

} // namespace

std::tm SystemClock::localTime() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    return t;
}

void DetectionEngine::showError(const char* text) {
    m_settings.reporter().show({text, Reporter::kCaption, MessageIcon::Error, MessageButtons::Ok, true});
}

void DetectionEngine::tell(EngineEvent::Kind kind, const EventEntry& entry, std::string imagePath) {
    if (!onEvent)
        return;
    EngineEvent e;
    e.kind = kind;
    const std::tm t = m_clock.localTime();
    char time[64];
    std::snprintf(time, sizeof time, "%d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    e.time = time;
    e.group = entry.GroupName;
    e.description = entry.Description;
    e.remark = entry.Remark;
    e.imagePath = imagePath.empty() ? entry.ImagePath : imagePath;
    e.videoPath = entry.VideoPath;
    e.mode = detectionModeName(m_settings.mode());
    onEvent(e);
}

void DetectionEngine::postModeChanged() {
    if (m_services.recorder)
        m_services.recorder->keepRecentFrames(m_settings.mode() != StandBy);
    if (m_settings.mode() != m_toldMode) {
        m_toldMode = m_settings.mode();
        tell(EngineEvent::Kind::Mode, EventEntry{});
    }
    if (m_services.sink)
        m_services.sink->postMessage(kControlPanel, WM_APP_MODE_CHANGED, 0, 0);
}

void DetectionEngine::postNewRecord(bool evenInTray) {
    if (!m_services.sink || (m_settings.settings().WindowStyle == 2 && !evenInTray))
        return;
    m_services.sink->postMessage(m_services.sink->windowExists(kHistory) ? kHistory : kControlPanel,
                                 WM_APP_NEW_RECORD, 0, 0);
}

void DetectionEngine::clearCounters() {
    for (auto& row : m_grid)
        for (auto& c : row)
            c.counter = 0;
}

void DetectionEngine::OnTimer(int id) {
    if (id == kDetectionTimer)
        DetectionTick();
    else if (id == kTracingTimer)
        TracingTick();
}

bool DetectionEngine::waitOnEngineThread(std::chrono::milliseconds duration) {
    return m_clock.sleep(duration, m_waitInterrupt);
}

void DetectionEngine::StartCommand(bool fromMenu) {
    if (m_settings.mode() != StandBy)
        return;
    const int delay_s = limits::StartDelay.clamp(m_settings.settings().StartDelay);
    if (delay_s > 0) {
        char text[96];
        std::snprintf(text, sizeof text,
                      fromMenu ? "Please wait, Gardivo will start at %d seconds later..."
                               : "Please wait, Gardivo will start %d seconds later...",
                      delay_s);
        DrawStatusLabel(text, kYellow, 12, 0, videoY(m_frameHeight) - m_videoRect.top - 20, 300);
        m_startWaiting = true;
        const bool waited = waitOnEngineThread(std::chrono::seconds(delay_s));
        m_startWaiting = false;
        fillVideoRect(kKeyColour);
        // A Stop, or the end of the program, came during the delay: watching does not start.
        if (!waited)
            return;
    }
    StartWatching();
    postModeChanged();
}

void DetectionEngine::StopCommand() {
    // The Stop has reached the engine thread: later waits run their full length again.
    m_waitInterrupt.clear();
    if (m_settings.mode() == WatchDog) {
        StopWatching(false);
        m_settings.setMode(StandBy);
        postModeChanged();
    } else if (m_settings.mode() == Tracing) {
        Release();
    }
}

void DetectionEngine::StartWatching() {
    if (m_settings.settings().WindowStyle == 2 && m_services.sink)
        m_services.sink->minimizeToTray();
    // Every watch starts from a fresh reference. A watch stopped with tracing configured keeps
    // its frame count, and comparing the first frame of a new watch against the old reference
    // raised false alarms.
    m_frameCount = 0;
    BuildActiveBlockMap();
    DetectionTick();
    ComputeThresholds();
    if (m_services.timers &&
        m_services.timers->setTimer(kDetectionTimer,
                                    limits::DetectInterval.clamp(m_settings.settings().DetectInterval)))
        m_settings.setMode(WatchDog);
    else
        RaiseAlarm(kTimerAlarmCode);
}

void DetectionEngine::MoveVideoRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    const bool watching = m_settings.mode() == WatchDog;
    StopWatching(false);
    SetVideoRect(left, top, right, bottom);
    if (!watching)
        return;
    StartWatching();
    postModeChanged();
}

void DetectionEngine::StopWatching(bool final) {
    const WatchdogSettings& s = m_settings.settings();
    if (s.TracingMode == 0 && s.StopRule == 0)
        m_settings.setMode(StandBy);
    if (m_services.timers)
        m_services.timers->killTimer(kDetectionTimer);
    if (s.TracingMode == 0)
        m_frameCount = 0;
    fillVideoRect(kKeyColour);
    clearCounters();
    if (final) {
        if (s.WarningSound == 1 && m_services.sound)
            m_services.sound->stop();
        freeFrameBuffers();
        std::vector<uint8_t>().swap(m_bitmapBuffer);
    }
}

void DetectionEngine::rearmDetection() {
    if (!m_services.timers ||
        !m_services.timers->setTimer(kDetectionTimer,
                                     limits::DetectInterval.clamp(m_settings.settings().DetectInterval)))
        RaiseAlarm(kTimerAlarmCode);
}

void DetectionEngine::startEventRecording(EventEntry& entry) {
    if (entry.VideoPath.empty())
        return;
    if (m_services.recorder && m_services.recorder->StartRecording(entry.VideoPath))
        return;
    // No clip is written for this event: its row must not name one.
    entry.VideoPath.clear();
    m_history.UpdateRecord(entry.GroupName, entry.Description, entry);
}

void DetectionEngine::RaiseAlarm(int code) {
    // The frame that set the alarm off; stopping may reset the count its slot is found by.
    const FrameSlot alarmFrame = m_lastGrabbed;
    StopWatching(false);
    if (code == kTimerAlarmCode) {
        showError("Timer is used out...");
        return;
    }
    if (code != kConditionAlarmCode)
        return;

    const WatchdogSettings& s = m_settings.settings();
    ++m_conditionCount;
    if (!RecordEvent())
        return;
    EventEntry& entry = m_events[currentSlot()];
    WriteEvidenceBitmap(entry.ImagePath, alarmFrame);
    const bool recordBit = s.ActionFlags & 1u;
    // Without an evidence directory there is nowhere to put a clip; while another clip is being
    // written, this one cannot start, so the event names none.
    const bool recorderFree = m_services.recorder && !m_services.recorder->isRecording();
    if ((recordBit || s.TracingMode == 1) && !m_settings.evidenceDirectory().empty() && recorderFree) {
        char name[32];
        std::snprintf(name, sizeof name, "error%03u.avi", m_conditionCount);
        entry.VideoPath = joinPath(m_settings.evidenceDirectory(), name);
    }
    if (m_settings.wantsProgram() && m_services.companions)
        m_services.companions->StartUserProgram(fieldText(s.ProgramFile));
    if (m_settings.wantsEmail()) {
        // email attaches what these name: this event's picture and clip.
        m_settings.setAttachedImagePath(entry.ImagePath);
        m_settings.setAttachedVideoPath(entry.VideoPath);
        m_settings.writeAttachedFiles();
        if (m_services.companions)
            m_services.companions->StartEmail(true, static_cast<int>(m_conditionCount));
    }
    if (m_settings.wantsPhoneCall() && m_services.companions)
        m_services.companions->StartDial(true, static_cast<int>(m_conditionCount));
    m_history.AddRecord(entry.GroupName, entry);
    postNewRecord(false);
    tell(EngineEvent::Kind::Condition, entry);
    if (onEvidenceWritten)
        onEvidenceWritten();

    if (s.TracingMode == 1) {
        startEventRecording(entry);
        waitOnEngineThread(std::chrono::milliseconds(500));
        StartTracing();
        return;
    }
    m_frameCount = 0;
    if (recordBit)
        startEventRecording(entry);
    if (s.TracingMode == 2) {
        if (!m_tracingBoxOpen && m_services.sink) {
            m_services.sink->openTracingBox();
            m_tracingBoxOpen = true;
        }
        waitOnEngineThread(std::chrono::milliseconds(500));
        StartTracing();
    } else if (s.TracingMode == 0 && s.StopRule == 1) {
        rearmDetection();
    } else if (s.TracingMode == 0 && s.StopRule == 2) {
        countTowardsLimit();
    } else if (s.TracingMode == 0 && s.StopRule == 0) {
        postModeChanged();
    }
}

// StopRule 2: a condition counts; past the limit the engine stops and says so, otherwise it
// watches again.
void DetectionEngine::countTowardsLimit() {
    ++m_stopCounter;
    if (m_stopCounter >
        static_cast<uint32_t>(limits::ConditionLimit.clamp(m_settings.settings().ConditionLimit))) {
        showError(kLimitReached);
        m_stopCounter = 0;
        m_settings.setMode(StandBy);
        postModeChanged();
    } else {
        rearmDetection();
    }
}

void DetectionEngine::StartTracing() {
    m_stillTicks = 0;
    const int interval = limits::DetectInterval.clamp(m_settings.settings().DetectInterval);
    m_tracingPeriod_ms = interval >= 400 ? 400 : interval;
    const auto period = static_cast<uint32_t>(m_tracingPeriod_ms);
    m_releaseTicks =
        static_cast<uint32_t>(limits::ReleaseTime.clamp(m_settings.settings().ReleaseTime)) * 1000u / period;
    m_frameCount = 0;
    if (TracingTick() == 0)
        return;
    if (!m_services.timers || !m_services.timers->setTimer(kTracingTimer, m_tracingPeriod_ms)) {
        RaiseAlarm(kTimerAlarmCode);
        return;
    }
    m_settings.setMode(Tracing);
    postModeChanged();
}

int DetectionEngine::TracingTick() {
    if (!m_source || !m_source->isGrabberConnected())
        return 0;
    // The Tracing Box or the capture side holds tracing while it works on the picture. The step
    // is skipped rather than waited for: the one who holds it may need this very thread.
    if (!m_pauseTracing.isSet())
        return 1;
    const int width = std::abs(m_targetBox.x2 - m_targetBox.x1);
    const int height = std::abs(m_targetBox.y2 - m_targetBox.y1);
    const bool small = std::min(width, height) < 49;
    const char* label = m_stillTicks >= 15             ? "Target is still......"
                        : (small && m_frameCount >= 3) ? "Target is shrinking......"
                                                       : "Tracing......";
    DrawStatusLabel(label, kRed, 16, 0, 0, 200);

    if (!grabNextFrame())
        return 0;
    if (m_frameCount < 2)
        return 1;
    // The two latest frames of this trace. At the second frame they are the reference and
    // FrameB: FrameA still holds a picture from before the trace began.
    const std::vector<uint8_t>& previous =
        m_frameCount == 2 ? m_referenceFrame : (m_frameCount % 2 == 0 ? m_frameA : m_frameB);
    const std::vector<uint8_t>& latest = latestFrame();
    if (!holdsPicture(previous) || !holdsPicture(latest))
        return 1;
    const bool moving = CompareFrames(previous.data(), latest.data(), 11);
    if (moving) {
        m_stillTicks = 0;
        TraceUpdate();
        return 1;
    }
    ++m_stillTicks;
    if (small && m_stillTicks >= 10 && m_stillTicks <= 15)
        Release();
    else if (m_settings.settings().TracingMode == 1 && m_stillTicks > m_releaseTicks)
        Release();
    return 1;
}

int DetectionEngine::TraceUpdate() {
    const auto& latest = latestFrame();
    if (holdsPicture(m_referenceFrame) && holdsPicture(latest))
        CompareFrames(m_referenceFrame.data(), latest.data(), 22); // only the counters matter
    if (!MarkTargetBlocks()) {
        Release();
        return 0;
    }
    DrawTargetMarker(m_targetBox.x1, m_targetBox.y1, m_targetBox.x2, m_targetBox.y2);
    clearCounters();
    return 1;
}

bool DetectionEngine::MarkTargetBlocks() {
    const auto hot = [this](int c, int r) { return cell(c, r).counter >= 2; };
    int marked = 0;
    int minC = kGridColumns, maxC = -1, minR = kGridRows, maxR = -1;
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c) {
            bool hotNeighbour = false;
            for (int dr = -1; dr <= 1 && !hotNeighbour; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    const int nc = c + dc, nr = r + dr;
                    if ((dc || dr) && nc >= 0 && nr >= 0 && nc < m_columns && nr < m_rows && hot(nc, nr)) {
                        hotNeighbour = true;
                        break;
                    }
                }
            // A corner needs only a hot neighbour; every other cell must be hot itself as well.
            const bool corner = (c == 0 || c == m_columns - 1) && (r == 0 || r == m_rows - 1);
            const bool mark = hotNeighbour && (corner || hot(c, r));
            cell(c, r).mark = mark ? 1 : 0;
            if (!mark)
                continue;
            ++marked;
            minC = std::min(minC, c);
            maxC = std::max(maxC, c);
            minR = std::min(minR, r);
            maxR = std::max(maxR, r);
        }
    }
    if (marked > 2) {
        m_targetBox = {videoX(kBlockSize * minC), videoY(kBlockSize * minR), videoX(kBlockSize * maxC),
                       videoY(kBlockSize * maxR)};
        return true;
    }
    m_targetBox = {m_videoRect.left, m_videoRect.top, m_videoRect.right, m_videoRect.bottom};
    return false;
}

void DetectionEngine::Release() {
    m_settings.setMode(StandBy);
    if (m_services.timers)
        m_services.timers->killTimer(kTracingTimer);
    m_frameCount = 0;
    const std::tm now = m_clock.localTime();

    const WatchdogSettings& s = m_settings.settings();
    char remark[400];
    const bool reset = s.TracingMode != 0 && m_stillTicks > m_releaseTicks;
    std::string resetPicture;
    if (reset) {
        if (!m_settings.evidenceDirectory().empty()) {
            ++m_conditionBitmapNumber;
            char name[32];
            std::snprintf(name, sizeof name, "condition%03u.bmp", m_conditionBitmapNumber);
            const std::string path = joinPath(m_settings.evidenceDirectory(), name);
            // The count is 0 by now, so the picture of the moment is FrameB.
            WriteEvidenceBitmap(path, FrameSlot::B);
            resetPicture = path;
            if (onEvidenceWritten)
                onEvidenceWritten();
            std::snprintf(remark, sizeof remark,
                          " Reset at %02d:%02d:%02d, Condition is still existing, please refer to %s",
                          now.tm_hour, now.tm_min, now.tm_sec, path.c_str());
        } else {
            // No evidence directory: no picture was kept to refer to.
            std::snprintf(remark, sizeof remark, " Reset at %02d:%02d:%02d, Condition is still existing",
                          now.tm_hour, now.tm_min, now.tm_sec);
        }
    } else {
        std::snprintf(remark, sizeof remark, " Release at %02d:%02d:%02d ", now.tm_hour, now.tm_min,
                      now.tm_sec);
    }
    EventEntry& entry = m_events[currentSlot()];
    // The whole remark is kept, bitmap path included: the history row has room for it.
    entry.Remark += remark;

    if (m_tracingBoxOpen) {
        if (m_services.sink)
            m_services.sink->closeTracingBox();
        m_tracingBoxOpen = false;
    }
    fillVideoRect(kKeyColour);
    if (s.StopRule == 1)
        StartWatching();
    else if (s.StopRule == 2) {
        ++m_stopCounter;
        if (m_stopCounter > static_cast<uint32_t>(limits::ConditionLimit.clamp(s.ConditionLimit))) {
            showError(kLimitReached);
            m_stopCounter = 0;
            m_settings.setMode(StandBy);
        } else {
            StartWatching();
        }
    }
    m_history.UpdateRecord(entry.GroupName, entry.Description, entry);
    tell(reset ? EngineEvent::Kind::Reset : EngineEvent::Kind::Release, entry, resetPicture);
    waitOnEngineThread(std::chrono::milliseconds(500));
    // The end of a condition reaches the history window even from the tray.
    postNewRecord(true);
    postModeChanged();
}

} // namespace gardivo
