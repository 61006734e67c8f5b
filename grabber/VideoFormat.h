#pragma once
// The format of the frames that pass between the application and its two GStreamer elements:
// what the grabber reports for its negotiated input (ITavrixGrabber::GetInputMediaType) and what
// the source element produces. Frames are 24-bit BGR (3 bytes a pixel: blue, green, red), rows
// top-down, each row padded to a multiple of 4 bytes as GStreamer lays out BGR; or, from the
// grabber of a camera whose source decodes to YUV, I420 (planes Y, U, V at the offsets and strides
// given, GStreamer's layout).
// Header-only: shared by the plugins and the application.

#include "platform/HResult.h"

#include <cstdint>
#include <cstring>

// Bytes per row of a BGR frame of the given width: width * 3 rounded up to a multiple of 4.
constexpr int32_t BgrRowStride(int32_t width) {
    return (width * 3 + 3) & ~3;
}

struct CVideoFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;                    // bytes from one row to the next
    int32_t frameSize = 0;                 // bytes of one frame (stride * height)
    REFERENCE_TIME frameDuration100ns = 0; // average time per frame; 0 when the rate is variable
    char formatName[16] = {};              // GStreamer's format name, "BGR" or "I420"
    // I420 only: where each plane starts and its bytes a row (plane 0's stride is `stride`), and
    // whether luma spans 0..255 (JPEG) rather than the studio range 16..235.
    int32_t planeOffset[3] = {};
    int32_t planeStride[3] = {};
    bool fullRange = false;

    bool IsI420() const { return std::strcmp(formatName, "I420") == 0; }

    void SetFormatName(const char* name) {
        std::strncpy(formatName, name ? name : "", sizeof formatName - 1);
        formatName[sizeof formatName - 1] = '\0';
    }
};
