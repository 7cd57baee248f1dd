#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS
#define GST_TYPE_GARDIVO_TEST_SRC (gst_gardivo_test_src_get_type())
G_DECLARE_FINAL_TYPE(GstGardivoTestSrc, gst_gardivo_test_src, GST, GARDIVO_TEST_SRC, GstPushSrc)
GST_ELEMENT_REGISTER_DECLARE(gardivotestsrc);
G_END_DECLS
