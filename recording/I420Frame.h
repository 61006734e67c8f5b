#pragma once
// I420 frames, the form in which the pre-event buffer keeps a camera's frames: half the bytes of
// BGR, and what the H.264, WMV and most AVI encoders take, so a buffered frame goes to the encoder
// without another conversion. The layout is GStreamer's for "video/x-raw,format=I420" (planes Y, U,
// V; rows padded to 4 bytes; chroma of odd sizes rounded up), so that a buffered frame fills the
// recording pipeline's buffer as it is.
//
// The conversion from the camera's BGR frames uses the BT.601 matrix at studio range (Y 16..235,
// chroma 16..240), as FFmpeg's and GStreamer's converters do for standard-definition pictures;
// each chroma sample is taken from the mean of its 2x2 block of pixels (the last column or row of
// an odd size is repeated). The fast form (SSSE3, chosen at run time where the processor has it)
// gives exactly the bytes of the plain reference.
//
// Pure functions: any thread.

#include <cstddef>
#include <cstdint>

struct CI420Layout {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride[3] = {}; // bytes a row of Y, U and V
    size_t offset[3] = {};  // where each plane starts
    size_t size = 0;        // bytes of the whole frame

    // The layout GStreamer gives I420 of this size (an empty layout for a size below 1x1).
    static CI420Layout For(int32_t width, int32_t height);
};

namespace i420 {

// Whether the fast conversion runs on this processor.
bool FastConversionSupported();
// Makes BgrToI420 use the fast conversion (when supported) or the reference; for tests and
// benchmarks. The fast one is used by default where supported.
void UseFastConversion(bool fast);

// Converts a BGR frame (top-down, bgrStride bytes a row, layout.width x layout.height pixels)
// into out, which holds layout.size bytes. Padding bytes of the rows are left as they were.
void BgrToI420(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout, uint8_t* out);
void BgrToI420Reference(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout, uint8_t* out);

// The other way, for the few places that need BGR of a YUV frame (pictures for the web and desktop
// listeners): planes Y, U, V with their strides, BT.601 at studio range (or full range, as JPEG
// decoders give it), chroma of each 2x2 block shared by its pixels. out holds height rows of
// outStride bytes (at least width · 3).
void I420ToBgr(const uint8_t* const planes[3], const int32_t strides[3], int32_t width, int32_t height,
               bool fullRange, uint8_t* out, int32_t outStride);

} // namespace i420
