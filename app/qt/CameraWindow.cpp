#include "app/qt/CameraWindow.h"

#include "app/qt/VideoWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CCameraWindow::CCameraWindow(int32_t cameraId, QWidget* parent) : QFrame(parent), m_cameraId(cameraId) {
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QString("Camera%1").arg(cameraId));
    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setAutoFillBackground(true);
    QPalette palette = m_title->palette();
    palette.setColor(QPalette::Window, QColor(40, 60, 90));
    palette.setColor(QPalette::WindowText, Qt::white);
    m_title->setPalette(palette);
    m_title->setMargin(3);
    QFont font = m_title->font();
    font.setBold(true);
    m_title->setFont(font);
    m_video = new CVideoWidget(this);
    m_activate = new QPushButton(kActivateText, this);
    connect(m_activate, &QPushButton::clicked, this, [this] { emit ActivateClicked(m_cameraId); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_activate);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(m_title);
    layout->addWidget(m_video, 1);
    layout->addLayout(buttons);
}

void CCameraWindow::SetTitle(const QString& cameraName, const QString& stateText) {
    m_title->setText(stateText.isEmpty() ? cameraName : cameraName + " - " + stateText);
}

void CCameraWindow::SetActivated(bool activated) {
    m_activate->setText(activated ? kDeactivateText : kActivateText);
}
