#include "app/qt/VideoWidget.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>
#include <functional>
#include <utility>

CVideoWidget::CVideoWidget(QWidget* parent) : QWidget(parent), m_mailbox(std::make_shared<CMailbox>()) {
    m_mailbox->receiver = this;
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(160, 120);
}

CVideoWidget::~CVideoWidget() {
    std::lock_guard<std::mutex> lock(m_mailbox->lock);
    m_mailbox->receiver = nullptr; // frames still in flight are dropped from now on
}

std::unique_ptr<IVideoRenderer> CVideoWidget::CreateRenderer() {
    const std::shared_ptr<CMailbox> mailbox = m_mailbox;
    // Placing and hiding may come from the pipeline's event thread (a lost device): they reach
    // the widget as queued calls, like the frames.
    const auto post = [mailbox](std::function<void(CVideoWidget&)> call) {
        std::lock_guard<std::mutex> lock(mailbox->lock);
        if (CVideoWidget* receiver = mailbox->receiver) {
            // Queued on the widget itself: dropped if it is destroyed before the call runs.
            QMetaObject::invokeMethod(
                receiver, [receiver, call] { call(*receiver); }, Qt::QueuedConnection);
        }
    };
    return std::make_unique<CFrameConsumerRenderer>(
        [mailbox](const uint8_t* bgr, int32_t width, int32_t height, int32_t stride) {
            Deliver(mailbox, bgr, width, height, stride);
        },
        [post](int32_t, int32_t, int32_t width, int32_t height) {
            post([width, height](CVideoWidget& widget) { widget.SetVideoSize(width, height); });
        },
        [post](bool visible) { post([visible](CVideoWidget& widget) { widget.ShowVideo(visible); }); });
}

void CVideoWidget::Deliver(const std::shared_ptr<CMailbox>& mailbox, const uint8_t* bgr, int32_t width,
                           int32_t height, int32_t stride) {
    if (bgr == nullptr || width <= 0 || height <= 0 || stride < width * 3) {
        return;
    }
    // The conversion happens here, on the streaming thread, outside the mailbox lock.
    QImage frame(width, height, QImage::Format_BGR888);
    if (frame.isNull()) {
        return;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(frame.scanLine(y), bgr + static_cast<size_t>(y) * static_cast<size_t>(stride), rowBytes);
    }
    mailbox->delivered.fetch_add(1, std::memory_order_relaxed);
    QImage dropped; // an older frame that nobody took, released outside the lock
    std::lock_guard<std::mutex> lock(mailbox->lock);
    if (mailbox->receiver == nullptr) {
        return;
    }
    dropped.swap(mailbox->waiting);
    mailbox->waiting = std::move(frame);
    if (!mailbox->callPending) {
        mailbox->callPending = true;
        // Posting only queues an event; the receiver cannot go away meanwhile (its destructor
        // takes this lock first).
        QMetaObject::invokeMethod(mailbox->receiver, &CVideoWidget::TakeFrame, Qt::QueuedConnection);
    }
}

void CVideoWidget::TakeFrame() {
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(m_mailbox->lock);
        m_mailbox->callPending = false;
        frame.swap(m_mailbox->waiting);
    }
    if (frame.isNull() || !m_visible) {
        return;
    }
    m_frame = std::move(frame);
    ++m_framesShown;
    if (m_frame.size() != m_videoSize) {
        SetVideoSize(m_frame.width(), m_frame.height());
    }
    update();
}

int64_t CVideoWidget::FramesDelivered() const {
    return m_mailbox->delivered.load(std::memory_order_relaxed);
}

void CVideoWidget::SetVideoSize(int32_t width, int32_t height) {
    if (width > 1 && height > 1 && QSize(width, height) != m_videoSize) {
        m_videoSize = QSize(width, height);
        updateGeometry();
    }
}

void CVideoWidget::ShowVideo(bool visible) {
    m_visible = visible;
    if (!visible) {
        m_frame = QImage();
    }
    update();
}

void CVideoWidget::SetCaption(const QString& caption) {
    if (caption != m_caption) {
        m_caption = caption;
        update();
    }
}

bool CVideoWidget::CaptionShown() const {
    if (m_caption.isEmpty() || m_frame.isNull()) {
        return false;
    }
    const QSize shown = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
    return shown.width() < m_frame.width();
}

void CVideoWidget::SetMaskOverlay(QImage overlay) {
    m_maskOverlay = std::move(overlay);
    update();
}

bool CVideoWidget::MaskOverlayShown() const {
    return !m_maskOverlay.isNull() && !m_frame.isNull() && m_maskOverlay.size() == m_frame.size();
}

QSize CVideoWidget::sizeHint() const {
    return m_videoSize;
}

void CVideoWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_frame.isNull()) {
        painter.setPen(Qt::gray);
        painter.drawText(rect(), Qt::AlignCenter, "No picture");
        return;
    }
    // The whole picture, as large as fits, centred.
    QSize shown = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shown != m_frame.size());
    painter.drawImage(target, m_frame);
    if (MaskOverlayShown()) {
        painter.drawImage(target, m_maskOverlay);
    }
    if (CaptionShown()) {
        const int strip = fontMetrics().height() + 4;
        const QRect bar(target.left(), target.bottom() + 1 - strip, target.width(), strip);
        painter.fillRect(bar, QColor(0, 0, 0, 170));
        painter.setPen(Qt::white);
        painter.drawText(bar.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(m_caption, Qt::ElideRight, bar.width() - 8));
    }
}
