#pragma once
// A small pool of images that the motion detector recycles so that the per-frame images (the grey
// image of each frame, the changed-pixel image handed back to the camera view) cost no heap
// allocation once the first frames have been seen: an image handed out by Acquire goes back to the
// pool, buffer and all, when its owning pointer is destroyed, and Create on an image of the same
// size keeps that buffer.
//
// Any thread may acquire and release; the pool's own mutex is a leaf lock (no other lock is taken
// while it is held), so an image may be released while its user holds any other lock. The pool
// lives as long as the last image handed out from it.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

template <class TImage>
class CImagePool : public std::enable_shared_from_this<CImagePool<TImage>> {
public:
    // The deleter of a pooled image: returns it to its pool, or deletes it when it has none.
    class Recycler {
    public:
        Recycler() = default;
        explicit Recycler(std::shared_ptr<CImagePool> pool) : m_pool(std::move(pool)) {}
        void operator()(TImage* image) const {
            if (m_pool) {
                m_pool->Put(image);
            } else {
                delete image;
            }
        }

    private:
        std::shared_ptr<CImagePool> m_pool;
    };
    using Ptr = std::unique_ptr<TImage, Recycler>;

    // A pool that keeps at most capacity idle images; more returned images are deleted.
    static std::shared_ptr<CImagePool> Make(size_t capacity) {
        return std::shared_ptr<CImagePool>(new CImagePool(capacity));
    }

    // An image from the pool (any size, any content) or, when none is idle, a new empty one.
    Ptr Acquire() {
        std::unique_ptr<TImage> image;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_idle.empty()) {
                image = std::move(m_idle.back());
                m_idle.pop_back();
            }
        }
        if (!image) {
            image = std::make_unique<TImage>();
        }
        return Ptr(image.release(), Recycler(this->shared_from_this()));
    }

    // An image that belongs to no pool: its pointer deletes it.
    static Ptr Unpooled(std::unique_ptr<TImage> image) { return Ptr(image.release(), Recycler()); }

    size_t IdleCount() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_idle.size();
    }

private:
    explicit CImagePool(size_t capacity) : m_capacity(capacity) { m_idle.reserve(capacity); }

    void Put(TImage* image) noexcept {
        std::unique_ptr<TImage> owned(image);
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_idle.size() < m_capacity) {
            m_idle.push_back(std::move(owned)); // within the reserved capacity: no allocation
        }
    }

    std::mutex m_lock;
    std::vector<std::unique_ptr<TImage>> m_idle;
    const size_t m_capacity;
};
