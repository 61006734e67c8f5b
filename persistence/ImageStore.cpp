// CImageBase::Store and Load: an image kept in a document under a key prefix.
//   prefix.ImageAvailable  boolean; false for an empty image, and then nothing else is written
//   prefix.Width, prefix.Height
//   prefix.Data            the pixel buffer, exactly GetSize() bytes
// Documents keep images bottom row first (the row order of the frames of the platform the format
// comes from) while our images are top-down like our frames, so rows are reversed on the way in
// and out; the words and 16-bit values are stored little-endian, as in memory here.

#include "motion/BinaryImage.h"
#include "motion/GrayScaleImage.h"
#include "motion/ImageBase.h"
#include "persistence/ConfigStore.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <bit>
#include <cstring>
#include <new>
#include <vector>

static_assert(std::endian::native == std::endian::little, "stored image buffers are little-endian");

namespace {

// Bytes of one row of an image of this class and width, or 0 when unknown.
size_t RowBytesFor(const CImageBase& image, int32_t width) {
    if (dynamic_cast<const CBinaryImage*>(&image)) {
        // Computed in 64 bits: a damaged width near INT32_MAX must not overflow.
        return static_cast<size_t>((static_cast<int64_t>(width) + 31) / 32) * 4;
    }
    if (dynamic_cast<const CGrayScaleImage*>(&image)) {
        return static_cast<size_t>(width) * 2;
    }
    return 0;
}

void CopyRowsReversed(uint8_t* to, const uint8_t* from, size_t rowBytes, int32_t height) {
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(to + static_cast<size_t>(row) * rowBytes,
                    from + static_cast<size_t>(height - 1 - row) * rowBytes, rowBytes);
    }
}

} // namespace

void CImageBase::Store(const std::string& prefix, CConfigStore& store) const {
    if (IsEmpty()) {
        store.PutBool(prefix + ".ImageAvailable", false);
        return;
    }
    store.PutBool(prefix + ".ImageAvailable", true);
    store.PutInt(prefix + ".Width", m_width);
    store.PutInt(prefix + ".Height", m_height);
    std::vector<uint8_t> bottomUp(GetSize());
    CopyRowsReversed(bottomUp.data(), static_cast<const uint8_t*>(GetData()), GetRowBytes(), m_height);
    store.PutBlob(prefix + ".Data", bottomUp.size(), bottomUp.data());
}

void CImageBase::Load(const std::string& prefix, CConfigStore& store) {
    if (!store.GetBool(prefix + ".ImageAvailable")) {
        Free();
        return;
    }
    const int32_t width = store.GetInt(prefix + ".Width");
    const int32_t height = store.GetInt(prefix + ".Height");
    const std::vector<uint8_t> data = store.GetBlob(prefix + ".Data");
    // The buffer is only made once the stored bytes are known to fill it exactly, so a damaged
    // width or height never allocates more than the file holds.
    const size_t rowBytes = width > 0 ? RowBytesFor(*this, width) : 0;
    if (height <= 0 || rowBytes == 0 || data.size() / rowBytes != static_cast<size_t>(height) ||
        data.size() % rowBytes != 0) {
        TRACE("CImageBase::Load() '%s': %zu bytes do not fit %d x %d, image dropped", prefix.c_str(),
              data.size(), width, height);
        Free();
        return;
    }
    try {
        Create(width, height);
    } catch (const CBaseException&) {
        Free();
        return;
    } catch (const std::bad_alloc&) {
        Free();
        return;
    }
    if (IsEmpty() || GetSize() != data.size()) {
        Free();
        return;
    }
    CopyRowsReversed(static_cast<uint8_t*>(GetData()), data.data(), GetRowBytes(), height);
}
