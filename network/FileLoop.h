#pragma once
// A video file played as a camera in a loop: at the end of the decoded stream on pad, the file is
// sought back to its start (from a thread of the owner element, not the streaming thread), and
// what follows is moved on by the time played so far, so that everything downstream sees one
// endless stream: no end-of-stream, no flush, one open segment.
//
// Called once per pad, on the streaming thread that exposes it; the probe lives as long as the pad.

#include <gst/gst.h>

// owner: the source bin holding pad, which outlives the probe.
void LoopAtEnd(GstPad* pad, GstElement* owner);
