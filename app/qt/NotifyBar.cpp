#include "app/qt/NotifyBar.h"

#include "app/qt/NotifyListModel.h"

#include <QHeaderView>
#include <QTableView>

#include <algorithm>

CNotifyBar::CNotifyBar(CNotificationLog& log, QWidget* parent) : QDockWidget("Notifications", parent) {
    setObjectName("Notifications");
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    m_model = new CNotifyListModel(log, this);
    m_view = new QTableView(this);
    m_view->setModel(m_model);
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
    // At least 120 pixels, and as wide as a date and time of this locale need.
    const platform::SystemTime sample{2024, 12, 0, 28, 23, 58, 59, 0};
    const int timeWidth = m_view->fontMetrics().horizontalAdvance(CNotifyListModel::FormatTime(sample)) + 12;
    m_view->setColumnWidth(CNotifyListModel::kTime, std::max(120, timeWidth));
    m_view->setColumnWidth(CNotifyListModel::kDocument, 100);
    m_view->setColumnWidth(CNotifyListModel::kCamera, 100);
    m_view->setColumnWidth(CNotifyListModel::kInformation, 1000);
    setWidget(m_view);
    m_view->scrollToBottom();
}

void CNotifyBar::OnListChanged() {
    m_model->Refresh();
    m_view->scrollToBottom();
}
