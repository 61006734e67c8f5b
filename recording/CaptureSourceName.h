#pragma once
// Display names of capture sources, as the device manager lists them and cameras store them
// (.VideoDeviceDN), parsed back into the source they name:
//
//   v4l2:<path>                       a V4L2 camera, e.g. v4l2:/dev/v4l/by-id/usb-...-video-index0
//   test:<pattern>                    a generated picture, one of videotestsrc's patterns
//                                     (test:smpte, test:ball, test:snow, ...)
//   test:<pattern>?format=FORMAT      the same in a webcam's own format (YUY2, I420 or NV12; BGR
//                                     the default), for the YUV frame path
//   test:motion                       a still picture
//   test:motion?on=START-END,...      a still picture with clear motion inside each window
//                                     [START, END) in milliseconds since the source started
//   test:motion?fail=MS               (also after the windows: ...?on=...&fail=MS) a source that
//                                     fails MS milliseconds after it started, as a camera that is
//                                     unplugged does: a read error from the source, then no frames
//   rtsp://, rtsps://, http://,       a network camera or a video file played as a camera
//   https://, file:                   (network/NetworkSourceName.h)
//
// Test sources deliver BGR frames of any size at 1 to 30 frames a second, the range a common
// webcam offers, so that a camera asking for more (the default ".FPS" of 1000) gets 30.
//
// Used by the device manager and by the camera's preview pipeline, from any thread after
// InitGStreamer.

#include "network/NetworkSource.h"
#include "network/NetworkSourceName.h"

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

struct CMotionWindow {
    int64_t startMs = 0; // inclusive
    int64_t endMs = 0;   // exclusive
    bool operator==(const CMotionWindow&) const = default;
};

struct CCaptureSourceName {
    enum class Kind { V4l2, TestPattern, TestMotion, Network };
    Kind kind = Kind::TestPattern;
    std::string devicePath;                   // V4l2: the device node or its /dev/v4l/by-id link
    std::string pattern;                      // TestPattern: videotestsrc's pattern nick
    std::string format = "BGR";               // TestPattern: the frames' format
    std::vector<CMotionWindow> motionWindows; // TestMotion: in the order written
    int64_t failAtMs = -1;                    // TestMotion: when the source fails; -1 never
    CNetworkSourceName network;               // Network: the camera's address or the file

    // Parses a display name; throws CDirectXEx (MK_E_SYNTAX) "Unable to parse device name of
    // capture device." for anything that is not one of the forms above.
    static CCaptureSourceName Parse(const std::string& displayName);
};

// The source element a display name names: v4l2src (offering the camera's own formats) for V4L2;
// for the test sources a live bin around videotestsrc that offers BGR video of any size at 1 to 30
// frames a second, whatever downstream asks for within that, as a camera offering a range would. A floating
// reference named `name` (empty: a generated name). Throws as Parse does, and CDirectXEx "Unable to bind to
// capture device via moniker." when the element cannot be made.
// Network names give the bin of CreateNetworkSource, scaled and rate-limited as settings say (by
// default at the camera's own size and rate).
GstElement* CreateCaptureSource(const std::string& displayName, const std::string& name = {},
                                const CNetworkSourceSettings& settings = {});
