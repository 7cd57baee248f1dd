#pragma once

// The bin that stands for one video source in the capture pipeline: whatever the source is (a
// camera's element, a URI, a pipeline line of "sources.txt"), the bin gives raw video at the pace
// of its timestamps on one static "src" pad.
//
// Most real sources only know what they carry once data flows: uridecodebin, decodebin,
// rtspsrc and the demuxers add their pads later. The bin links the first video pad that appears
// (through a decoder when it is still compressed) and leaves sound and everything else alone.
// When no video turns up, or the pictures are too small to watch, the bin posts an element
// message kNoVideoMessage with a "reason" string, so that the owner can tell the user.

#include "FrameGate.h"

#include <gst/gst.h>

#include <string>

namespace gardivo {

class SourceBin {
public:
    static constexpr const char* kNoVideoMessage = "gardivo-source-no-video";
    // Pictures smaller than this are refused: no block of the detector would fit.
    static constexpr int kMinSide = 16;

    // A line that is a URI rather than a pipeline.
    static bool isUri(const std::string& description);

    // The bin of a URI or a pipeline line; null, with the reason in error, when it cannot be
    // made (an element that is not installed, a line without an end, a pipeline that gives no
    // video or only pictures too small to watch).
    static GstElement* fromDescription(const std::string& description, std::string& error);

    // The bin of a camera's own element: raw pictures when the camera gives them, else its
    // compressed ones decoded. Takes the floating element.
    static GstElement* fromDevice(GstElement* device, std::string& error);

    // Puts the gate before every JPEG decoder of the bin, those there now and those a decodebin
    // makes later: a JPEG picture stands alone, so one that is not needed need not be decoded.
    static void gateJpegDecoders(GstElement* bin, FrameGate* gate);
};

} // namespace gardivo
