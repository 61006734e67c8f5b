#pragma once
// GstTavrixSource: the "tavrixsource" element, a push source that produces BGR frames pulled from
// the application (see ITavrixSource.h for the contract). This file holds the GObject side in
// GStreamer's own idiom; the frame logic lives in CTavrixSource.
//
// Property: "control" (read-only pointer to ITavrixSource, valid while the element exists).

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_TAVRIX_SOURCE (gst_tavrix_source_get_type())
#define GST_TAVRIX_SOURCE(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_TAVRIX_SOURCE, GstTavrixSource))

class CTavrixSource;

struct GstTavrixSource {
    GstPushSrc parent;
    CTavrixSource* impl;
};

struct GstTavrixSourceClass {
    GstPushSrcClass parent_class;
};

GType gst_tavrix_source_get_type(void);

G_END_DECLS
