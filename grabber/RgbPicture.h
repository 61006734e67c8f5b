#pragma once
// A plain top-down 24-bit picture: 3 bytes a pixel in the order blue, green, red (the byte order
// of frames), rows from the top of the picture down, `stride` bytes apart. The grabber's snapshots
// are delivered as one; the area mask page paints on it and the GUI converts it to a QImage.
// Header-only: shared by the grabber plugin and the application.

#include <cstddef>
#include <cstdint>
#include <vector>

struct CRgbPicture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;         // bytes per row, at least width * 3
    std::vector<uint8_t> bytes; // stride * height bytes

    bool IsEmpty() const { return width <= 0 || height <= 0 || bytes.empty(); }
    const uint8_t* Row(int32_t y) const { return bytes.data() + static_cast<size_t>(y) * stride; }
    uint8_t* Row(int32_t y) { return bytes.data() + static_cast<size_t>(y) * stride; }
};
