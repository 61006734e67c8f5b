#include "app/qt/PropActiveAreaDlg.h"

#include "app/qt/BitmapPaintCtrl.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

CPropActiveAreaDlg::CPropActiveAreaDlg(CTavrixDocData& data, int32_t cameraId, ISnapshotSource* snapshots,
                                       QWidget* parent)
    : CCameraPage(data, cameraId, parent), m_snapshots(snapshots) {
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
    // Where the user paints, so that switching the mask on is not overlooked.
    m_enable = new QCheckBox("Enable Active Area", this);
    QFont enableFont = m_enable->font();
    enableFont.setBold(true);
    m_enable->setFont(enableFont);
    toolRow->addWidget(m_enable);
    toolRow->addSpacing(12);
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
    m_undo = new QToolButton(this);
    m_undo->setText("Undo");
    m_undo->setToolTip("Undo the last stroke (Ctrl+Z)");
    m_redo = new QToolButton(this);
    m_redo->setText("Redo");
    m_redo->setToolTip("Redo what was undone (Ctrl+Shift+Z)");
    connect(m_undo, &QToolButton::clicked, m_paint, &CBitmapPaintCtrl::Undo);
    connect(m_redo, &QToolButton::clicked, m_paint, &CBitmapPaintCtrl::Redo);
    auto* undoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this, nullptr, nullptr,
                                  Qt::WidgetWithChildrenShortcut);
    connect(undoKey, &QShortcut::activated, m_paint, &CBitmapPaintCtrl::Undo);
    auto* redoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this, nullptr, nullptr,
                                  Qt::WidgetWithChildrenShortcut);
    connect(redoKey, &QShortcut::activated, m_paint, &CBitmapPaintCtrl::Redo);
    connect(m_paint, &CBitmapPaintCtrl::MaskEdited, this, &CPropActiveAreaDlg::UpdateUndoButtons);
    auto* clearAll = new QPushButton("Clear All", this);
    connect(clearAll, &QPushButton::clicked, m_paint, &CBitmapPaintCtrl::ClearAll);
    auto* refresh = new QPushButton("Refresh Picture", this);
    refresh->setEnabled(snapshots != nullptr);
    connect(refresh, &QPushButton::clicked, this, &CPropActiveAreaDlg::RefreshPicture);
    toolRow->addSpacing(12);
    toolRow->addWidget(m_undo);
    toolRow->addWidget(m_redo);
    toolRow->addStretch(1);
    toolRow->addWidget(clearAll);
    toolRow->addWidget(refresh);

    m_zoom = new QComboBox(this);
    for (const int percent : kZoomPercents) {
        m_zoom->addItem(QString("%1 %").arg(percent), percent);
    }
    m_zoom->addItem("Fit", kZoomFit);
    m_zoom->setCurrentIndex(m_zoom->findData(kZoomFit));
    connect(m_zoom, &QComboBox::currentIndexChanged, this, [this](int) { ApplyZoom(); });

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

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(toolRow);
    layout->addWidget(m_paint, 1);
    layout->addLayout(optionRow);
    layout->addWidget(m_status);

    // Load: the stored state, then the picture when it comes.
    m_paint->ResetPicture();
    m_enable->setChecked(Camera().m_areaMaskEnabled);
    UpdateUndoButtons();
    if (snapshots == nullptr) {
        m_status->setText("No picture of the camera is available: the mask cannot be painted now.");
        return;
    }
    RefreshPicture();
    UpdateUndoButtons();
}

void CPropActiveAreaDlg::RefreshPicture() {
    if (m_snapshots == nullptr) {
        return;
    }
    m_status->setText("Waiting for a picture of the camera...");
    QPointer<CPropActiveAreaDlg> guard(this);
    m_snapshots->RequestSnapshot(m_cameraId, [guard](std::optional<QImage> picture) {
        if (guard) {
            guard->OnSnapshot(std::move(picture));
        }
    });
}

void CPropActiveAreaDlg::ApplyZoom() {
    const int percent = m_zoom->currentData().toInt();
    m_paint->SetZoom(percent == kZoomFit ? m_paint->FitZoom() : percent / 100.0);
}

void CPropActiveAreaDlg::UpdateUndoButtons() {
    m_undo->setEnabled(m_paint->CanUndo());
    m_redo->setEnabled(m_paint->CanRedo());
}

void CPropActiveAreaDlg::resizeEvent(QResizeEvent* event) {
    CCameraPage::resizeEvent(event);
    if (m_zoom->currentData().toInt() == kZoomFit) {
        ApplyZoom();
    }
}

QToolButton* CPropActiveAreaDlg::ToolButton(int tool) const {
    return tool >= 0 && tool < 5 ? m_tools[tool] : nullptr;
}

void CPropActiveAreaDlg::OnSnapshot(std::optional<QImage> picture) {
    if (picture && !picture->isNull()) {
        // A refreshed picture of the same size keeps the mask painted so far.
        const bool keepMask = m_paint->HasPicture() && m_paint->GetMaskBitmap().width == picture->width() &&
                              m_paint->GetMaskBitmap().height == picture->height();
        m_paint->SetBackgroundImage(*picture);
        if (!keepMask) {
            m_paint->SetMaskImage(Camera().m_areaMaskImage);
        }
        ApplyZoom();
        UpdateUndoButtons();
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
