#pragma once
// A plain monochrome bitmap, one bit a pixel: the form in which the area mask is edited. The rows
// lie top row first, each rowBytes bytes long (at least (width + 7) / 8); within a byte the most
// significant bit is the leftmost pixel. A set bit (white) marks an inactive pixel, a clear bit
// (black) an active one. The mask editor of the desktop shell converts it to and from its own
// picture type; CBinaryImage::ToBitmap and FromBitmap convert it to and from the mask image.

#include <cstddef>
#include <cstdint>
#include <vector>

struct CMonoBitmap {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    std::vector<uint8_t> bits; // rowBytes × height bytes, top row first

    bool IsEmpty() const { return width <= 0 || height <= 0; }

    // True for a readable bitmap: positive size, rows wide enough for the width and enough bytes.
    bool IsValid() const {
        return width > 0 && height > 0 && rowBytes >= (static_cast<int64_t>(width) + 7) / 8 &&
               bits.size() >= static_cast<size_t>(rowBytes) * static_cast<size_t>(height);
    }
    // Single pixels of a valid bitmap; x and y must lie inside it.
    bool GetPixel(int32_t x, int32_t y) const {
        return (bits[static_cast<size_t>(y) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x / 8)] >>
                (7 - x % 8)) &
               1;
    }
    void SetPixel(int32_t x, int32_t y, bool white) {
        uint8_t& byte =
            bits[static_cast<size_t>(y) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x / 8)];
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x % 8));
        byte = white ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
    }
};
