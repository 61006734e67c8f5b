#pragma once
// CVideoWidget: the live picture of one camera in its camera window, overlay texts included. The
// camera's preview pipeline ends in a sink whose streaming thread converts each frame into a
// QImage (CreateRenderer) and leaves it in the widget's mailbox; a queued call on the GUI thread
// then takes the newest picture and repaints. While that call is pending, newer frames replace
// the waiting one, so a busy GUI thread sees fewer frames and the capture never waits for it.
//
// When the picture is drawn smaller than it is, the text burned into the frame shrinks below
// reading size: the widget then draws its caption (the camera's state and changed-pixel count,
// set by the document's view) in the interface's font on a dark strip at the picture's bottom,
// where the frame's own pixel count and rate are.
//
// A mask overlay (the camera's active area, semi-transparent) is drawn over the picture when it has
// the picture's size; a mask of another size belongs to another format and is left out.
//
// The widget lives on the GUI thread; the mailbox is shared with the streaming thread.

#include "camera/VideoRenderer.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

class CVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit CVideoWidget(QWidget* parent = nullptr);
    ~CVideoWidget() override;

    // A video output for a new pipeline of the camera, feeding this widget.
    std::unique_ptr<IVideoRenderer> CreateRenderer();

    // The picture shown (null before the first frame and after the video was hidden).
    const QImage& CurrentFrame() const { return m_frame; }
    int64_t FramesShown() const { return m_framesShown; }
    int64_t FramesDelivered() const;

    QSize sizeHint() const override;

    void SetCaption(const QString& caption);
    const QString& Caption() const { return m_caption; }
    // Whether the caption is drawn at the widget's present size (the picture is shrunk).
    bool CaptionShown() const;

    // The overlay drawn over the picture (null: none).
    void SetMaskOverlay(QImage overlay);
    const QImage& MaskOverlay() const { return m_maskOverlay; }
    // Whether the overlay is drawn now: one is set and has the picture's size.
    bool MaskOverlayShown() const;

    // Streaming thread: converts a BGR frame and leaves it for the GUI thread. Public for the
    // renderer's consumer and the tests.
    struct CMailbox;
    static void Deliver(const std::shared_ptr<CMailbox>& mailbox, const uint8_t* bgr, int32_t width,
                        int32_t height, int32_t stride);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void TakeFrame();
    void SetVideoSize(int32_t width, int32_t height);
    void ShowVideo(bool visible);

    std::shared_ptr<CMailbox> m_mailbox;
    QImage m_frame;
    QSize m_videoSize{320, 240};
    bool m_visible = true;
    QString m_caption;
    QImage m_maskOverlay;
    int64_t m_framesShown = 0;
};

struct CVideoWidget::CMailbox {
    std::mutex lock;                  // guards the fields below
    CVideoWidget* receiver = nullptr; // cleared by the widget's destructor
    QImage waiting;                   // the newest frame not yet taken
    bool callPending = false;         // a TakeFrame call is queued
    std::atomic<int64_t> delivered{0};
};
