#include "app/qt/RecordingPlayer.h"

#include "foundation/Exceptions.h"
#include "library/RecordingCatalogue.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString TimeText(int64_t ms) {
    if (ms < 0) {
        ms = 0;
    }
    const int64_t seconds = ms / 1000;
    return QString("%1:%2.%3").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0')).arg((ms % 1000) / 100);
}

} // namespace

CMotionSeekBar::CMotionSeekBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setMinimumHeight(28);
}

void CMotionSeekBar::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (m_moments.empty() || maximum() <= minimum()) {
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 40, 40));
    for (const int64_t moment : m_moments) {
        const double share = static_cast<double>(moment - minimum()) / (maximum() - minimum());
        const int x = groove.left() + static_cast<int>(share * groove.width());
        painter.drawRect(x - 1, height() - 6, 3, 6);
    }
}

CRecordingPlayer::CRecordingPlayer(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_playback([this](const uint8_t* rgbx, int32_t width, int32_t height, int32_t stride, int64_t) {
          OnFrame(rgbx, width, height, stride);
      }) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(480, 360);
    resize(800, 600);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1); // the video is painted into the space above the controls
    m_controls = new QWidget(this);
    auto* row = new QHBoxLayout(m_controls);
    m_playButton = new QPushButton("Play", m_controls);
    auto* step = new QPushButton("Step", m_controls);
    step->setToolTip("Next frame");
    m_seekBar = new CMotionSeekBar(m_controls);
    m_time = new QLabel("0:00.0", m_controls);
    m_speed = new QComboBox(m_controls);
    for (const char* speed : kSpeeds) {
        m_speed->addItem(speed);
    }
    m_speed->setCurrentIndex(1);
    auto* fullScreen = new QPushButton("Full screen", m_controls);
    auto* still = new QPushButton("Export still...", m_controls);
    row->addWidget(m_playButton);
    row->addWidget(step);
    row->addWidget(m_seekBar, 1);
    row->addWidget(m_time);
    row->addWidget(m_speed);
    row->addWidget(fullScreen);
    row->addWidget(still);
    layout->addWidget(m_controls);
    ConnectControls(step, fullScreen, still);
}

void CRecordingPlayer::ConnectControls(QPushButton* step, QPushButton* fullScreen, QPushButton* still) {
    connect(m_playButton, &QPushButton::clicked, this, &CRecordingPlayer::TogglePlay);
    connect(step, &QPushButton::clicked, this, &CRecordingPlayer::StepFrame);
    connect(fullScreen, &QPushButton::clicked, this, &CRecordingPlayer::ToggleFullScreen);
    connect(still, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getSaveFileName(
            this, "Export still", QFileInfo(m_path).completeBaseName() + ".png", "PNG images (*.png)");
        if (!file.isEmpty()) {
            ExportStill(file);
        }
    });
    connect(m_speed, &QComboBox::currentIndexChanged, this, [this](int index) {
        static const double rates[] = {0.5, 1, 2, 4, 8};
        if (index >= 0 && index < 5) {
            SetSpeed(rates[index]);
        }
    });
    connect(m_seekBar, &QSlider::sliderPressed, this, [this] { m_userSeeking = true; });
    connect(m_seekBar, &QSlider::sliderReleased, this, [this] {
        m_userSeeking = false;
        SeekTo(m_seekBar->value());
    });
    connect(m_seekBar, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && !m_userSeeking) {
            QTimer::singleShot(0, this, [this] { SeekTo(m_seekBar->value()); });
        }
    });
    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &CRecordingPlayer::OnTick);
    m_timer->start();
}

CRecordingPlayer::~CRecordingPlayer() {
    // The streaming thread must be gone before the frame buffers are.
    m_playback.Close();
}

CRecordingPlayer* CRecordingPlayer::ShowRecording(const QString& path, const QString& userDbPath,
                                                  QWidget* parent) {
    std::vector<int64_t> moments;
    if (!userDbPath.isEmpty()) {
        try {
            CRecordingCatalogue catalogue;
            catalogue.Open(userDbPath.toStdString());
            if (const std::optional<CRecording> row = catalogue.FindByPath(path.toStdString())) {
                moments = row->motionMs;
            }
        } catch (const std::exception&) {
            // Without the catalogue the recording plays without its marks.
        } catch (const CBaseException&) {
        }
    }
    auto* player = new CRecordingPlayer(parent);
    player->setAttribute(Qt::WA_DeleteOnClose, true);
    player->Open(path, std::move(moments));
    player->show();
    player->raise();
    return player;
}

bool CRecordingPlayer::Open(const QString& path, std::vector<int64_t> motionMs) {
    m_path = path;
    m_error.clear();
    setWindowTitle(QFileInfo(path).fileName() + " - Tavrix");
    std::string error;
    if (!m_playback.Open(path.toStdString(), &error)) {
        m_error = QString("'%1' cannot be played: %2").arg(path, QString::fromStdString(error));
        update();
        return false;
    }
    const int64_t duration = m_playback.DurationMs();
    m_seekBar->setRange(0, static_cast<int>(std::max<int64_t>(duration, 0)));
    m_seekBar->setSingleStep(100);
    m_seekBar->setPageStep(5000);
    m_seekBar->SetMoments(std::move(motionMs));
    OnTick();
    return true;
}

void CRecordingPlayer::Play() {
    m_playback.Play();
    m_playButton->setText("Pause");
}

void CRecordingPlayer::Pause() {
    m_playback.Pause();
    m_playButton->setText("Play");
}

void CRecordingPlayer::TogglePlay() {
    if (m_playback.IsPlaying()) {
        Pause();
    } else {
        Play();
    }
}

void CRecordingPlayer::StepFrame() {
    m_playback.StepFrame();
    m_playButton->setText("Play");
}

void CRecordingPlayer::SetSpeed(double rate) {
    m_playback.SetRate(rate);
}

void CRecordingPlayer::SeekTo(int64_t ms) {
    m_playback.Seek(ms);
}

void CRecordingPlayer::ToggleFullScreen() {
    setWindowState(windowState() ^ Qt::WindowFullScreen);
}

bool CRecordingPlayer::ExportStill(const QString& path) {
    TakeFrame();
    return !m_frame.isNull() && m_frame.save(path, "PNG");
}

void CRecordingPlayer::OnFrame(const uint8_t* rgbx, int32_t width, int32_t height, int32_t stride) {
    // A deep copy: the decoder's buffer goes back when this returns.
    QImage copy = QImage(rgbx, width, height, stride, QImage::Format_RGBX8888).copy();
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_pending = std::move(copy);
    }
    if (!m_repaintQueued.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { TakeFrame(); }, Qt::QueuedConnection);
    }
}

void CRecordingPlayer::TakeFrame() {
    m_repaintQueued.store(false);
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        frame = std::move(m_pending);
        m_pending = QImage();
    }
    if (!frame.isNull()) {
        m_frame = std::move(frame);
        ++m_framesShown;
        update(VideoRect());
    }
}

void CRecordingPlayer::OnTick() {
    std::string error;
    const bool ended = m_playback.Poll(&error);
    if (!error.empty()) {
        m_error = QString::fromStdString(error);
        update();
    }
    if (ended || !m_playback.IsPlaying()) {
        m_playButton->setText("Play");
    }
    const int64_t position = m_playback.PositionMs();
    if (!m_userSeeking && position >= 0) {
        const QSignalBlocker block(m_seekBar);
        m_seekBar->setValue(static_cast<int>(position));
    }
    m_time->setText(TimeText(position) + " / " + TimeText(m_playback.DurationMs()));
}

QRect CRecordingPlayer::VideoRect() const {
    return QRect(0, 0, width(), height() - m_controls->height());
}

void CRecordingPlayer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = VideoRect();
    painter.fillRect(area, Qt::black);
    if (!m_error.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(area.adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, m_error);
        return;
    }
    if (m_frame.isNull()) {
        return;
    }
    QSize size = m_frame.size().scaled(area.size(), Qt::KeepAspectRatio);
    const QRect target(area.left() + (area.width() - size.width()) / 2,
                       area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
}

void CRecordingPlayer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        TogglePlay();
        return;
    case Qt::Key_Period:
    case Qt::Key_Right:
        StepFrame();
        return;
    case Qt::Key_F:
    case Qt::Key_F11:
        ToggleFullScreen();
        return;
    case Qt::Key_Escape:
        if (isFullScreen()) {
            ToggleFullScreen();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}
