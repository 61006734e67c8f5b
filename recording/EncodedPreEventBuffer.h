#pragma once
// CEncodedPreEventBuffer: the most recent seconds of a camera's picture kept as H.264 or H.265
// access units instead of raw frames: a network camera's own stream (copied from its source bin's
// "Encoded" tee) or the stream of a local camera's continuous pre-event encoder. Ten seconds of
// 1920x1080 take a few megabytes instead of a gigabyte.
//
// The buffer always begins with a key frame: units that come before the first key frame are
// dropped, and trimming removes whole groups of pictures, so that it keeps everything from the
// last key frame at or before the start of the window (the newest unit's time minus the window).
// A recording therefore starts with a picture that decodes, and holds at least the window (up to
// one key-frame interval more).
//
// A record context opens a reader (OpenReader): it delivers the buffered units, oldest first,
// then each new one, until it is flushed (the units added up to then, then the end) or aborted
// (the end at once). While a reader is open, units it has not read are not trimmed by the window,
// only by the memory cap: past it, whole groups of pictures are dropped from the oldest end and a
// reader that stood in them moves on to the next key frame (its file then skips those seconds but
// still decodes). A new stream format (SetCaps with other caps, Clear) ends every open reader:
// the units that follow belong to another stream.
//
// Threads: Add and SetCaps on a streaming thread (the camera's source or its encoder's appsink);
// readers on the recording's streaming thread (Next) and its stop thread (Flush, Abort); the rest
// anywhere. One lock guards everything (innermost; never held while calling out).

#include "platform/HResult.h"

#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CEncodedPreEventBuffer {
public:
    // At most this many bytes of units are held (unless a single group of pictures is larger).
    static constexpr int64_t kDefaultMemoryCap = int64_t{256} << 20;

    class CReader;

    CEncodedPreEventBuffer() = default;
    ~CEncodedPreEventBuffer();
    CEncodedPreEventBuffer(const CEncodedPreEventBuffer&) = delete;
    CEncodedPreEventBuffer& operator=(const CEncodedPreEventBuffer&) = delete;

    // The pre-event time to keep, 100-ns units (negative counts as 0).
    void SetWindow(REFERENCE_TIME window);
    REFERENCE_TIME GetWindow() const;
    void SetMemoryCap(int64_t bytes);

    // The stream's caps (video/x-h264 or video/x-h265, parsed). Caps that differ from the ones
    // held start a new stream: the units are dropped and open readers end.
    void SetCaps(GstCaps* caps);
    // A new reference to the caps, or null before the first SetCaps.
    GstCaps* GetCaps() const;
    // "h264", "h265", or empty while the caps are unknown or of another codec.
    std::string GetCodec() const;

    // Appends one access unit (a new reference is taken; the buffer is not copied). A unit
    // without GST_BUFFER_FLAG_DELTA_UNIT is a key frame. Units before the first key frame are
    // dropped. Its time is its DTS, else its PTS, else the time of the unit before.
    void Add(GstBuffer* unit);
    // Drops every unit; open readers end.
    void Clear();

    // What is held now: units, bytes, and the time from the oldest to the newest unit.
    int32_t GetUnitCount() const;
    int64_t GetHeldBytes() const;
    REFERENCE_TIME GetHeldDuration() const;
    // Whether the oldest unit held is a key frame (true when empty).
    bool StartsWithKeyFrame() const;
    // Units dropped by the memory cap from under an open reader, over the buffer's life.
    int64_t GetReaderSkips() const;

    // A reader positioned at the oldest unit (or, when empty, at the next key frame to come).
    std::shared_ptr<CReader> OpenReader();
    // Detaches the reader; it must not be waiting in Next.
    void CloseReader(const std::shared_ptr<CReader>& reader);

    class CReader {
    public:
        // Blocks until the next unit (a new reference the caller unrefs), or returns null at the
        // end (flushed and all delivered, aborted, or the stream changed).
        GstBuffer* Next();
        // Delivers the units added so far, then ends.
        void Flush();
        // Ends at once.
        void Abort();
        // The caps of the stream when the reader was opened (a new reference, or null).
        GstCaps* GetCaps() const;

    private:
        friend class CEncodedPreEventBuffer;
        explicit CReader(CEncodedPreEventBuffer* buffer) : m_buffer(buffer) {}

        CEncodedPreEventBuffer* const m_buffer;
        // Guarded by the buffer's lock.
        int64_t m_next = 0;        // sequence number of the next unit to deliver
        int64_t m_end = -1;        // flushed: deliver units below this number; -1 running
        bool m_aborted = false;    // aborted or the stream changed
        GstCaps* m_caps = nullptr; // owned
    };

private:
    struct CUnit {
        GstBuffer* buffer = nullptr; // owned reference
        int64_t sequence = 0;
        GstClockTime time = 0;
        bool key = false;
        size_t bytes = 0;
    };

    // With m_lock held.
    void TrimLocked();
    void DropFrontLocked(size_t count);
    void EndReadersLocked();
    int64_t OldestReaderLocked() const;
    size_t NextKeyIndexLocked(size_t from) const;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<CUnit> m_units;
    std::vector<std::shared_ptr<CReader>> m_readers;
    GstCaps* m_caps = nullptr;
    int64_t m_nextSequence = 0;
    int64_t m_bytes = 0;
    int64_t m_memoryCap = kDefaultMemoryCap;
    int64_t m_readerSkips = 0;
    GstClockTime m_lastTime = 0;
    REFERENCE_TIME m_window = 0;
};
