#include "Headless.h"

#include "monitor/messages/WindowMessages.h"

namespace gardivo {

std::tm VirtualClock::localTime() {
    const std::time_t now = m_start + static_cast<std::time_t>(m_elapsed.count() / 1000);
    std::tm t{};
    ::localtime_r(&now, &t);
    return t;
}

bool VirtualTimers::setTimer(int id, int period_ms) {
    if (m_fail || period_ms <= 0)
        return false;
    m_timers[id] = {period_ms, m_clock.elapsed() + std::chrono::milliseconds(period_ms)};
    return true;
}

int VirtualTimers::period(int id) const {
    const auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second.period_ms;
}

int VirtualTimers::runFor(DetectionEngine& engine, std::chrono::milliseconds duration) {
    const auto end = m_clock.elapsed() + duration;
    int ticks = 0;
    while (!m_timers.empty()) {
        auto next = m_timers.begin();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (it->second.due < next->second.due)
                next = it;
        if (next->second.due > end)
            break;
        if (next->second.due > m_clock.elapsed())
            m_clock.advance(next->second.due - m_clock.elapsed());
        const int id = next->first;
        next->second.due += std::chrono::milliseconds(next->second.period_ms);
        engine.OnTimer(id);
        ++ticks;
    }
    if (m_clock.elapsed() < end)
        m_clock.advance(end - m_clock.elapsed());
    return ticks;
}

const char* messageName(uint32_t message) {
    switch (message) {
    case WM_APP_REPORT:
        return "WM_APP_REPORT";
    case WM_APP_REGION_DONE:
        return "WM_APP_REGION_DONE";
    case WM_APP_NEW_RECORD:
        return "WM_APP_NEW_RECORD";
    case WM_APP_PRUNE_HISTORY:
        return "WM_APP_PRUNE_HISTORY";
    case WM_APP_MODE_CHANGED:
        return "WM_APP_MODE_CHANGED";
    case WM_APP_CAPTURE_BUSY:
        return "WM_APP_CAPTURE_BUSY";
    case WM_APP_CAPTURE_IDLE:
        return "WM_APP_CAPTURE_IDLE";
    case WM_APP_SELECT_DEVICE:
        return "WM_APP_SELECT_DEVICE";
    default:
        return "message";
    }
}

void RecordingMessageSink::postMessage(const std::string& window, uint32_t message, intptr_t wParam,
                                       intptr_t lParam) {
    std::string line = window + " " + messageName(message);
    if (wParam || lParam)
        line += " " + std::to_string(wParam) + " " + std::to_string(lParam);
    log.push_back(line);
}

std::vector<std::string> RecordingMessageSink::messages(const std::string& name) const {
    std::vector<std::string> found;
    for (const auto& line : log)
        if (line.find(name) != std::string::npos)
            found.push_back(line);
    return found;
}

} // namespace gardivo
