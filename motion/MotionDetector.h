#pragma once
// The motion detector of one camera. The camera view hands it the grey-level image of every frame;
// the detector compares it with the previous frame's image (frame-to-frame differencing, no
// background model), thresholds the difference, erodes it, masks it, counts the changed pixels and
// runs the three-state machine "No motion" -> "Waiting start delay" -> "Motion active" with a start
// and a stop delay. State changes are reported to the camera view through CMotionDetectorCB.
//
// Buffers: the camera view hands over each frame with ProcessFrame, which makes the frame's grey
// values and compares them with the reference in one pass, writing them over the reference in its
// own buffer: the frame's grey image becomes the next reference without a second grey image per
// frame. ProcessImage takes an already made grey image instead (from MakeGreyImage, a recycled
// buffer, filled with FromFrame) and keeps it as the next reference (the old one goes back to a
// pool, no copy). Both give the same changed pixels, counts and states. The changed-pixel image
// travels as an owning pointer whose deleter returns it to a pool of the detector (CImagePool) when
// the view drops it. Erosion runs in place. Once the sizes are known no frame allocates. Pointers
// may outlive the detector (the pools are shared).
//
// Threads: ProcessFrame and ProcessImage on the camera's streaming thread; the setters, SetMask,
// ClearMask and GetLastCount from the user-interface thread, the streaming thread (overlay) and the
// countdown thread (Reset). Every operation but Reset takes m_lock. OnStateChange is called on the
// streaming thread with m_lock held, so the lock order is detector lock -> camera lock. Reset only
// leaves a request that the next frame carries out: it never waits, so the countdown's last tick
// cannot hang on a frame that waits for the camera lock.

#include "motion/BinaryImage.h"
#include "motion/GrayScaleImage.h"
#include "motion/ImagePool.h"
#include "platform/Sync.h"
#include "platform/Time.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CMotionDetectorCB {
public:
    virtual void OnStateChange(int32_t oldState, int32_t newState) = 0;

protected:
    ~CMotionDetectorCB() = default;
};

class CMotionDetector {
public:
    // Motion states, as traced and reported.
    static constexpr int32_t kNoMotion = 0;
    static constexpr int32_t kWaitingStartDelay = 1;
    static constexpr int32_t kMotionActive = 2;

    using GreyImagePtr = CImagePool<CGrayScaleImage>::Ptr;
    using BinaryImagePtr = CImagePool<CBinaryImage>::Ptr;

    // callback may be null (nothing is told). tickSource defaults to platform::GetTickCount32.
    explicit CMotionDetector(CMotionDetectorCB* callback, platform::TickSource tickSource = {});
    ~CMotionDetector();
    CMotionDetector(const CMotionDetector&) = delete;
    CMotionDetector& operator=(const CMotionDetector&) = delete;

    // The camera settings, applied in this order whenever the camera's options are applied. Values
    // outside the settings' ranges are clamped: grey level 0..1000 thousandths of the full grey
    // scale (greyLevel = perMille · 18615 / 1000), counts, delays and passes not below 0.
    void SetGreyLevel(int32_t perMille);
    void SetPixelCount(int32_t pixels);
    void SetStartDelay(int32_t milliseconds);
    void SetStopDelay(int32_t milliseconds);
    void SetErosionLevel(int32_t passes);
    // Copies the area mask (set bits = ignored pixels) and enables it; ClearMask disables and
    // frees it. A mask whose size differs from the frames is ignored (traced once per mask).
    void SetMask(const CBinaryImage& mask);
    void ClearMask();

    // An image for the next frame's grey values: a recycled buffer (content undefined).
    GreyImagePtr MakeGreyImage();
    // Processes one frame's grey image and keeps it as the next reference. Returns the frame's
    // changed pixels (after erosion and mask), or null on the first frame after construction or
    // Reset, for a null or empty image, and when the frame size changed (the frame then becomes
    // the new reference, as after Reset).
    BinaryImagePtr ProcessImage(GreyImagePtr grey);
    // The same for a BGR frame whose rows lie strideBytes apart (0: packed), as MakeGreyImage,
    // FromFrame and ProcessImage would do it but in one pass over the frame. A frame that FromFrame
    // refuses throws CGeneralEx as FromFrame does.
    BinaryImagePtr ProcessFrame(const uint8_t* frame, int32_t width, int32_t height, int32_t strideBytes = 0);
    // The same for the luma plane of a YUV frame (one byte a pixel, rows strideBytes apart, 0:
    // packed), read onto the same grey scale (CGrayScaleImage::FromLuma), so that the grey level
    // keeps its meaning: no BGR frame is made for detection. A plane FromLuma refuses throws.
    BinaryImagePtr ProcessLuma(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes,
                               imagekernels::LumaRange range);

    // The changed-pixel count of the last processed frame (counting stops at pixelCount + 10).
    int32_t GetLastCount();
    // Drops the reference so that the next frame only becomes the new reference; the motion state
    // stays as it is. Does not wait for a frame in progress.
    void Reset();
    // Returns the motion state to "No motion" at once, telling the callback (on the caller's
    // thread, with m_lock held) when another state had been reported: for a camera whose pictures
    // stopped, so that its next motion is reported as new motion. Waits for a frame in progress.
    void EndMotion();
    int32_t GetState();

    int32_t GetGreyLevel();
    int32_t GetPixelCount();
    int32_t GetStartDelay();
    int32_t GetStopDelay();
    int32_t GetErosionLevel();

    // "No motion", "Waiting start delay", "Motion active", or "Unknown State".
    static const char* GetStateName(int32_t state);

private:
    // Erosion, mask, count and state machine on the frame's thresholded changes.
    void CountChanges(CBinaryImage& changed);
    void TraceSizeChange(int32_t width, int32_t height) const;
    // ProcessFrame and ProcessLuma: fill(image) makes a new reference, update(image, changed)
    // updates it and marks the changes.
    template <typename Fill, typename Update>
    BinaryImagePtr ProcessPlane(int32_t width, int32_t height, const Fill& fill, const Update& update);
    void RunStateMachine();
    bool Elapsed(uint32_t now, uint32_t since, int32_t delayMs) const;

    std::atomic<bool> m_resetRequested{false};
    platform::CCritSec m_lock; // guards every field below; taken before the camera lock
    int32_t m_greyLevel = 9307;
    int32_t m_pixelCount = 100;
    int32_t m_startDelay = 0;
    int32_t m_stopDelay = 10000;
    int32_t m_erosionLevel = 1;
    int32_t m_state = kNoMotion;
    int32_t m_reportedState = kNoMotion;
    uint32_t m_startTick = 0;
    uint32_t m_lastMotionTick = 0;
    int32_t m_lastCount = 0;
    CMotionDetectorCB* m_callback;
    platform::TickSource m_tickSource;
    GreyImagePtr m_reference;
    CBinaryImage m_mask;
    bool m_maskEnabled = false;
    bool m_maskMismatchTraced = false;
    std::shared_ptr<CImagePool<CGrayScaleImage>> m_greyPool;
    std::shared_ptr<CImagePool<CBinaryImage>> m_binaryPool;
};
