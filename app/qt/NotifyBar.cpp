#include "app/qt/NotifyBar.h"

#include "app/qt/NotifyListModel.h"

#include <QHeaderView>
#include <QTableView>

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
    m_view->setColumnWidth(CNotifyListModel::kTime, 120);
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
