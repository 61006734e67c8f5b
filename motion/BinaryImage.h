#pragma once
// A one-bit-per-pixel image: the changed pixels of a frame (the motion detector's result, which the
// camera view may paint red into the frame) or the area mask (a set bit is an inactive pixel).
// Pixels are packed into unsigned 32-bit words, the leftmost pixel in the most significant bit;
// every row starts on a word of its own and has GetWordsPerRow() = ceil(width / 32) words. The
// bits past the width in a row's last word are kept 0 by every operation that writes the image.
// Rows keep the frame's own row order.
//
// No lock: used by one thread at a time (see CImageBase).

#include "motion/ImageBase.h"
#include "motion/YuvPlanes.h"
#include "motion/MonoBitmap.h"

#include <cstdint>

class CGrayScaleImage;

class CBinaryImage : public CImageBase {
public:
    CBinaryImage() = default;
    CBinaryImage(const CBinaryImage& other);
    CBinaryImage(CBinaryImage&& other) noexcept;
    // Copies size and bits; an empty source empties this image.
    CBinaryImage& operator=(const CBinaryImage& other);
    CBinaryImage& operator=(CBinaryImage&& other) noexcept;
    ~CBinaryImage() override = default;

    void Create(int32_t width, int32_t height) override;
    void Free() override;
    void* GetData() override { return Buffer(); }
    const void* GetData() const override { return Buffer(); }
    size_t GetSize() const override { return GetRowBytes() * static_cast<size_t>(m_height); }
    bool IsEmpty() const override { return Buffer() == nullptr; }

    int32_t GetWordsPerRow() const { return static_cast<int32_t>(GetRowBytes() / 4); }
    static int32_t WordsPerRow(int32_t width) {
        return width <= 0 ? 0 : static_cast<int32_t>((int64_t{width} + 31) / 32);
    }
    uint32_t* Words() { return static_cast<uint32_t*>(Buffer()); }
    const uint32_t* Words() const { return static_cast<const uint32_t*>(Buffer()); }
    size_t WordCount() const { return GetRowBytes() / 4 * static_cast<size_t>(m_height); }
    uint32_t* Row(int32_t y) { return Words() + static_cast<size_t>(y) * (GetRowBytes() / 4); }
    const uint32_t* Row(int32_t y) const { return Words() + static_cast<size_t>(y) * (GetRowBytes() / 4); }
    // Single pixels (tests, mask painting); x and y must lie inside the image.
    bool GetPixel(int32_t x, int32_t y) const { return (Row(y)[x / 32] >> (31 - x % 32)) & 1u; }
    void SetPixel(int32_t x, int32_t y, bool set);
    // Sets every pixel to 0 (or every pixel inside the width to 1); the padding bits stay 0.
    void Fill(bool set);
    void Swap(CBinaryImage& other) noexcept { SwapBuffers(other); }

    // Makes the image a's size; a pixel is set exactly when |a − b| > level (strictly). A level
    // below 0 sets every pixel. a and b must have the same size and not be empty (else CGeneralEx).
    void Threshold(const CGrayScaleImage& a, const CGrayScaleImage& b, int32_t level);
    // 2×2 erosion anchored at the first element: out(x, y) = s(x, y) & s(x+1, y) & s(x, y+1) &
    // s(x+1, y+1), pixels past the right edge counting as 0; the last row comes out all 0. A
    // changed region shrinks by one column and one row. The source may be this image itself.
    // An empty source empties this image.
    void Erode(const CBinaryImage& source);
    // Counts set bits word by word from the first word and stops after the word at which the
    // running count reaches limit: exact below the limit, otherwise between limit and limit + 31.
    int32_t CountPixels(int32_t limit) const;
    // Clears every pixel that is set in the mask. A mask of another size than this image is not
    // applied (nothing is read from it) and false is returned.
    bool ApplyMask(const CBinaryImage& mask);
    // Paints every set pixel pure red (B 0, G 0, R 255) into a BGR frame of the image's size whose
    // rows lie strideBytes apart (0: packed); other pixels are left as they are.
    void DrawToFrame(uint8_t* frame, int32_t strideBytes = 0) const;
    // The same into a YUV 4:2:0 frame of the image's size: each set pixel becomes BT.601 red (its
    // luma, and the chroma sample it shares). Planes that do not fit (IsValid) draw nothing.
    void DrawToFrame(const CYuvPlanes& frame) const;

    // Writes the image into a monochrome bitmap of its size, replacing what the bitmap held: rows
    // in the image's order (top-down images give a top-row-first bitmap), each GetWordsPerRow() · 4
    // bytes, every word stored most significant byte first. An empty image gives an empty bitmap.
    void ToBitmap(CMonoBitmap& bitmap) const;
    // The reverse, honouring the bitmap's own row width (it may be shorter than GetWordsPerRow() · 4
    // bytes, as 16-bit aligned rows are); bits past the width are dropped. An empty bitmap empties
    // the image; a bitmap whose rows or byte count are too short for its size throws CGeneralEx.
    void FromBitmap(const CMonoBitmap& bitmap);
};
