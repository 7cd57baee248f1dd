#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS
#define GST_TYPE_TRV2_AVI_SINK (gst_trv2_avi_sink_get_type())
G_DECLARE_FINAL_TYPE(GstTrv2AviSink, gst_trv2_avi_sink, GST, TRV2_AVI_SINK, GstElement)
GST_ELEMENT_REGISTER_DECLARE(trv2avisink);
G_END_DECLS
