#pragma once
// The common base of the motion analysis images (the grey-level image made from a camera frame and
// the one-bit image of changed pixels or of the area mask): a heap buffer of `height` rows that
// follow each other without gaps, row i starting at byte i * GetRowBytes().
//
// An image has no lock: it is used by one thread at a time (per-frame images by the camera's
// streaming thread, the mask and the detector's reference under the detector's lock, stored images
// by the thread that loads or saves the document).

#include <cstddef>
#include <cstdint>
#include <string>

class CConfigStore;

class CImageBase {
public:
    virtual ~CImageBase();

    // Gives the image this size. Nothing happens when it already has exactly this size (the pixels
    // are kept); otherwise the old buffer is released and a new one, not cleared, is allocated.
    // A width or height of 0 or less gives an empty image; a size whose buffer would not fit in
    // 2 GiB throws CGeneralEx (the image is then empty). Out of memory throws std::bad_alloc and
    // leaves the image empty.
    virtual void Create(int32_t width, int32_t height) = 0;
    // Releases the buffer; width and height become 0.
    virtual void Free() = 0;
    virtual void* GetData() = 0;
    virtual const void* GetData() const = 0;
    // Buffer size in bytes.
    virtual size_t GetSize() const = 0;
    virtual bool IsEmpty() const = 0;

    int32_t GetWidth() const { return m_width; }
    int32_t GetHeight() const { return m_height; }
    // Bytes of one row; the buffer holds GetHeight() such rows.
    size_t GetRowBytes() const { return m_rowBytes; }
    bool SameSize(const CImageBase& other) const {
        return m_width == other.m_width && m_height == other.m_height;
    }

    // Keeps the image in the document store under a key prefix (".ImageAvailable", ".Width",
    // ".Height", ".Data"); defined with the document model in persistence/.
    void Store(const std::string& prefix, CConfigStore& store) const;
    void Load(const std::string& prefix, CConfigStore& store);

protected:
    CImageBase() = default;
    CImageBase(const CImageBase&) = delete;
    CImageBase& operator=(const CImageBase&) = delete;

    // Buffer management shared by both image classes. Allocate keeps the buffer when the size is
    // unchanged and returns false then; otherwise it reallocates and returns true. The buffer is
    // 64-byte aligned so that vector loads of the first row never split a cache line.
    bool Allocate(int32_t width, int32_t height, size_t rowBytes);
    void Release();
    // Exchanges buffers and sizes with another image of the same class (no copy).
    void SwapBuffers(CImageBase& other) noexcept;
    // The assignment of both classes from an image of the same class: an empty source empties
    // this image, otherwise Create with the source's size and copy its buffer.
    void CopyFrom(const CImageBase& other);
    // Move: takes over the other image's buffer, leaving it empty.
    void TakeFrom(CImageBase& other) noexcept;
    void* Buffer() const { return m_data; }

    int32_t m_height = 0;
    int32_t m_width = 0;

private:
    void* m_data = nullptr;
    size_t m_rowBytes = 0;
};
