#include "persistence/MaskPng.h"

#include <glib.h>
#include <png.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace MaskPng {

namespace {

constexpr uint8_t kWatched = 255;
constexpr uint8_t kMasked = 0;

bool IsBase64(const std::string& text) {
    size_t padding = 0;
    for (const char c : text) {
        if (c == '=') {
            ++padding;
        } else if (padding != 0 ||
                   (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '+' && c != '/')) {
            return false;
        }
    }
    return text.size() % 4 == 0 && padding <= 2;
}

} // namespace

std::vector<uint8_t> Encode(const CBinaryImage& mask) {
    const int32_t width = mask.GetWidth();
    const int32_t height = mask.GetHeight();
    std::vector<uint8_t> grey(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            grey[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                mask.GetPixel(x, y) ? kMasked : kWatched;
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_GRAY;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, grey.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return {};
    }
    std::vector<uint8_t> png(size);
    if (png_image_write_to_memory(&image, png.data(), &size, 0, grey.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return {};
    }
    png.resize(size);
    return png;
}

bool Decode(const std::vector<uint8_t>& png, CBinaryImage& mask, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
        error = std::string("not a readable PNG picture (") + image.message + ")";
        png_image_free(&image);
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
        error = "the picture is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                " pixels; a mask has 1 to " + std::to_string(kMaxSide) + " in either direction";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    // Transparent pixels are composed onto white: watched.
    std::vector<uint8_t> grey(PNG_IMAGE_SIZE(image), kWatched);
    if (png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr) == 0) {
        error = std::string("the PNG picture is damaged (") + image.message + ")";
        png_image_free(&image);
        return false;
    }
    const auto width = static_cast<int32_t>(image.width);
    const auto height = static_cast<int32_t>(image.height);
    CBinaryImage decoded;
    decoded.Create(width, height);
    decoded.Fill(false);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (grey[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] < 128) {
                decoded.SetPixel(x, y, true);
            }
        }
    }
    mask = std::move(decoded);
    return true;
}

std::string ToDataUrl(const CBinaryImage& mask) {
    const std::vector<uint8_t> png = Encode(mask);
    std::unique_ptr<gchar, decltype(&g_free)> base64(g_base64_encode(png.data(), png.size()), &g_free);
    return kDataUrlPrefix + std::string(base64.get());
}

bool FromDataUrl(const std::string& url, CBinaryImage& mask, std::string& error) {
    const std::string prefix = kDataUrlPrefix;
    if (url.rfind(prefix, 0) != 0) {
        error = "must be a PNG picture as a data URL (\"" + prefix + "...\") or null";
        return false;
    }
    const std::string base64 = url.substr(prefix.size());
    if (base64.empty() || !IsBase64(base64)) {
        error = "the data URL does not hold base64 text";
        return false;
    }
    gsize size = 0;
    std::unique_ptr<guchar, decltype(&g_free)> bytes(g_base64_decode(base64.c_str(), &size), &g_free);
    return Decode(std::vector<uint8_t>(bytes.get(), bytes.get() + size), mask, error);
}

} // namespace MaskPng
