#include "web/JpegEncoder.h"

#include "foundation/Exceptions.h"

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <vector>

namespace {

struct CErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<CErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    longjmp(manager->jump, 1);
}

// One output row: each output pixel is the average of the source pixels it covers.
void ScaleRow(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, int32_t outWidth,
              int32_t outHeight, int32_t y, uint8_t* row) {
    const int32_t y0 = static_cast<int32_t>(static_cast<int64_t>(y) * height / outHeight);
    int32_t y1 = static_cast<int32_t>(static_cast<int64_t>(y + 1) * height / outHeight);
    if (y1 <= y0) {
        y1 = y0 + 1;
    }
    for (int32_t x = 0; x < outWidth; ++x) {
        const int32_t x0 = static_cast<int32_t>(static_cast<int64_t>(x) * width / outWidth);
        int32_t x1 = static_cast<int32_t>(static_cast<int64_t>(x + 1) * width / outWidth);
        if (x1 <= x0) {
            x1 = x0 + 1;
        }
        uint32_t sum[3] = {0, 0, 0};
        for (int32_t sy = y0; sy < y1; ++sy) {
            const uint8_t* p = bgr + static_cast<size_t>(sy) * stride + static_cast<size_t>(x0) * 3;
            for (int32_t sx = x0; sx < x1; ++sx, p += 3) {
                sum[0] += p[0];
                sum[1] += p[1];
                sum[2] += p[2];
            }
        }
        const uint32_t count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
        row[x * 3 + 0] = static_cast<uint8_t>(sum[0] / count);
        row[x * 3 + 1] = static_cast<uint8_t>(sum[1] / count);
        row[x * 3 + 2] = static_cast<uint8_t>(sum[2] / count);
    }
}

} // namespace

namespace JpegEncoder {

void FitSize(int32_t width, int32_t height, int32_t maxWidth, int32_t& outWidth, int32_t& outHeight) {
    outWidth = width;
    outHeight = height;
    if (maxWidth > 0 && width > maxWidth) {
        outWidth = maxWidth;
        outHeight = static_cast<int32_t>(static_cast<int64_t>(height) * maxWidth / width);
    }
    outWidth = std::max<int32_t>(2, outWidth & ~1);
    outHeight = std::max<int32_t>(2, outHeight & ~1);
}

std::string Encode(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride, int32_t outWidth,
                   int32_t outHeight, int quality) {
    if (bgr == nullptr || width <= 0 || height <= 0 || outWidth <= 0 || outHeight <= 0 ||
        stride < width * 3) {
        THROW_GENERAL("A frame without pixels cannot be encoded");
    }
    jpeg_compress_struct info{};
    CErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnJpegError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        THROW_GENERAL_INFO("A frame could not be encoded as JPEG", errors.message);
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(outWidth);
    info.image_height = static_cast<JDIMENSION>(outHeight);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    const bool scaled = outWidth != width || outHeight != height;
    if (scaled) {
        row.resize(static_cast<size_t>(outWidth) * 3);
    }
    while (info.next_scanline < info.image_height) {
        const auto y = static_cast<int32_t>(info.next_scanline);
        JSAMPROW pointer;
        if (scaled) {
            ScaleRow(bgr, width, height, stride, outWidth, outHeight, y, row.data());
            pointer = row.data();
        } else {
            pointer = const_cast<JSAMPROW>(bgr + static_cast<size_t>(y) * stride);
        }
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string jpeg(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}

} // namespace JpegEncoder
