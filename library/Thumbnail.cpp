#include "library/Thumbnail.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace Thumbnail {

void Shrink(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, CSmallPicture& out) {
    if (bgr == nullptr || width <= 0 || height <= 0 || stride < width * 3) {
        out.width = out.height = 0;
        out.rgb.clear();
        return;
    }
    int32_t w = width;
    int32_t h = height;
    if (w > kMaxWidth) {
        h = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(h) * kMaxWidth / w));
        w = kMaxWidth;
    }
    if (h > kMaxHeight) {
        w = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(w) * kMaxHeight / h));
        h = kMaxHeight;
    }
    out.width = w;
    out.height = h;
    out.rgb.resize(static_cast<size_t>(w) * h * 3);
    uint8_t* to = out.rgb.data();
    for (int32_t y = 0; y < h; ++y) {
        // Two source rows and columns inside the target pixel's area.
        const int32_t y0 = static_cast<int32_t>((static_cast<int64_t>(y) * 4 + 1) * height / (4 * h));
        const int32_t y1 = static_cast<int32_t>((static_cast<int64_t>(y) * 4 + 3) * height / (4 * h));
        const uint8_t* row0 = bgr + static_cast<size_t>(y0) * stride;
        const uint8_t* row1 = bgr + static_cast<size_t>(std::min(y1, height - 1)) * stride;
        for (int32_t x = 0; x < w; ++x) {
            const int32_t x0 = static_cast<int32_t>((static_cast<int64_t>(x) * 4 + 1) * width / (4 * w)) * 3;
            const int32_t x1 =
                std::min(static_cast<int32_t>((static_cast<int64_t>(x) * 4 + 3) * width / (4 * w)),
                         width - 1) *
                3;
            for (int c = 0; c < 3; ++c) {
                const int sum = row0[x0 + c] + row0[x1 + c] + row1[x0 + c] + row1[x1 + c];
                to[2 - c] = static_cast<uint8_t>((sum + 2) / 4); // BGR to RGB
            }
            to += 3;
        }
    }
}

namespace {

struct CJpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<CJpegError*>(info->err);
    std::longjmp(error->jump, 1);
}

} // namespace

std::vector<uint8_t> EncodeJpeg(const CSmallPicture& picture, int quality) {
    std::vector<uint8_t> result;
    if (picture.empty() || picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
        return result;
    }
    jpeg_compress_struct info{};
    CJpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = static_cast<size_t>(picture.width) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    result.assign(buffer, buffer + size);
    std::free(buffer);
    return result;
}

} // namespace Thumbnail
