#pragma once
// CNotifyBar: the main frame's "Notifications" bar, a dock window holding the notification log as
// a four-column list (oldest entry at the top, selection always shown). On every "notification
// list changed" message the main frame calls OnListChanged, which takes over the log's number of
// entries and scrolls the newest entry into view.
//
// Above the list: a document and a camera to show only their entries ("All documents", "All
// cameras"), a search field (any column, case ignored) and "Errors only". A click on a column's
// header sorts by it (the Time column by the entries' order). Faults stand out in red. The
// columns' widths and order are kept across runs (SaveColumns / RestoreColumns, through the
// session). The View menu hides and shows the bar.
//
// GUI thread only.

#include <QDockWidget>

class CNotificationLog;
class CNotifyFilterModel;
class CNotifyListModel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableView;
class QTimer;

class CNotifyBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CNotifyBar(CNotificationLog& log, QWidget* parent = nullptr);

    void OnListChanged();

    CNotifyListModel* Model() const { return m_model; }
    CNotifyFilterModel* Filter() const { return m_filter; }
    QTableView* View() const { return m_view; }
    QComboBox* DocumentField() const { return m_document; }
    QComboBox* CameraField() const { return m_camera; }
    QLineEdit* SearchField() const { return m_search; }
    QCheckBox* ErrorsOnlyField() const { return m_errorsOnly; }

    QByteArray SaveColumns() const;
    // False (nothing changed) for a state that does not fit the list.
    bool RestoreColumns(const QByteArray& state);
    // Fills the document and camera choices with the names in the log (done shortly after a
    // change, at most a few times a second).
    void UpdateChoices();

private:
    void ScrollToNewest();

    CNotificationLog& m_log;
    CNotifyListModel* m_model;
    CNotifyFilterModel* m_filter;
    QTableView* m_view;
    QComboBox* m_document;
    QComboBox* m_camera;
    QLineEdit* m_search;
    QCheckBox* m_errorsOnly;
    QTimer* m_choicesTimer;
};
