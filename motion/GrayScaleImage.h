#pragma once
// A 16-bit grey-level image made from a 24-bit BGR camera frame, one signed 16-bit value a pixel
// from 0 to 18615 (grey = 11·B + 59·G + 3·R). The camera view makes one from every frame and hands it
// to the motion detector, which keeps it as the reference for the next frame; ToFrame shows one.
// Rows keep the frame's own row order (top-down frames give top-down images).
//
// No lock: used by one thread at a time (see CImageBase).

#include "motion/ImageBase.h"
#include "motion/ImageKernels.h"

#include <cstdint>

class CBinaryImage;

class CGrayScaleImage : public CImageBase {
public:
    // The grey value of pure white; the weights 11 + 59 + 3 add up to 73 and 255 · 73 = 18615.
    static constexpr int32_t kFullScale = 18615;

    CGrayScaleImage() = default;
    CGrayScaleImage(const CGrayScaleImage& other);
    CGrayScaleImage(CGrayScaleImage&& other) noexcept;
    // Copies size and pixels; an empty source empties this image.
    CGrayScaleImage& operator=(const CGrayScaleImage& other);
    CGrayScaleImage& operator=(CGrayScaleImage&& other) noexcept;
    ~CGrayScaleImage() override = default;

    void Create(int32_t width, int32_t height) override;
    void Free() override;
    void* GetData() override { return Buffer(); }
    const void* GetData() const override { return Buffer(); }
    size_t GetSize() const override { return GetRowBytes() * static_cast<size_t>(m_height); }
    bool IsEmpty() const override { return Buffer() == nullptr; }

    int16_t* Pixels() { return static_cast<int16_t*>(Buffer()); }
    const int16_t* Pixels() const { return static_cast<const int16_t*>(Buffer()); }
    int16_t* Row(int32_t y) { return Pixels() + static_cast<size_t>(y) * static_cast<size_t>(m_width); }
    const int16_t* Row(int32_t y) const {
        return Pixels() + static_cast<size_t>(y) * static_cast<size_t>(m_width);
    }
    void Swap(CGrayScaleImage& other) noexcept { SwapBuffers(other); }

    // Makes the image width × height and fills it from a BGR frame whose rows lie strideBytes
    // apart (0: width · 3, rows packed). The frame must hold (height − 1) · stride + width · 3
    // bytes. A null frame, a size of 0 or less or a stride shorter than a row throws CGeneralEx.
    void FromFrame(const uint8_t* frame, int32_t width, int32_t height, int32_t strideBytes = 0);
    // The motion detector's pass over a frame: the frame's grey values replace the image's in one
    // pass, and changed becomes the frame's size with a pixel set exactly when its grey value moved
    // by more than level. Gives the same images as changed.Threshold(*this, next, level) followed by
    // *this = next for next.FromFrame(frame, ...), without the second grey image. The image must
    // have the frame's size; else, and for the frames FromFrame refuses, CGeneralEx and nothing
    // changes.
    void UpdateFromFrame(const uint8_t* frame, int32_t width, int32_t height, int32_t strideBytes,
                         int32_t level, CBinaryImage& changed);
    // The same from the luma plane of a YUV frame (I420, NV12, ...: one byte a pixel, rows
    // strideBytes apart, 0: width), read onto the grey scale by imagekernels::GreyOfLuma for the
    // plane's range, so that a level means the same brightness step as on BGR frames. The plane
    // must hold (height − 1) · stride + width bytes; a null plane, a size of 0 or less or a stride
    // shorter than a row throws CGeneralEx (and nothing changes).
    void FromLuma(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes,
                  imagekernels::LumaRange range);
    void UpdateFromLuma(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes,
                        imagekernels::LumaRange range, int32_t level, CBinaryImage& changed);
    // Writes the image into a BGR frame of the image's size for display: every pixel gets
    // grey · 255 / 18615 in all three bytes (values outside 0..18615 are clamped first).
    void ToFrame(uint8_t* frame, int32_t strideBytes = 0) const;
    // Every pixel becomes |own − other|. A size mismatch or an empty image throws CGeneralEx.
    void AbsDiff(const CGrayScaleImage& other);
};
