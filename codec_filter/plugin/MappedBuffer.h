#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace gardivo {

// A buffer mapped for the life of this object.
class MappedBuffer {
public:
    MappedBuffer(GstBuffer* buffer, GstMapFlags flags) : m_buffer(buffer) {
        m_ok = gst_buffer_map(buffer, &m_map, flags);
    }
    ~MappedBuffer() {
        if (m_ok)
            gst_buffer_unmap(m_buffer, &m_map);
    }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    explicit operator bool() const { return m_ok; }
    uint8_t* data() const { return m_map.data; }
    gsize size() const { return m_map.size; }

private:
    GstBuffer* m_buffer;
    GstMapInfo m_map{};
    bool m_ok;
};

} // namespace gardivo
