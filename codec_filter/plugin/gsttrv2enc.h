#pragma once

#include <gst/base/gstbasetransform.h>

G_BEGIN_DECLS
#define GST_TYPE_TRV2_ENC (gst_trv2_enc_get_type())
G_DECLARE_FINAL_TYPE(GstTrv2Enc, gst_trv2_enc, GST, TRV2_ENC, GstBaseTransform)
GST_ELEMENT_REGISTER_DECLARE(trv2enc);
G_END_DECLS
