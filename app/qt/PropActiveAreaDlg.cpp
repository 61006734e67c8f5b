#include "app/qt/PropActiveAreaDlg.h"

#include "app/qt/BitmapPaintCtrl.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

CPropActiveAreaDlg::CPropActiveAreaDlg(CTavrixDocData& data, int32_t cameraId, ISnapshotSource* snapshots,
                                       QWidget* parent)
    : CCameraPage(data, cameraId, parent) {
    m_paint = new CBitmapPaintCtrl(this);
    m_paint->setMinimumSize(340, 260);

    // Tool buttons in the order the user sees them; each carries its tool index.
    struct ToolInfo {
        const char* text;
        int tool;
    };
    const ToolInfo tools[] = {{"Freehand", CBitmapPaintCtrl::kFreehand},
                              {"Line", CBitmapPaintCtrl::kLine},
                              {"Rectangle", CBitmapPaintCtrl::kRectangle},
                              {"Circle", CBitmapPaintCtrl::kCircle},
                              {"Fill", CBitmapPaintCtrl::kFill}};
    auto* toolGroup = new QButtonGroup(this);
    toolGroup->setExclusive(true);
    auto* toolRow = new QHBoxLayout;
    for (const ToolInfo& info : tools) {
        auto* button = new QToolButton(this);
        button->setText(info.text);
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        toolGroup->addButton(button, info.tool);
        toolRow->addWidget(button);
        m_tools[info.tool] = button;
    }
    m_tools[CBitmapPaintCtrl::kFreehand]->setChecked(true);
    connect(toolGroup, &QButtonGroup::idClicked, m_paint, &CBitmapPaintCtrl::SetTool);
    auto* clearAll = new QPushButton("Clear All", this);
    connect(clearAll, &QPushButton::clicked, m_paint, &CBitmapPaintCtrl::ClearAll);
    toolRow->addStretch(1);
    toolRow->addWidget(clearAll);

    m_zoom = new QComboBox(this);
    for (const int percent : kZoomPercents) {
        m_zoom->addItem(QString("%1 %").arg(percent), percent);
    }
    m_zoom->setCurrentIndex(m_zoom->findData(100));
    connect(m_zoom, &QComboBox::currentIndexChanged, this,
            [this](int) { m_paint->SetZoom(m_zoom->currentData().toInt() / 100.0); });

    m_penSize = new QComboBox(this);
    for (int size = 1; size <= 9; ++size) {
        m_penSize->addItem(QString::number(size), size);
    }
    connect(m_penSize, &QComboBox::currentIndexChanged, this,
            [this](int) { m_paint->SetPenWidth(m_penSize->currentData().toInt()); });

    m_colour = new QComboBox(this);
    m_colour->addItem("Active", CBitmapPaintCtrl::kPaintActive);
    m_colour->addItem("Inactive", CBitmapPaintCtrl::kPaintInactive);
    m_colour->setCurrentIndex(1);
    connect(m_colour, &QComboBox::currentIndexChanged, this,
            [this](int) { m_paint->SetPaintMode(m_colour->currentData().toInt()); });

    m_enable = new QCheckBox("Enable Active Area", this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);

    auto* optionRow = new QHBoxLayout;
    const auto addLabelled = [&](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        optionRow->addWidget(label);
        optionRow->addWidget(field);
    };
    addLabelled("&Zoom:", m_zoom);
    addLabelled("&Pen Size:", m_penSize);
    addLabelled("&Color:", m_colour);
    optionRow->addStretch(1);
    optionRow->addWidget(m_enable);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(toolRow);
    layout->addWidget(m_paint, 1);
    layout->addLayout(optionRow);
    layout->addWidget(m_status);

    // Load: the stored state, then the picture when it comes.
    m_paint->ResetPicture();
    m_enable->setChecked(Camera().m_areaMaskEnabled);
    if (snapshots == nullptr) {
        m_status->setText("No picture of the camera is available: the mask cannot be painted now.");
        return;
    }
    m_status->setText("Waiting for a picture of the camera...");
    QPointer<CPropActiveAreaDlg> guard(this);
    snapshots->RequestSnapshot(m_cameraId, [guard](std::optional<QImage> picture) {
        if (guard) {
            guard->OnSnapshot(std::move(picture));
        }
    });
}

QToolButton* CPropActiveAreaDlg::ToolButton(int tool) const {
    return tool >= 0 && tool < 5 ? m_tools[tool] : nullptr;
}

void CPropActiveAreaDlg::OnSnapshot(std::optional<QImage> picture) {
    if (picture && !picture->isNull()) {
        m_paint->SetBackgroundImage(*picture);
        m_paint->SetMaskImage(Camera().m_areaMaskImage);
        m_status->setText(QString("Paint the areas where motion is to be ignored (%1 x %2 pixels).")
                              .arg(picture->width())
                              .arg(picture->height()));
    } else {
        m_paint->ResetPicture();
        m_status->setText("The camera delivered no picture: the mask cannot be painted now.");
    }
    emit SnapshotFinished();
}

void CPropActiveAreaDlg::Store() {
    CCamera& camera = Camera();
    camera.m_areaMaskEnabled = m_enable->isChecked();
    m_paint->GetMaskImage(camera.m_areaMaskImage); // without a picture the stored mask stays
    m_paint->ResetPicture();
}
