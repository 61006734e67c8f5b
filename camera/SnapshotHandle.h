#pragma once
// CSnapshotHandle: what it takes to get a camera's next frame as a picture on another thread. It
// holds its own reference to the camera's grabber element, so the wait for the frame (up to
// 2000 ms) may run on a worker thread while the camera view tears its pipeline down or is
// destroyed: the element then lives until the handle goes, sees no more frames, and Take fails
// after the wait. An empty handle (camera unavailable, no pipeline) fails at once.
//
// Made by CCameraView::PrepareSnapshot on the user-interface thread; Take on any thread. Copies
// share the element.

#include "grabber/ITavrixGrabber.h"

#include <gst/gst.h>

class CSnapshotHandle {
public:
    CSnapshotHandle() = default;
    // Takes a reference to the element; grabber is the element's control interface.
    CSnapshotHandle(GstElement* grabberElement, ITavrixGrabber* grabber);
    CSnapshotHandle(const CSnapshotHandle& other);
    CSnapshotHandle& operator=(const CSnapshotHandle& other);
    ~CSnapshotHandle();

    bool IsEmpty() const { return m_element == nullptr; }
    // The next frame of the camera as a top-down picture; false when none came within the
    // grabber's snapshot time-out or the handle is empty.
    bool Take(CRgbPicture* picture) const;

private:
    GstElement* m_element = nullptr;
    ITavrixGrabber* m_grabber = nullptr;
};
