#include "recording/EncodedPreEventBuffer.h"

#include "foundation/Tracer.h"

#include <algorithm>
#include <limits>

CEncodedPreEventBuffer::~CEncodedPreEventBuffer() {
    std::lock_guard<std::mutex> lock(m_lock);
    EndReadersLocked();
    DropFrontLocked(m_units.size());
    for (const std::shared_ptr<CReader>& reader : m_readers) {
        if (reader->m_caps != nullptr) {
            gst_caps_unref(reader->m_caps);
            reader->m_caps = nullptr;
        }
    }
    if (m_caps != nullptr) {
        gst_caps_unref(m_caps);
    }
}

void CEncodedPreEventBuffer::SetWindow(REFERENCE_TIME window) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_window = std::max<REFERENCE_TIME>(window, 0);
    TrimLocked();
}

REFERENCE_TIME CEncodedPreEventBuffer::GetWindow() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_window;
}

void CEncodedPreEventBuffer::SetMemoryCap(int64_t bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_memoryCap = bytes > 0 ? bytes : kDefaultMemoryCap;
    TrimLocked();
}

void CEncodedPreEventBuffer::SetCaps(GstCaps* caps) {
    if (caps == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_caps != nullptr && gst_caps_is_equal(m_caps, caps)) {
        return;
    }
    if (m_caps != nullptr) {
        TRACE("CEncodedPreEventBuffer %p: the stream changed, %zu units dropped", static_cast<void*>(this),
              m_units.size());
        EndReadersLocked();
        DropFrontLocked(m_units.size());
        gst_caps_unref(m_caps);
    }
    m_caps = gst_caps_ref(caps);
}

GstCaps* CEncodedPreEventBuffer::GetCaps() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_caps != nullptr ? gst_caps_ref(m_caps) : nullptr;
}

std::string CEncodedPreEventBuffer::GetCodec() const {
    std::lock_guard<std::mutex> lock(m_lock);
    const GstStructure* structure =
        m_caps != nullptr && !gst_caps_is_empty(m_caps) ? gst_caps_get_structure(m_caps, 0) : nullptr;
    if (structure == nullptr) {
        return {};
    }
    if (gst_structure_has_name(structure, "video/x-h264")) {
        return "h264";
    }
    if (gst_structure_has_name(structure, "video/x-h265")) {
        return "h265";
    }
    return {};
}

void CEncodedPreEventBuffer::Add(GstBuffer* unit) {
    if (unit == nullptr) {
        return;
    }
    const bool key = !GST_BUFFER_FLAG_IS_SET(unit, GST_BUFFER_FLAG_DELTA_UNIT);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_units.empty() && !key) {
            return; // nothing decodes before the first key frame
        }
        GstClockTime time = GST_BUFFER_DTS(unit);
        if (!GST_CLOCK_TIME_IS_VALID(time)) {
            time = GST_BUFFER_PTS(unit);
        }
        if (!GST_CLOCK_TIME_IS_VALID(time)) {
            time = m_lastTime;
        }
        m_lastTime = time;
        CUnit added;
        added.buffer = gst_buffer_ref(unit);
        added.sequence = m_nextSequence++;
        added.time = time;
        added.key = key;
        added.bytes = gst_buffer_get_size(unit);
        m_bytes += static_cast<int64_t>(added.bytes);
        m_units.push_back(added);
        TrimLocked();
    }
    m_changed.notify_all();
}

void CEncodedPreEventBuffer::Clear() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        EndReadersLocked();
        DropFrontLocked(m_units.size());
    }
    m_changed.notify_all();
}

int32_t CEncodedPreEventBuffer::GetUnitCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int32_t>(m_units.size());
}

int64_t CEncodedPreEventBuffer::GetHeldBytes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes;
}

REFERENCE_TIME CEncodedPreEventBuffer::GetHeldDuration() const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_units.size() < 2) {
        return 0;
    }
    return static_cast<REFERENCE_TIME>((m_units.back().time - m_units.front().time) / 100);
}

bool CEncodedPreEventBuffer::StartsWithKeyFrame() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_units.empty() || m_units.front().key;
}

int64_t CEncodedPreEventBuffer::GetReaderSkips() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_readerSkips;
}

size_t CEncodedPreEventBuffer::NextKeyIndexLocked(size_t from) const {
    for (size_t i = from; i < m_units.size(); ++i) {
        if (m_units[i].key) {
            return i;
        }
    }
    return m_units.size();
}

int64_t CEncodedPreEventBuffer::OldestReaderLocked() const {
    int64_t oldest = std::numeric_limits<int64_t>::max();
    for (const std::shared_ptr<CReader>& reader : m_readers) {
        if (!reader->m_aborted) {
            oldest = std::min(oldest, reader->m_next);
        }
    }
    return oldest;
}

void CEncodedPreEventBuffer::TrimLocked() {
    if (m_units.empty()) {
        return;
    }
    // The window: drop whole groups of pictures while the next one still starts at or before the
    // start of the window, unless a reader has not read them yet.
    const GstClockTime newest = m_units.back().time;
    const GstClockTime windowNs = static_cast<GstClockTime>(m_window) * 100;
    const GstClockTime start = newest > windowNs ? newest - windowNs : 0;
    const int64_t oldestReader = OldestReaderLocked();
    for (;;) {
        const size_t next = NextKeyIndexLocked(1);
        if (next >= m_units.size() || m_units[next].time > start || m_units[next].sequence > oldestReader) {
            break;
        }
        DropFrontLocked(next);
    }
    // The memory cap: whole groups from the oldest end, whoever still wanted them.
    while (m_bytes > m_memoryCap) {
        const size_t next = NextKeyIndexLocked(1);
        if (next >= m_units.size()) {
            break; // one group of pictures larger than the cap: kept whole
        }
        const int64_t keySequence = m_units[next].sequence;
        for (const std::shared_ptr<CReader>& reader : m_readers) {
            if (!reader->m_aborted && reader->m_next < keySequence) {
                TRACE("CEncodedPreEventBuffer %p: reader %p behind by more than the memory cap, skips to "
                      "unit %lld",
                      static_cast<void*>(this), static_cast<void*>(reader.get()),
                      static_cast<long long>(keySequence));
                m_readerSkips += keySequence - reader->m_next;
                reader->m_next = keySequence;
            }
        }
        DropFrontLocked(next);
    }
}

void CEncodedPreEventBuffer::DropFrontLocked(size_t count) {
    for (size_t i = 0; i < count && !m_units.empty(); ++i) {
        m_bytes -= static_cast<int64_t>(m_units.front().bytes);
        gst_buffer_unref(m_units.front().buffer);
        m_units.pop_front();
    }
}

void CEncodedPreEventBuffer::EndReadersLocked() {
    for (const std::shared_ptr<CReader>& reader : m_readers) {
        reader->m_aborted = true;
    }
}

std::shared_ptr<CEncodedPreEventBuffer::CReader> CEncodedPreEventBuffer::OpenReader() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::shared_ptr<CReader> reader(new CReader(this));
    reader->m_next = m_units.empty() ? m_nextSequence : m_units.front().sequence;
    reader->m_caps = m_caps != nullptr ? gst_caps_ref(m_caps) : nullptr;
    m_readers.push_back(reader);
    TRACE("CEncodedPreEventBuffer %p: reader %p opened at unit %lld, %zu units (%lld bytes) buffered",
          static_cast<void*>(this), static_cast<void*>(reader.get()), static_cast<long long>(reader->m_next),
          m_units.size(), static_cast<long long>(m_bytes));
    return reader;
}

void CEncodedPreEventBuffer::CloseReader(const std::shared_ptr<CReader>& reader) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = std::find(m_readers.begin(), m_readers.end(), reader);
        if (found == m_readers.end()) {
            return;
        }
        m_readers.erase(found);
        if (reader->m_caps != nullptr) {
            gst_caps_unref(reader->m_caps);
            reader->m_caps = nullptr;
        }
        TrimLocked(); // what only this reader still wanted goes
    }
    m_changed.notify_all();
}

GstBuffer* CEncodedPreEventBuffer::CReader::Next() {
    CEncodedPreEventBuffer& buffer = *m_buffer;
    std::unique_lock<std::mutex> lock(buffer.m_lock);
    for (;;) {
        if (m_aborted) {
            return nullptr;
        }
        if (m_end >= 0 && m_next >= m_end) {
            return nullptr;
        }
        if (!buffer.m_units.empty() && m_next <= buffer.m_units.back().sequence) {
            const int64_t first = buffer.m_units.front().sequence;
            if (m_next < first) {
                // Dropped while this reader was away (a new stream began): go on at the oldest.
                m_next = first;
            }
            const CUnit& unit = buffer.m_units[static_cast<size_t>(m_next - first)];
            ++m_next;
            return gst_buffer_ref(unit.buffer);
        }
        buffer.m_changed.wait(lock);
    }
}

void CEncodedPreEventBuffer::CReader::Flush() {
    {
        std::lock_guard<std::mutex> lock(m_buffer->m_lock);
        if (m_end < 0) {
            m_end = m_buffer->m_nextSequence;
        }
    }
    m_buffer->m_changed.notify_all();
}

void CEncodedPreEventBuffer::CReader::Abort() {
    {
        std::lock_guard<std::mutex> lock(m_buffer->m_lock);
        m_aborted = true;
    }
    m_buffer->m_changed.notify_all();
}

GstCaps* CEncodedPreEventBuffer::CReader::GetCaps() const {
    std::lock_guard<std::mutex> lock(m_buffer->m_lock);
    return m_caps != nullptr ? gst_caps_ref(m_caps) : nullptr;
}
