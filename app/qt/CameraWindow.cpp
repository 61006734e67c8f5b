#include "app/qt/CameraWindow.h"

#include "app/qt/VideoWidget.h"
#include "camera/CamViewStateMgr.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kFrameWidth = 2;

} // namespace

CCameraWindow::CCameraWindow(int32_t cameraId, QWidget* parent) : QFrame(parent), m_cameraId(cameraId) {
    setObjectName(QString("Camera%1").arg(cameraId));
    setFocusPolicy(Qt::StrongFocus); // Enter enlarges the selected pane
    setFrameShape(QFrame::Box);
    setLineWidth(kFrameWidth);
    setAutoFillBackground(true);

    m_titleBar = new QWidget(this);
    m_titleBar->setAutoFillBackground(true);
    QPalette barPalette = m_titleBar->palette();
    barPalette.setColor(QPalette::Window, QColor(40, 60, 90));
    barPalette.setColor(QPalette::WindowText, Qt::white);
    m_titleBar->setPalette(barPalette);

    m_badge = new QLabel(m_titleBar);
    m_badge->setTextFormat(Qt::PlainText);
    m_badge->setAlignment(Qt::AlignCenter);
    m_title = new QLabel(m_titleBar);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setPalette(barPalette);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // long names do not widen the pane
    QFont font = m_title->font();
    font.setBold(true);
    m_title->setFont(font);
    m_activate = new QPushButton(kActivateText, m_titleBar);
    m_activate->setFocusPolicy(Qt::TabFocus);
    connect(m_activate, &QPushButton::clicked, this, [this] { emit ActivateClicked(m_cameraId); });

    auto* bar = new QHBoxLayout(m_titleBar);
    bar->setContentsMargins(3, 2, 3, 2);
    bar->setSpacing(6);
    bar->addWidget(m_badge);
    bar->addWidget(m_title, 1);
    bar->addWidget(m_activate);

    m_video = new CVideoWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kFrameWidth, kFrameWidth, kFrameWidth, kFrameWidth);
    layout->setSpacing(0);
    layout->addWidget(m_titleBar);
    layout->addWidget(m_video, 1);
    SetState(CCamViewStateMgr::kNotCalculated, "...");
    SetSelected(false);
}

void CCameraWindow::SetTitle(const QString& cameraName, const QString& stateText) {
    const QString text = stateText.isEmpty() ? cameraName : cameraName + " - " + stateText;
    m_title->setText(text);
    m_title->setToolTip(text);
}

QColor CCameraWindow::BadgeColour(int32_t state) {
    switch (state) {
    case CCamViewStateMgr::kRecording:
        return {200, 30, 30};
    case CCamViewStateMgr::kIdle:
        return {40, 150, 60};
    case CCamViewStateMgr::kUnavailable:
    case CCamViewStateMgr::kUnable2Rec:
        return {230, 150, 20};
    case CCamViewStateMgr::kCntDown:
        return {40, 110, 200};
    default:
        return {120, 120, 120}; // Inactive, Off Schedule, not yet known
    }
}

void CCameraWindow::SetState(int32_t state, const QString& stateText, const QString& reason) {
    m_state = state;
    // Recording has its dot, as a recorder's lamp.
    m_badge->setText(state == CCamViewStateMgr::kRecording ? QString::fromUtf8("\u25CF ") + stateText
                                                           : stateText);
    const QColor colour = BadgeColour(state);
    const QColor text = state == CCamViewStateMgr::kUnavailable || state == CCamViewStateMgr::kUnable2Rec
                            ? QColor(Qt::black)
                            : QColor(Qt::white);
    m_badge->setStyleSheet(QString("QLabel { background-color: %1; color: %2; border-radius: 3px; "
                                   "padding: 1px 6px; font-weight: bold; }")
                               .arg(colour.name(), text.name()));
    m_badge->setToolTip(reason.isEmpty() ? stateText : stateText + ": " + reason);
}

void CCameraWindow::SetActivated(bool activated) {
    m_activate->setText(activated ? kDeactivateText : kActivateText);
}

void CCameraWindow::SetSelected(bool selected) {
    m_selected = selected;
    QPalette framePalette = palette();
    const QColor edge = selected ? QColor(255, 190, 0) : QColor(60, 60, 60);
    framePalette.setColor(QPalette::WindowText, edge); // the Box frame's colour
    framePalette.setColor(QPalette::Window, edge);
    setPalette(framePalette);
    m_titleBar->setPalette(m_titleBar->palette()); // keeps its own colours
}

int CCameraWindow::ChromeHeight() const {
    return m_titleBar->sizeHint().height() + 2 * kFrameWidth;
}
