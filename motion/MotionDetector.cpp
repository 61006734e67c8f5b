#include "motion/MotionDetector.h"

#include "foundation/Tracer.h"

#include <algorithm>
#include <limits>

namespace {
// Idle images kept per pool: the grey image being filled while the reference is held, and the
// changed-pixel images the camera view may still hold.
constexpr size_t kGreyPoolCapacity = 2;
constexpr size_t kBinaryPoolCapacity = 3;
constexpr int32_t kMaxPerMille = 1000;
} // namespace

CMotionDetector::CMotionDetector(CMotionDetectorCB* callback, platform::TickSource tickSource)
    : m_callback(callback),
      m_tickSource(tickSource ? std::move(tickSource) : platform::TickSource(platform::GetTickCount32)),
      m_greyPool(CImagePool<CGrayScaleImage>::Make(kGreyPoolCapacity)),
      m_binaryPool(CImagePool<CBinaryImage>::Make(kBinaryPoolCapacity)) {}

CMotionDetector::~CMotionDetector() = default;

void CMotionDetector::SetGreyLevel(int32_t perMille) {
    platform::CAutoLock lock(m_lock);
    m_greyLevel = std::clamp(perMille, 0, kMaxPerMille) * CGrayScaleImage::kFullScale / kMaxPerMille;
}

void CMotionDetector::SetPixelCount(int32_t pixels) {
    platform::CAutoLock lock(m_lock);
    m_pixelCount = std::max(pixels, 0);
}

void CMotionDetector::SetStartDelay(int32_t milliseconds) {
    platform::CAutoLock lock(m_lock);
    m_startDelay = std::max(milliseconds, 0);
}

void CMotionDetector::SetStopDelay(int32_t milliseconds) {
    platform::CAutoLock lock(m_lock);
    m_stopDelay = std::max(milliseconds, 0);
}

void CMotionDetector::SetErosionLevel(int32_t passes) {
    platform::CAutoLock lock(m_lock);
    m_erosionLevel = std::max(passes, 0);
}

void CMotionDetector::SetMask(const CBinaryImage& mask) {
    platform::CAutoLock lock(m_lock);
    m_mask = mask;
    m_maskEnabled = true;
    m_maskMismatchTraced = false;
}

void CMotionDetector::ClearMask() {
    platform::CAutoLock lock(m_lock);
    m_maskEnabled = false;
    m_mask.Free();
    m_maskMismatchTraced = false;
}

CMotionDetector::GreyImagePtr CMotionDetector::MakeGreyImage() {
    return m_greyPool->Acquire();
}

CMotionDetector::BinaryImagePtr CMotionDetector::ProcessImage(GreyImagePtr grey) {
    platform::CAutoLock lock(m_lock);
    if (m_resetRequested.exchange(false)) {
        m_reference.reset();
    }
    if (!grey || grey->IsEmpty()) {
        return nullptr;
    }
    BinaryImagePtr changed;
    if (m_reference && !m_reference->SameSize(*grey)) {
        TraceSizeChange(grey->GetWidth(), grey->GetHeight());
    } else if (m_reference) {
        changed = m_binaryPool->Acquire();
        changed->Threshold(*m_reference, *grey, m_greyLevel);
        CountChanges(*changed);
    }
    m_reference = std::move(grey); // the old reference goes back to the pool
    return changed;
}

template <typename Fill, typename Update>
CMotionDetector::BinaryImagePtr CMotionDetector::ProcessPlane(int32_t width, int32_t height, const Fill& fill,
                                                              const Update& update) {
    platform::CAutoLock lock(m_lock);
    if (m_resetRequested.exchange(false)) {
        m_reference.reset();
    }
    if (!m_reference || m_reference->IsEmpty() || m_reference->GetWidth() != width ||
        m_reference->GetHeight() != height) {
        GreyImagePtr grey = m_greyPool->Acquire();
        fill(*grey); // a refused frame throws here, nothing changed
        if (m_reference && !m_reference->IsEmpty()) {
            TraceSizeChange(width, height);
        }
        m_reference = std::move(grey);
        return nullptr;
    }
    BinaryImagePtr changed = m_binaryPool->Acquire();
    update(*m_reference, *changed);
    CountChanges(*changed);
    return changed;
}

CMotionDetector::BinaryImagePtr CMotionDetector::ProcessFrame(const uint8_t* frame, int32_t width,
                                                              int32_t height, int32_t strideBytes) {
    if (imagekernels::ActiveKernelSet() == imagekernels::KernelSet::kSse2) {
        // Without AVX2 the fused row kernel runs short of registers and is slower (about a third
        // at 1920x1080) than converting the frame first and comparing the grey images after it;
        // both give the same bits.
        GreyImagePtr grey = m_greyPool->Acquire();
        grey->FromFrame(frame, width, height, strideBytes);
        return ProcessImage(std::move(grey));
    }
    return ProcessPlane(
        width, height, [&](CGrayScaleImage& grey) { grey.FromFrame(frame, width, height, strideBytes); },
        [&](CGrayScaleImage& reference, CBinaryImage& changed) {
            reference.UpdateFromFrame(frame, width, height, strideBytes, m_greyLevel, changed);
        });
}

CMotionDetector::BinaryImagePtr CMotionDetector::ProcessLuma(const uint8_t* luma, int32_t width, int32_t height,
                                                             int32_t strideBytes, imagekernels::LumaRange range) {
    return ProcessPlane(
        width, height, [&](CGrayScaleImage& grey) { grey.FromLuma(luma, width, height, strideBytes, range); },
        [&](CGrayScaleImage& reference, CBinaryImage& changed) {
            reference.UpdateFromLuma(luma, width, height, strideBytes, range, m_greyLevel, changed);
        });
}

void CMotionDetector::TraceSizeChange(int32_t width, int32_t height) const {
    TRACE("MotionDetector: Frame size changed from %dx%d to %dx%d, frame taken as new reference",
          m_reference->GetWidth(), m_reference->GetHeight(), width, height);
}

void CMotionDetector::CountChanges(CBinaryImage& changed) {
    // Erosion in place gives the same bits as a fresh image per pass. After as many passes as the
    // image has rows nothing is left, so further passes are skipped.
    const int32_t passes = std::min(m_erosionLevel, changed.GetHeight());
    for (int32_t i = 0; i < passes; ++i) {
        changed.Erode(changed);
    }
    if (m_maskEnabled && !changed.ApplyMask(m_mask) && !m_maskMismatchTraced) {
        TRACE("MotionDetector: Mask of %dx%d does not fit the frame size %dx%d and is ignored",
              m_mask.GetWidth(), m_mask.GetHeight(), changed.GetWidth(), changed.GetHeight());
        m_maskMismatchTraced = true;
    }
    const int64_t limit = std::min<int64_t>(int64_t{m_pixelCount} + 10, std::numeric_limits<int32_t>::max());
    m_lastCount = changed.CountPixels(static_cast<int32_t>(limit));
    RunStateMachine();
}

bool CMotionDetector::Elapsed(uint32_t now, uint32_t since, int32_t delayMs) const {
    // The unsigned difference holds across the wrap of the 32-bit tick; comparing now with
    // since + delay would not once the sum wraps.
    return static_cast<uint32_t>(now - since) >= static_cast<uint32_t>(delayMs);
}

void CMotionDetector::RunStateMachine() {
    const uint32_t now = m_tickSource();
    if (m_lastCount > m_pixelCount) {
        m_lastMotionTick = now;
        switch (m_state) {
        case kNoMotion:
            if (m_startDelay != 0) {
                m_state = kWaitingStartDelay;
                m_startTick = now;
            } else {
                m_state = kMotionActive;
            }
            break;
        case kWaitingStartDelay:
            if (Elapsed(now, m_startTick, m_startDelay)) {
                m_state = kMotionActive;
            }
            break;
        default:
            break;
        }
    } else {
        switch (m_state) {
        case kWaitingStartDelay:
            m_state = kNoMotion;
            break;
        case kMotionActive:
            if (Elapsed(now, m_lastMotionTick, m_stopDelay)) {
                m_state = kNoMotion;
            }
            break;
        default:
            break;
        }
    }
    if (m_state != m_reportedState) {
        TRACE("MotionDetector: State change from %d to %d", m_reportedState, m_state);
        if (m_callback != nullptr) {
            m_callback->OnStateChange(m_reportedState, m_state);
        }
        m_reportedState = m_state;
    }
}

int32_t CMotionDetector::GetLastCount() {
    platform::CAutoLock lock(m_lock);
    return m_lastCount;
}

void CMotionDetector::Reset() {
    m_resetRequested.store(true);
}

void CMotionDetector::EndMotion() {
    platform::CAutoLock lock(m_lock);
    m_state = kNoMotion;
    if (m_reportedState != kNoMotion) {
        TRACE("MotionDetector: State change from %d to %d", m_reportedState, m_state);
        const int32_t reported = m_reportedState;
        m_reportedState = kNoMotion;
        if (m_callback != nullptr) {
            m_callback->OnStateChange(reported, kNoMotion);
        }
    }
}

int32_t CMotionDetector::GetState() {
    platform::CAutoLock lock(m_lock);
    return m_state;
}

int32_t CMotionDetector::GetGreyLevel() {
    platform::CAutoLock lock(m_lock);
    return m_greyLevel;
}

int32_t CMotionDetector::GetPixelCount() {
    platform::CAutoLock lock(m_lock);
    return m_pixelCount;
}

int32_t CMotionDetector::GetStartDelay() {
    platform::CAutoLock lock(m_lock);
    return m_startDelay;
}

int32_t CMotionDetector::GetStopDelay() {
    platform::CAutoLock lock(m_lock);
    return m_stopDelay;
}

int32_t CMotionDetector::GetErosionLevel() {
    platform::CAutoLock lock(m_lock);
    return m_erosionLevel;
}

const char* CMotionDetector::GetStateName(int32_t state) {
    switch (state) {
    case kNoMotion:
        return "No motion";
    case kWaitingStartDelay:
        return "Waiting start delay";
    case kMotionActive:
        return "Motion active";
    default:
        return "Unknown State";
    }
}
