#include "network/FileLoop.h"

#include <algorithm>

namespace {

// File loops: the stream is sought back to its start at its end, and what follows is moved on
// by the time played so far, so that downstream sees one endless stream.
struct CLoopState {
    GstPad* pad = nullptr;       // reference held
    GstElement* owner = nullptr; // the source bin, which outlives the probe
    bool seeking = false;
    bool haveSegment = false;
    GstClockTime offset = 0;
    GstClockTime end = 0;
    ~CLoopState() {
        if (pad != nullptr) {
            gst_object_unref(pad);
        }
    }
};

void SeekToStart(GstElement* /*element*/, gpointer userData) {
    auto* pad = static_cast<GstPad*>(userData);
    gst_pad_send_event(
        pad, gst_event_new_seek(1.0, GST_FORMAT_TIME,
                                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE));
}

GstPadProbeReturn LoopProbe(GstPad* pad, GstPadProbeInfo* info, gpointer userData) {
    auto* loop = static_cast<CLoopState*>(userData);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!GST_BUFFER_PTS_IS_VALID(buffer)) {
            return GST_PAD_PROBE_OK;
        }
        const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0;
        loop->end = std::max(loop->end, GST_BUFFER_PTS(buffer) + duration + loop->offset);
        if (loop->offset != 0) {
            buffer = gst_buffer_make_writable(buffer);
            GST_BUFFER_PTS(buffer) += loop->offset;
            if (GST_BUFFER_DTS_IS_VALID(buffer)) {
                GST_BUFFER_DTS(buffer) += loop->offset;
            }
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
        if (loop->end == 0) {
            return GST_PAD_PROBE_OK; // nothing played: looping would spin
        }
        loop->seeking = true;
        gst_element_call_async(loop->owner, SeekToStart, gst_object_ref(pad), gst_object_unref);
        return GST_PAD_PROBE_DROP;
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP:
        return loop->seeking ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
    case GST_EVENT_SEGMENT:
        if (!loop->haveSegment) {
            // The first segment stays, without its end: the rounds that follow lie beyond it.
            loop->haveSegment = true;
            const GstSegment* original = nullptr;
            gst_event_parse_segment(event, &original);
            GstSegment open = *original;
            open.stop = GST_CLOCK_TIME_NONE;
            open.duration = GST_CLOCK_TIME_NONE;
            GstEvent* replacement = gst_event_new_segment(&open);
            gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
            gst_event_unref(event);
            GST_PAD_PROBE_INFO_DATA(info) = replacement;
            return GST_PAD_PROBE_OK;
        }
        // Only the first segment after the seek starts a new round; the decoders repeat theirs.
        if (loop->seeking) {
            loop->seeking = false;
            loop->offset = loop->end;
        }
        return GST_PAD_PROBE_DROP;
    default:
        return GST_PAD_PROBE_OK;
    }
}

} // namespace

void LoopAtEnd(GstPad* pad, GstElement* owner) {
    auto* loop = new CLoopState;
    loop->pad = GST_PAD(gst_object_ref(pad));
    loop->owner = owner;
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      LoopProbe, loop, [](gpointer state) { delete static_cast<CLoopState*>(state); });
}
