#pragma once

// The last seconds of encoded pictures while the detector watches, so that an alarm's clip can
// begin before the alarm. TRV2 pictures stand alone, so the clip may begin at any of them. The
// ring's own encoder feeds it from GStreamer's streaming thread; when a clip starts, what the ring
// holds goes first into the clip's source, with the pictures' own times, and then every new
// picture, until the clip is taken off again.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstdint>
#include <deque>
#include <mutex>

namespace gardivo {

class PrerecordRing {
public:
    // However long the span, the ring holds no more than this.
    static constexpr uint64_t kMaxBytes = 64ull << 20;

    PrerecordRing() = default;
    ~PrerecordRing();
    PrerecordRing(const PrerecordRing&) = delete;
    PrerecordRing& operator=(const PrerecordRing&) = delete;

    // How far back the ring reaches.
    void setSpan(GstClockTime span);
    // A new encoded picture (any thread). Pictures of another format than those held replace them.
    void push(GstSample* sample);
    // The clip's source takes what is held, then each new picture. Returns the pictures it was
    // given at once; the ring is empty afterwards.
    size_t attach(GstAppSrc* source);
    // The clip's source takes nothing more.
    void detach();
    void clear();

    size_t frames() const;
    uint64_t bytes() const;
    // The time from the oldest picture held to the newest.
    GstClockTime heldSpan() const;

private:
    void dropOldest();
    void trim();

    mutable std::mutex m_mutex;
    std::deque<GstBuffer*> m_buffers;
    GstCaps* m_caps = nullptr;
    GstAppSrc* m_target = nullptr;
    uint64_t m_bytes = 0;
    GstClockTime m_span = 0;
};

} // namespace gardivo
