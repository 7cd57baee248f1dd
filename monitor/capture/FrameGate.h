#pragma once

// Which pictures are worth decoding and converting. Without a screen and without a clip, the
// detector is the only one who looks at a picture, and it looks at one each time its timer
// fires (twice a second by default) while a camera sends 25 or 30. The gate lets through the
// pictures that come just before the detector is expected to look again, and one a second
// besides (so that a source's silence is still noticed), and holds back the rest: compressed
// JPEG pictures before their decoder, decoded ones before the grabber scales and converts them.
// Everything passes while a clip is written or the picture is on screen.
//
// The detector's pace is learnt from the time between its looks, so the gate follows whatever
// interval the settings give and the slower or faster pace of tracing.

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace gardivo {

class FrameGate {
public:
    // How long before the expected look the gate opens: a picture or two of a 25 or 30 a second
    // camera, so that the one looked at is at most a picture old.
    static constexpr std::chrono::milliseconds kLead{90};
    // Looks further apart than this are no pace (a detector that stopped and started again).
    static constexpr std::chrono::milliseconds kLongestPace{5000};

    // Everything passes (a clip, a screen); or only what the detector needs.
    void setOpen(bool open) { m_open = open; }
    bool isOpen() const { return m_open; }

    // The detector looked at a picture now.
    void looked(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    // Whether a picture arriving now passes; a passed picture counts for the one a second.
    bool pass(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    // A pad probe holding back what does not pass; data is the gate.
    static GstPadProbeReturn probe(GstPad* pad, GstPadProbeInfo* info, gpointer data);

private:
    static int64_t ns(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    }

    std::atomic<bool> m_open{true};
    std::atomic<int64_t> m_lastLook_ns{0};
    std::atomic<int64_t> m_pace_ns{0};    // time between the last two looks; 0 while unknown
    std::atomic<int64_t> m_opensAt_ns{0}; // the next look's window
    std::atomic<int64_t> m_lastPassed_ns{0};
};

} // namespace gardivo
