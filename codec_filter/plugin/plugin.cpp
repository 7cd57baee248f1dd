// The trv2filter plugin: the TRV2 encoder, its decoder and the AVI writer.

#include "gsttrv2avisink.h"
#include "gsttrv2dec.h"
#include "gsttrv2enc.h"

#define PACKAGE "gardivo"
#define VERSION "1.00"

static gboolean plugin_init(GstPlugin* plugin) {
    gboolean ok = FALSE;
    ok |= GST_ELEMENT_REGISTER(trv2enc, plugin);
    ok |= GST_ELEMENT_REGISTER(trv2dec, plugin);
    ok |= GST_ELEMENT_REGISTER(trv2avisink, plugin);
    return ok;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, trv2filter, "Tavrin Video Compression Filter",
                  plugin_init, VERSION, "LGPL", "Gardivo", "https://gardivo.invalid/")
