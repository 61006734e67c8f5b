#pragma once
// Thumbnails of recordings: a frame is shrunk into a small RGB picture at once (cheap enough for a
// camera's streaming thread: a few thousand pixels sampled, no allocation beyond the picture) and
// encoded as a small JPEG later, on a worker thread.
//
// Plain functions and values: any thread.

#include <cstdint>
#include <vector>

struct CSmallPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // 3 bytes a pixel, top row first, no padding
    bool empty() const { return rgb.empty(); }
};

namespace Thumbnail {

constexpr int32_t kMaxWidth = 160;
constexpr int32_t kMaxHeight = 120;
constexpr int kJpegQuality = 80;

// Shrinks a BGR frame (top row first) into at most kMaxWidth x kMaxHeight, keeping its shape, by
// averaging 2 x 2 samples of each target pixel's area. Reuses out's buffer.
void Shrink(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, CSmallPicture& out);
// A baseline JPEG of the picture; empty on failure.
std::vector<uint8_t> EncodeJpeg(const CSmallPicture& picture, int quality = kJpegQuality);

} // namespace Thumbnail
