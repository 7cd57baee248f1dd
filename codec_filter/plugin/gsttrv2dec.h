#pragma once

#include <gst/base/gstbasetransform.h>

G_BEGIN_DECLS
#define GST_TYPE_TRV2_DEC (gst_trv2_dec_get_type())
G_DECLARE_FINAL_TYPE(GstTrv2Dec, gst_trv2_dec, GST, TRV2_DEC, GstBaseTransform)
GST_ELEMENT_REGISTER_DECLARE(trv2dec);
G_END_DECLS
