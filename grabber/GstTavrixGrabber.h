#pragma once
// GstTavrixGrabber: the "tavrixgrabber" element, an in-place video filter for BGR frames that
// hands every frame to the application (see ITavrixGrabber.h for the contract). This file holds
// the GObject side in GStreamer's own idiom; the frame logic lives in CTavrixGrabber.
//
// Properties: "control" (read-only pointer to ITavrixGrabber, valid while the element exists),
// "snapshot-timeout" (milliseconds TakeSnapshot waits for a frame, default 2000).

#include <gst/base/gstbasetransform.h>

G_BEGIN_DECLS

#define GST_TYPE_TAVRIX_GRABBER (gst_tavrix_grabber_get_type())
#define GST_TAVRIX_GRABBER(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_TAVRIX_GRABBER, GstTavrixGrabber))

class CTavrixGrabber;

struct GstTavrixGrabber {
    GstBaseTransform parent;
    CTavrixGrabber* impl;
    guint snapshot_timeout_ms; // under GST_OBJECT_LOCK
};

struct GstTavrixGrabberClass {
    GstBaseTransformClass parent_class;
};

GType gst_tavrix_grabber_get_type(void);

G_END_DECLS
