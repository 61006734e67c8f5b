#pragma once
// CNotifyBar: the main frame's "Notifications" bar, a dock window holding the notification log as
// a four-column list (oldest entry at the top, selection always shown). On every "notification
// list changed" message the main frame calls OnListChanged, which takes over the log's number of
// entries and scrolls the newest entry into view.
//
// GUI thread only.

#include <QDockWidget>

class CNotificationLog;
class CNotifyListModel;
class QTableView;

class CNotifyBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CNotifyBar(CNotificationLog& log, QWidget* parent = nullptr);

    void OnListChanged();

    CNotifyListModel* Model() const { return m_model; }
    QTableView* View() const { return m_view; }

private:
    CNotifyListModel* m_model;
    QTableView* m_view;
};
