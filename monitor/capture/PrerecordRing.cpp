#include "PrerecordRing.h"

namespace gardivo {

namespace {

// Pictures without a time are kept by number instead, at the most common camera rate.
constexpr uint64_t kUntimedRate = 30;

} // namespace

PrerecordRing::~PrerecordRing() {
    clear();
    if (m_caps)
        gst_caps_unref(m_caps);
}

void PrerecordRing::setSpan(GstClockTime span) {
    std::lock_guard lock(m_mutex);
    m_span = span;
    trim();
}

void PrerecordRing::dropOldest() {
    m_bytes -= gst_buffer_get_size(m_buffers.front());
    gst_buffer_unref(m_buffers.front());
    m_buffers.pop_front();
}

void PrerecordRing::trim() {
    if (m_span == 0) {
        while (!m_buffers.empty())
            dropOldest();
        return;
    }
    const uint64_t untimedLimit = m_span * kUntimedRate / GST_SECOND + 1;
    while (!m_buffers.empty()) {
        const GstClockTime oldest = GST_BUFFER_PTS(m_buffers.front());
        const GstClockTime newest = GST_BUFFER_PTS(m_buffers.back());
        const bool timed = GST_CLOCK_TIME_IS_VALID(oldest) && GST_CLOCK_TIME_IS_VALID(newest);
        const bool tooOld =
            timed ? newest > oldest && newest - oldest > m_span : m_buffers.size() > untimedLimit;
        if (!tooOld && m_bytes <= kMaxBytes)
            break;
        dropOldest();
    }
}

void PrerecordRing::push(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps)
        return;
    std::lock_guard lock(m_mutex);
    if (!m_caps || !gst_caps_is_equal(m_caps, caps)) {
        // Another size or quality: the pictures held cannot go into the same clip.
        while (!m_buffers.empty())
            dropOldest();
        gst_caps_replace(&m_caps, caps);
        if (m_target)
            gst_app_src_set_caps(m_target, caps);
    }
    if (m_target) {
        gst_app_src_push_buffer(m_target, gst_buffer_ref(buffer));
        return;
    }
    if (m_span == 0)
        return;
    m_buffers.push_back(gst_buffer_ref(buffer));
    m_bytes += gst_buffer_get_size(buffer);
    trim();
}

size_t PrerecordRing::attach(GstAppSrc* source) {
    std::lock_guard lock(m_mutex);
    if (m_caps)
        gst_app_src_set_caps(source, m_caps);
    const size_t given = m_buffers.size();
    for (GstBuffer* buffer : m_buffers)
        gst_app_src_push_buffer(source, buffer); // takes the ring's reference
    m_buffers.clear();
    m_bytes = 0;
    m_target = source;
    return given;
}

void PrerecordRing::detach() {
    std::lock_guard lock(m_mutex);
    m_target = nullptr;
}

void PrerecordRing::clear() {
    std::lock_guard lock(m_mutex);
    while (!m_buffers.empty())
        dropOldest();
}

size_t PrerecordRing::frames() const {
    std::lock_guard lock(m_mutex);
    return m_buffers.size();
}

uint64_t PrerecordRing::bytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

GstClockTime PrerecordRing::heldSpan() const {
    std::lock_guard lock(m_mutex);
    if (m_buffers.size() < 2)
        return 0;
    const GstClockTime oldest = GST_BUFFER_PTS(m_buffers.front());
    const GstClockTime newest = GST_BUFFER_PTS(m_buffers.back());
    return GST_CLOCK_TIME_IS_VALID(oldest) && GST_CLOCK_TIME_IS_VALID(newest) && newest > oldest
               ? newest - oldest
               : 0;
}

} // namespace gardivo
