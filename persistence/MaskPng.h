#pragma once
// The area mask of a camera as a PNG picture and as a data URL ("data:image/png;base64,..."), the
// form the JSON export of a document gives it: white pixels are watched, black pixels are masked
// (a set bit of the mask). Reading takes any PNG (colour, grey, palette, with or without alpha):
// a pixel darker than middle grey is masked, a transparent one is watched.
//
// Plain functions: any thread.

#include "motion/BinaryImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace MaskPng {

constexpr const char* kDataUrlPrefix = "data:image/png;base64,";
// The largest picture read, in either direction (the largest picture size a camera may have).
constexpr uint32_t kMaxSide = 16384;

// An 8-bit grey PNG of the mask; the mask must not be empty.
std::vector<uint8_t> Encode(const CBinaryImage& mask);
// False, with the reason in error, for bytes that are no PNG or a picture larger than kMaxSide.
bool Decode(const std::vector<uint8_t>& png, CBinaryImage& mask, std::string& error);

std::string ToDataUrl(const CBinaryImage& mask);
// False, with the reason in error, for a text that is no PNG data URL or holds no readable PNG.
bool FromDataUrl(const std::string& url, CBinaryImage& mask, std::string& error);

} // namespace MaskPng
