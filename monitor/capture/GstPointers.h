#pragma once

// Owning pointers for GStreamer objects, so that every reference the capture side takes is
// given back on every path.

#include <gst/gst.h>

#include <memory>
#include <utility>

namespace gardivo {

struct GstObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            gst_object_unref(object);
    }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct GstSampleUnref {
    void operator()(GstSample* sample) const {
        if (sample)
            gst_sample_unref(sample);
    }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const {
        if (message)
            gst_message_unref(message);
    }
};

template <typename T>
using GstRef = std::unique_ptr<T, GstObjectUnref>;
using CapsRef = std::unique_ptr<GstCaps, GstCapsUnref>;
using SampleRef = std::unique_ptr<GstSample, GstSampleUnref>;
using MessageRef = std::unique_ptr<GstMessage, GstMessageUnref>;

// An element of the factory, or null when the factory is not installed.
inline GstElement* makeElement(const char* factory, const char* name = nullptr) {
    return gst_element_factory_make(factory, name);
}

} // namespace gardivo
