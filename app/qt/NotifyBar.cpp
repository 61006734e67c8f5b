#include "app/qt/NotifyBar.h"

#include "app/qt/NotifyFilterModel.h"
#include "app/qt/NotifyListModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

// Refills a choice list keeping the chosen entry; item 0 ("All ...") has an empty value.
void FillChoices(QComboBox* box, const std::set<QString>& names) {
    const QString chosen = box->currentData().toString();
    QStringList present;
    for (int i = 1; i < box->count(); ++i) {
        present << box->itemData(i).toString();
    }
    QStringList wanted(names.begin(), names.end());
    if (!chosen.isEmpty() && !wanted.contains(chosen)) {
        wanted << chosen; // the filter in use stays offered even when its entries left the log
        wanted.sort();
    }
    if (present == wanted) {
        return;
    }
    const QSignalBlocker blocker(box);
    while (box->count() > 1) {
        box->removeItem(1);
    }
    for (const QString& name : wanted) {
        box->addItem(name, name);
    }
    box->setCurrentIndex(std::max(0, box->findData(chosen)));
}

} // namespace

CNotifyBar::CNotifyBar(CNotificationLog& log, QWidget* parent)
    : QDockWidget("Notifications", parent), m_log(log) {
    setObjectName("Notifications");
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    m_model = new CNotifyListModel(log, this);
    m_filter = new CNotifyFilterModel(this);
    m_filter->setSourceModel(m_model);
    m_filter->setSortRole(CNotifyListModel::kSortRole);

    auto* content = new QWidget(this);
    m_document = new QComboBox(content);
    m_document->addItem("All documents", QString());
    m_document->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_camera = new QComboBox(content);
    m_camera->addItem("All cameras", QString());
    m_camera->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_search = new QLineEdit(content);
    m_search->setPlaceholderText("Search the notifications");
    m_search->setClearButtonEnabled(true);
    m_errorsOnly = new QCheckBox("&Errors only", content);
    auto* filters = new QHBoxLayout;
    filters->setContentsMargins(0, 0, 0, 0);
    filters->addWidget(m_document);
    filters->addWidget(m_camera);
    filters->addWidget(m_search, 1);
    filters->addWidget(m_errorsOnly);

    m_view = new QTableView(content);
    m_view->setModel(m_filter);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setShowGrid(false);
    m_view->setAlternatingRowColors(true);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    QHeaderView* header = m_view->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    header->setSectionsMovable(true);
    // At least 120 pixels, and as wide as a date and time of this locale need.
    const platform::SystemTime sample{2024, 12, 0, 28, 23, 58, 59, 0};
    const int timeWidth = m_view->fontMetrics().horizontalAdvance(CNotifyListModel::FormatTime(sample)) + 12;
    m_view->setColumnWidth(CNotifyListModel::kTime, std::max(120, timeWidth));
    m_view->setColumnWidth(CNotifyListModel::kDocument, 100);
    m_view->setColumnWidth(CNotifyListModel::kCamera, 100);
    m_view->setColumnWidth(CNotifyListModel::kInformation, 1000);
    m_view->sortByColumn(CNotifyListModel::kTime, Qt::AscendingOrder);
    m_view->setSortingEnabled(true);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(filters);
    layout->addWidget(m_view, 1);
    setWidget(content);

    m_choicesTimer = new QTimer(this);
    m_choicesTimer->setSingleShot(true);
    m_choicesTimer->setInterval(300);
    connect(m_choicesTimer, &QTimer::timeout, this, &CNotifyBar::UpdateChoices);
    connect(m_document, &QComboBox::currentIndexChanged, this,
            [this] { m_filter->SetDocument(m_document->currentData().toString()); });
    connect(m_camera, &QComboBox::currentIndexChanged, this,
            [this] { m_filter->SetCamera(m_camera->currentData().toString()); });
    connect(m_search, &QLineEdit::textChanged, m_filter, &CNotifyFilterModel::SetSearchText);
    connect(m_errorsOnly, &QCheckBox::toggled, m_filter, &CNotifyFilterModel::SetErrorsOnly);
    UpdateChoices();
    m_view->scrollToBottom();
}

void CNotifyBar::OnListChanged() {
    m_model->Refresh();
    ScrollToNewest();
    if (!m_choicesTimer->isActive()) {
        m_choicesTimer->start();
    }
}

void CNotifyBar::ScrollToNewest() {
    // The newest entry is at the bottom while sorted by time from the oldest, else at the top
    // when sorted newest first; sorted by another column the list stays where the user put it.
    const QHeaderView* header = m_view->horizontalHeader();
    if (header->sortIndicatorSection() != CNotifyListModel::kTime) {
        return;
    }
    if (header->sortIndicatorOrder() == Qt::AscendingOrder) {
        m_view->scrollToBottom();
    } else {
        m_view->scrollToTop();
    }
}

void CNotifyBar::UpdateChoices() {
    std::set<QString> documents;
    std::set<QString> cameras;
    for (const CLogEntry& entry : m_log.GetEntries()) {
        if (!entry.docName.empty()) {
            documents.insert(QString::fromStdString(entry.docName));
        }
        if (!entry.camName.empty()) {
            cameras.insert(QString::fromStdString(entry.camName));
        }
    }
    FillChoices(m_document, documents);
    FillChoices(m_camera, cameras);
}

QByteArray CNotifyBar::SaveColumns() const {
    return m_view->horizontalHeader()->saveState();
}

bool CNotifyBar::RestoreColumns(const QByteArray& state) {
    if (state.isEmpty()) {
        return false;
    }
    const bool restored = m_view->horizontalHeader()->restoreState(state);
    ScrollToNewest();
    return restored;
}
