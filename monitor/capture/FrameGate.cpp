#include "FrameGate.h"

namespace gardivo {

void FrameGate::looked(std::chrono::steady_clock::time_point now) {
    const int64_t t = ns(now);
    const int64_t last = m_lastLook_ns.exchange(t);
    const int64_t pace = last > 0 ? t - last : 0;
    const bool known = pace > 0 && pace <= std::chrono::nanoseconds(kLongestPace).count();
    m_pace_ns = known ? pace : 0;
    m_opensAt_ns = known ? t + pace - std::chrono::nanoseconds(kLead).count() : 0;
}

bool FrameGate::pass(std::chrono::steady_clock::time_point now) {
    const int64_t t = ns(now);
    const int64_t pace = m_pace_ns;
    const int64_t opensAt = m_opensAt_ns;
    constexpr int64_t kSecond = 1000000000;
    // Open for everything, no pace known yet, the window before the next look (until the look
    // is a whole pace late), or a second since the last picture passed.
    const bool passes =
        m_open || pace == 0 || (t >= opensAt && t < opensAt + 2 * pace) || t - m_lastPassed_ns >= kSecond;
    if (passes)
        m_lastPassed_ns = t;
    return passes;
}

GstPadProbeReturn FrameGate::probe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if (!(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER))
        return GST_PAD_PROBE_OK;
    return static_cast<FrameGate*>(data)->pass() ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

} // namespace gardivo
