#pragma once
// JPEG encoding of camera frames (BGR, 3 bytes a pixel, top row first) with libjpeg-turbo, scaled
// down on the way when asked. Stateless; any thread.

#include <cstdint>
#include <string>

namespace JpegEncoder {

// The size a frame of width x height is sent at: at most maxWidth wide (0: no limit), the aspect kept,
// both even.
void FitSize(int32_t width, int32_t height, int32_t maxWidth, int32_t& outWidth, int32_t& outHeight);

// Encodes the frame at outWidth x outHeight (area-averaged when smaller); throws CGeneralEx when
// libjpeg refuses.
std::string Encode(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, int32_t outWidth,
                   int32_t outHeight, int quality);

} // namespace JpegEncoder
