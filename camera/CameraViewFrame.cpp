// The per-frame work of a camera view, on the grabber's streaming thread: motion detection, the
// overlay texts, the pre-event buffer, the frames for the hub's listeners and the changed pixels.
//
// Frames come as BGR, or as I420 from sources that decode to YUV (network cameras, V4L2 cameras
// whose own format is YUV or JPEG): those are detected on their luma plane, stamped and buffered
// as they are, and turned into BGR only for a hub listener that takes the frame (the display
// converts behind the grabber). Both take the same steps in the same order (HandleFrame).

#include "camera/CameraView.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigMgrImpl.h"
#include "recording/I420Frame.h"
#include "recording/PreEventEncoder.h"

#include <chrono>
#include <ctime>

namespace {

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The system clock of the frame times: monotonic, in 100-ns units.
int64_t ClockTime100ns() {
    return MonotonicNs() / 100;
}

// A BGR frame: rows of `stride` bytes.
struct CBgrFrameRef {
    uint8_t* data;
    int32_t stride;

    CMotionDetector::BinaryImagePtr Detect(CMotionDetector& detector, int32_t width, int32_t height) const {
        return detector.ProcessFrame(data, width, height, stride);
    }
    void DrawText(CTextOverlay& overlay, FrameOverlay::Position at, const std::string& text) const {
        overlay.DrawText(data, at.x, at.y, text, stride);
    }
    void DrawChanged(const CBinaryImage& changed) const { changed.DrawToFrame(data, stride); }
    void Buffer(CPreEventBuffer& buffer, int32_t width, int32_t height) const {
        buffer.AddBgrFrameAsI420(data, width, height, stride);
    }
    bool Encode(CPreEventEncoder& encoder, int64_t time100ns) const {
        return encoder.PushBgrFrame(data, stride, time100ns);
    }
    void Publish(CCameraFrameNote& note, std::vector<uint8_t>& /*scratch*/, int32_t /*width*/,
                 int32_t /*height*/) const {
        note.bgr = data;
        note.stride = stride;
        CCameraHub::Instance().PublishFrame(note);
    }
};

// An I420 frame: its planes, detected on luma.
struct CYuvFrameRef {
    CYuvPlanes planes;

    CMotionDetector::BinaryImagePtr Detect(CMotionDetector& detector, int32_t width, int32_t height) const {
        return detector.ProcessLuma(planes.y, width, height, planes.strideY,
                                    planes.fullRange ? imagekernels::LumaRange::kFull
                                                     : imagekernels::LumaRange::kStudio);
    }
    void DrawText(CTextOverlay& overlay, FrameOverlay::Position at, const std::string& text) const {
        overlay.DrawText(planes, at.x, at.y, text);
    }
    void DrawChanged(const CBinaryImage& changed) const { changed.DrawToFrame(planes); }
    void Buffer(CPreEventBuffer& buffer, int32_t width, int32_t height) const {
        const uint8_t* const data[3] = {planes.y, planes.u, planes.v};
        const int32_t strides[3] = {planes.strideY, planes.strideU, planes.strideV};
        buffer.AddI420Frame(data, strides, width, height);
    }
    bool Encode(CPreEventEncoder& encoder, int64_t time100ns) const {
        const uint8_t* const data[3] = {planes.y, planes.u, planes.v};
        const int32_t strides[3] = {planes.strideY, planes.strideU, planes.strideV};
        return encoder.PushI420Frame(data, strides, time100ns);
    }
    // BGR for the hub's listeners: the note makes it on the first listener's request, into a
    // buffer the camera view keeps.
    struct CLazyBgr {
        const CYuvFrameRef* frame;
        std::vector<uint8_t>* scratch;
        int32_t width;
        int32_t height;
        bool made;
    };
    void Publish(CCameraFrameNote& note, std::vector<uint8_t>& scratch, int32_t width, int32_t height) const {
        CLazyBgr lazy{this, &scratch, width, height, false};
        note.bgr = nullptr;
        note.makeBgr = [](void* context, int32_t* stride) -> const uint8_t* {
            auto* state = static_cast<CLazyBgr*>(context);
            *stride = BgrRowStride(state->width);
            if (!state->made) {
                state->scratch->resize(static_cast<size_t>(*stride) * static_cast<size_t>(state->height));
                const CYuvPlanes& p = state->frame->planes;
                const uint8_t* const data[3] = {p.y, p.u, p.v};
                const int32_t strides[3] = {p.strideY, p.strideU, p.strideV};
                i420::I420ToBgr(data, strides, state->width, state->height, p.fullRange,
                                state->scratch->data(), *stride);
                state->made = true;
            }
            return state->scratch->data();
        };
        note.makeBgrContext = &lazy;
        note.stride = BgrRowStride(width);
        CCameraHub::Instance().PublishFrame(note);
    }
};

} // namespace

void CCameraView::AdoptFrameFormat(const CVideoFormat& format) {
    m_frameFormat = format;
    const bool yuv = format.IsI420();
    m_frameYuv.store(yuv);
    m_frameWidth.store(format.width);
    m_frameHeight.store(format.height);
    // A recording takes the buffered frames (I420 for a YUV camera) or BGR rows of this stride.
    m_frameStride.store(yuv ? BgrRowStride(format.width) : format.stride);
}

HRESULT CCameraView::OnFrame(CMediaSample* sample) {
    const int64_t startedNs = MonotonicNs();
    try {
        uint8_t* frame = sample != nullptr ? sample->GetPointer() : nullptr;
        const int32_t width = m_frameWidth.load(std::memory_order_relaxed);
        const int32_t height = m_frameHeight.load(std::memory_order_relaxed);
        const int64_t length = sample != nullptr ? static_cast<int64_t>(sample->GetActualDataLength()) : 0;
        // A frame shorter than the negotiated format is passed on untouched.
        if (frame != nullptr && width > 0 && height > 0) {
            if (m_frameYuv.load(std::memory_order_relaxed)) {
                CYuvFrameRef yuv{};
                if (YuvPlanesOf(frame, length, yuv.planes)) {
                    HandleFrame(yuv, width, height);
                }
            } else {
                const int32_t stride = m_frameStride.load(std::memory_order_relaxed);
                if (stride >= width * 3 &&
                    length >= static_cast<int64_t>(stride) * (height - 1) + static_cast<int64_t>(width) * 3) {
                    HandleFrame(CBgrFrameRef{frame, stride}, width, height);
                }
            }
        }
    } catch (const CBaseException& e) {
        TRACE("CCameraView::OnFrame() %s", e.GetMessage().c_str());
    } catch (const std::exception& e) {
        TRACE("CCameraView::OnFrame() %s", e.what());
    }
    m_statFrames.fetch_add(1, std::memory_order_relaxed);
    m_statOnFrameNs.fetch_add(MonotonicNs() - startedNs, std::memory_order_relaxed);
    return S_OK;
}

bool CCameraView::YuvPlanesOf(uint8_t* frame, int64_t length, CYuvPlanes& planes) const {
    const CVideoFormat& format = m_frameFormat;
    const int64_t chromaRows = (format.height + 1) / 2;
    const int64_t chromaWidth = (format.width + 1) / 2;
    if (format.planeStride[0] < format.width || format.planeStride[1] < chromaWidth ||
        format.planeStride[2] < chromaWidth) {
        return false;
    }
    const int64_t ends[3] = {
        format.planeOffset[0] + static_cast<int64_t>(format.planeStride[0]) * (format.height - 1) +
            format.width,
        format.planeOffset[1] + static_cast<int64_t>(format.planeStride[1]) * (chromaRows - 1) + chromaWidth,
        format.planeOffset[2] + static_cast<int64_t>(format.planeStride[2]) * (chromaRows - 1) + chromaWidth};
    for (int64_t end : ends) {
        if (end > length) {
            return false;
        }
    }
    planes.y = frame + format.planeOffset[0];
    planes.u = frame + format.planeOffset[1];
    planes.v = frame + format.planeOffset[2];
    planes.strideY = format.planeStride[0];
    planes.strideU = format.planeStride[1];
    planes.strideV = format.planeStride[2];
    planes.fullRange = format.fullRange;
    return true;
}

bool CCameraView::DetectionSkipped() const {
    return CConfigMgrImpl::Instance().GetMiscSettings().GetDisableMDWhenInactive() &&
           m_stateMgr.GetState() == CCamViewStateMgr::kInactive;
}

template <typename Frame>
void CCameraView::HandleFrame(const Frame& frame, int32_t width, int32_t height) {
    const int32_t viewMode = m_viewMode.load(std::memory_order_relaxed);
    m_overlay.Init(width, height, (viewMode & FrameOverlay::kTransparentText) != 0);

    CMotionDetector::BinaryImagePtr changed;
    const bool skipDetection = DetectionSkipped();
    // With a detection stream, its frames are detected (CameraViewDetect.cpp), not these; their
    // changed pixels are not drawn on this picture.
    if (!skipDetection && !m_detectOnSub.load(std::memory_order_relaxed)) {
        changed = frame.Detect(m_motionDetector, width, height);
    }
    RetryRecordingIfDue();
    if ((viewMode & FrameOverlay::kShowTime) != 0) {
        frame.DrawText(m_overlay, FrameOverlay::TimePosition(height), m_dateTime.Text(std::time(nullptr)));
    }
    if ((viewMode & FrameOverlay::kShowName) != 0) {
        frame.DrawText(m_overlay, FrameOverlay::NamePosition(height), GetCameraName());
    }
    const int64_t now = ClockTime100ns();
    int64_t interval = 0;
    if (m_lastFrameTime != 0) {
        interval = now - m_lastFrameTime;
        m_preEventBuffer.SetLastSampleDuration(interval);
    }
    m_lastFrameTime = now;
    // The buffered frame (and so every recording) carries time and name, nothing of what follows.
    // It is kept as I420, what the encoders take, in half the memory of a BGR frame; or encoded at
    // once; or not at all while the network camera's own stream is kept.
    const EPreEventForm form = m_preEventForm.load(std::memory_order_relaxed);
    const bool kept =
        form == EPreEventForm::CameraStream ||
        (form == EPreEventForm::Encoded && PushToPreEventEncoder([&frame, now](CPreEventEncoder& encoder) {
             return frame.Encode(encoder, now);
         }));
    if (!kept) {
        frame.Buffer(m_preEventBuffer, width, height);
    }
    CCameraHub& hub = CCameraHub::Instance();
    if (hub.WantsFrames()) {
        CCameraFrameNote note;
        note.camera = this;
        note.width = width;
        note.height = height;
        note.unixTimeMs = CCameraHub::NowUnixMs();
        note.changedPixels = skipDetection ? -1 : m_motionDetector.GetLastCount();
        note.motion = m_motionActive.load(std::memory_order_relaxed);
        frame.Publish(note, m_hubFrame, width, height);
    }
    DrawWatchOverlay(frame, std::move(changed), viewMode, interval);
}

// The changed pixels and their count are shown only while the camera watches: a camera switched
// off or off its schedule shows its plain picture. Then the frame rate.
template <typename Frame>
void CCameraView::DrawWatchOverlay(const Frame& frame, CMotionDetector::BinaryImagePtr changed,
                                   int32_t viewMode, int64_t interval) {
    const int32_t state = m_stateMgr.GetState();
    const bool watching = state != CCamViewStateMgr::kInactive && state != CCamViewStateMgr::kOffSchedule;
    if (changed) {
        if (watching && (viewMode & FrameOverlay::kShowMotion) != 0) {
            frame.DrawChanged(*changed);
        }
        changed.reset();
    }
    if (watching && (viewMode & FrameOverlay::kShowPixelCount) != 0) {
        m_levelAverage.Add(m_motionDetector.GetLastCount());
        frame.DrawText(m_overlay, FrameOverlay::kPixelCountPosition,
                       FrameOverlay::PixelCountText(m_levelAverage.Average()));
    }
    if ((viewMode & FrameOverlay::kShowFrameRate) != 0 && interval != 0) {
        // An interval under 1 ms has no rate of its own; the average goes on without it.
        const int32_t fps = FrameOverlay::FrameRateOfInterval(interval);
        if (fps >= 0) {
            m_fpsAverage.Add(fps);
        }
        if (m_fpsAverage.Count() > 0) {
            frame.DrawText(m_overlay, FrameOverlay::kFrameRatePosition,
                           FrameOverlay::FrameRateText(m_fpsAverage.Average()));
        }
    }
}
