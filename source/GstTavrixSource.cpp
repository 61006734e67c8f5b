// The "tavrixsource" element and its plugin (libgsttavrixsource.so).

#include "source/GstTavrixSource.h"

#include "source/TavrixSource.h"

#include <gst/video/video.h>

GST_DEBUG_CATEGORY(tavrix_source_debug);
#define GST_CAT_DEFAULT tavrix_source_debug

namespace {

enum { PROP_0, PROP_CONTROL };

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGR, I420 }")));

CTavrixSource* Impl(gpointer element) {
    return GST_TAVRIX_SOURCE(element)->impl;
}

} // namespace

G_DEFINE_TYPE(GstTavrixSource, gst_tavrix_source, GST_TYPE_PUSH_SRC)

static void gst_tavrix_source_get_property(GObject* object, guint prop_id, GValue* value, GParamSpec* pspec) {
    switch (prop_id) {
    case PROP_CONTROL:
        g_value_set_pointer(value, static_cast<ITavrixSource*>(Impl(object)));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_tavrix_source_finalize(GObject* object) {
    GstTavrixSource* self = GST_TAVRIX_SOURCE(object);
    delete self->impl;
    self->impl = nullptr;
    G_OBJECT_CLASS(gst_tavrix_source_parent_class)->finalize(object);
}

static GstCaps* gst_tavrix_source_get_caps(GstBaseSrc* src, GstCaps* filter) {
    return Impl(src)->GetCaps(filter);
}

static gboolean gst_tavrix_source_set_caps(GstBaseSrc* src, GstCaps* caps) {
    return Impl(src)->SetCaps(caps) ? TRUE : FALSE;
}

static gboolean gst_tavrix_source_decide_allocation(GstBaseSrc* src, GstQuery* query) {
    if (!Impl(src)->DecideAllocation(query)) {
        return FALSE;
    }
    return GST_BASE_SRC_CLASS(gst_tavrix_source_parent_class)->decide_allocation(src, query);
}

static gboolean gst_tavrix_source_start(GstBaseSrc* src) {
    return Impl(src)->Start() ? TRUE : FALSE;
}

static gboolean gst_tavrix_source_stop(GstBaseSrc* src) {
    Impl(src)->Stop();
    return TRUE;
}

static gboolean gst_tavrix_source_unlock(GstBaseSrc* src) {
    Impl(src)->Unlock();
    return TRUE;
}

static gboolean gst_tavrix_source_unlock_stop(GstBaseSrc* src) {
    Impl(src)->UnlockStop();
    return TRUE;
}

static gboolean gst_tavrix_source_is_seekable(GstBaseSrc* /*src*/) {
    return FALSE;
}

static GstFlowReturn gst_tavrix_source_create(GstPushSrc* src, GstBuffer** buffer) {
    return Impl(src)->Create(buffer);
}

static void gst_tavrix_source_class_init(GstTavrixSourceClass* klass) {
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* basesrc_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* pushsrc_class = GST_PUSH_SRC_CLASS(klass);

    gobject_class->get_property = gst_tavrix_source_get_property;
    gobject_class->finalize = gst_tavrix_source_finalize;
    g_object_class_install_property(
        gobject_class, PROP_CONTROL,
        g_param_spec_pointer("control", "Control interface",
                             "ITavrixSource* of this element, valid while the element exists",
                             static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(element_class, "TavrixSource", "Source/Video",
                                          "Produces BGR or I420 video frames pulled from the application",
                                          "Tavrix developers");
    gst_element_class_add_static_pad_template(element_class, &src_template);

    basesrc_class->get_caps = GST_DEBUG_FUNCPTR(gst_tavrix_source_get_caps);
    basesrc_class->set_caps = GST_DEBUG_FUNCPTR(gst_tavrix_source_set_caps);
    basesrc_class->decide_allocation = GST_DEBUG_FUNCPTR(gst_tavrix_source_decide_allocation);
    basesrc_class->start = GST_DEBUG_FUNCPTR(gst_tavrix_source_start);
    basesrc_class->stop = GST_DEBUG_FUNCPTR(gst_tavrix_source_stop);
    basesrc_class->unlock = GST_DEBUG_FUNCPTR(gst_tavrix_source_unlock);
    basesrc_class->unlock_stop = GST_DEBUG_FUNCPTR(gst_tavrix_source_unlock_stop);
    basesrc_class->is_seekable = GST_DEBUG_FUNCPTR(gst_tavrix_source_is_seekable);
    pushsrc_class->create = GST_DEBUG_FUNCPTR(gst_tavrix_source_create);
}

static void gst_tavrix_source_init(GstTavrixSource* self) {
    self->impl = new CTavrixSource(GST_BASE_SRC(self));
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
    gst_base_src_set_live(GST_BASE_SRC(self), FALSE);
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(tavrix_source_debug, "tavrixsource", 0, "Tavrix recording source");
    return gst_element_register(plugin, "tavrixsource", GST_RANK_NONE, GST_TYPE_TAVRIX_SOURCE);
}

#define PACKAGE "tavrix"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tavrixsource, "Tavrix recording source", plugin_init,
                  TAVRIX_PLUGIN_VERSION, "Proprietary", "Tavrix", "https://tavrix.invalid/")
