#include "camera/SnapshotHandle.h"

CSnapshotHandle::CSnapshotHandle(GstElement* grabberElement, ITavrixGrabber* grabber)
    : m_element(grabberElement && grabber ? GST_ELEMENT(gst_object_ref(grabberElement)) : nullptr),
      m_grabber(m_element ? grabber : nullptr) {}

CSnapshotHandle::CSnapshotHandle(const CSnapshotHandle& other)
    : m_element(other.m_element ? GST_ELEMENT(gst_object_ref(other.m_element)) : nullptr),
      m_grabber(other.m_grabber) {}

CSnapshotHandle& CSnapshotHandle::operator=(const CSnapshotHandle& other) {
    if (this != &other) {
        CSnapshotHandle copy(other);
        std::swap(m_element, copy.m_element);
        std::swap(m_grabber, copy.m_grabber);
    }
    return *this;
}

CSnapshotHandle::~CSnapshotHandle() {
    if (m_element != nullptr) {
        gst_object_unref(m_element);
    }
}

bool CSnapshotHandle::Take(CRgbPicture* picture) const {
    return picture != nullptr && m_grabber != nullptr && SUCCEEDED(m_grabber->TakeSnapshot(picture));
}
