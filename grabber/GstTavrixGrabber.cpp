// The "tavrixgrabber" element and its plugin (libgsttavrixgrabber.so).

#include "grabber/GstTavrixGrabber.h"

#include "grabber/TavrixGrabber.h"

#include <gst/video/video.h>

GST_DEBUG_CATEGORY(tavrix_grabber_debug);
#define GST_CAT_DEFAULT tavrix_grabber_debug

namespace {

constexpr guint kDefaultSnapshotTimeoutMs = 2000;

enum { PROP_0, PROP_CONTROL, PROP_SNAPSHOT_TIMEOUT };

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                             GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGR, I420 }")));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGR, I420 }")));

} // namespace

G_DEFINE_TYPE(GstTavrixGrabber, gst_tavrix_grabber, GST_TYPE_BASE_TRANSFORM)

static guint gst_tavrix_grabber_snapshot_timeout(GstTavrixGrabber* self) {
    GST_OBJECT_LOCK(self);
    const guint timeoutMs = self->snapshot_timeout_ms;
    GST_OBJECT_UNLOCK(self);
    return timeoutMs;
}

static void gst_tavrix_grabber_set_property(GObject* object, guint prop_id, const GValue* value,
                                            GParamSpec* pspec) {
    GstTavrixGrabber* self = GST_TAVRIX_GRABBER(object);
    switch (prop_id) {
    case PROP_SNAPSHOT_TIMEOUT:
        GST_OBJECT_LOCK(self);
        self->snapshot_timeout_ms = g_value_get_uint(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_tavrix_grabber_get_property(GObject* object, guint prop_id, GValue* value,
                                            GParamSpec* pspec) {
    GstTavrixGrabber* self = GST_TAVRIX_GRABBER(object);
    switch (prop_id) {
    case PROP_CONTROL:
        g_value_set_pointer(value, static_cast<ITavrixGrabber*>(self->impl));
        break;
    case PROP_SNAPSHOT_TIMEOUT:
        g_value_set_uint(value, gst_tavrix_grabber_snapshot_timeout(self));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_tavrix_grabber_finalize(GObject* object) {
    GstTavrixGrabber* self = GST_TAVRIX_GRABBER(object);
    delete self->impl;
    self->impl = nullptr;
    G_OBJECT_CLASS(gst_tavrix_grabber_parent_class)->finalize(object);
}

static gboolean gst_tavrix_grabber_set_caps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* /*outcaps*/) {
    return GST_TAVRIX_GRABBER(trans)->impl->SetCaps(incaps) ? TRUE : FALSE;
}

static gboolean gst_tavrix_grabber_stop(GstBaseTransform* trans) {
    GST_TAVRIX_GRABBER(trans)->impl->Stop();
    return TRUE;
}

// Frames need to be writable only for a callback; otherwise the element runs in passthrough and
// never copies a frame that is shared with another branch.
static void gst_tavrix_grabber_before_transform(GstBaseTransform* trans, GstBuffer* /*buffer*/) {
    const bool writable = GST_TAVRIX_GRABBER(trans)->impl->WantsWritableFrames();
    if (gst_base_transform_is_passthrough(trans) == (writable ? TRUE : FALSE)) {
        gst_base_transform_set_passthrough(trans, writable ? FALSE : TRUE);
    }
}

static GstFlowReturn gst_tavrix_grabber_transform_ip(GstBaseTransform* trans, GstBuffer* buffer) {
    const bool writable = !gst_base_transform_is_passthrough(trans);
    return GST_TAVRIX_GRABBER(trans)->impl->ProcessFrame(buffer, writable);
}

static void gst_tavrix_grabber_class_init(GstTavrixGrabberClass* klass) {
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);

    gobject_class->set_property = gst_tavrix_grabber_set_property;
    gobject_class->get_property = gst_tavrix_grabber_get_property;
    gobject_class->finalize = gst_tavrix_grabber_finalize;

    g_object_class_install_property(
        gobject_class, PROP_CONTROL,
        g_param_spec_pointer("control", "Control interface",
                             "ITavrixGrabber* of this element, valid while the element exists",
                             static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject_class, PROP_SNAPSHOT_TIMEOUT,
        g_param_spec_uint("snapshot-timeout", "Snapshot time-out",
                          "Milliseconds TakeSnapshot waits for a frame", 0, G_MAXUINT,
                          kDefaultSnapshotTimeoutMs,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(element_class, "Tavrix Grabber", "Filter/Video",
                                          "Hands every BGR or I420 video frame to the application in place",
                                          "Tavrix developers");
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    trans_class->passthrough_on_same_caps = FALSE;
    trans_class->transform_ip_on_passthrough = TRUE;
    trans_class->set_caps = GST_DEBUG_FUNCPTR(gst_tavrix_grabber_set_caps);
    trans_class->stop = GST_DEBUG_FUNCPTR(gst_tavrix_grabber_stop);
    trans_class->before_transform = GST_DEBUG_FUNCPTR(gst_tavrix_grabber_before_transform);
    trans_class->transform_ip = GST_DEBUG_FUNCPTR(gst_tavrix_grabber_transform_ip);
}

static void gst_tavrix_grabber_init(GstTavrixGrabber* self) {
    self->snapshot_timeout_ms = kDefaultSnapshotTimeoutMs;
    self->impl = new CTavrixGrabber(GST_BASE_TRANSFORM(self),
                                    [self] { return gst_tavrix_grabber_snapshot_timeout(self); });
    // No callback yet: frames pass through untouched.
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(tavrix_grabber_debug, "tavrixgrabber", 0, "Tavrix frame grabber");
    return gst_element_register(plugin, "tavrixgrabber", GST_RANK_NONE, GST_TYPE_TAVRIX_GRABBER);
}

#define PACKAGE "tavrix"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tavrixgrabber, "Tavrix frame grabber", plugin_init,
                  TAVRIX_PLUGIN_VERSION, "Proprietary", "Tavrix", "https://tavrix.invalid/")
