#pragma once
// CNotifyListModel: the notification log as a four-column table ("Time", "Document", "Camera",
// "Information") for the "Notifications" bar. It keeps no copy of the log: the row count is the
// log's number of entries as of the last Refresh, and each cell reads its entry from the log when
// the view asks for it (oldest entry in row 0).
//
// Entries that report a fault (IsErrorText: an error, a failure, a lost device, a camera that
// became Unavailable or Unable2Rec) stand out: dark red, bold, on a light red ground. The Time
// column sorts by the entries' order (kSortRole), the others by their text.
//
// GUI thread only. Refresh runs on every "notification list changed" message (2024).

#include "persistence/NotificationLog.h"

#include <QAbstractTableModel>

class CNotifyListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kTime = 0, kDocument = 1, kCamera = 2, kInformation = 3, kColumnCount = 4 };
    // The value the list sorts by; true under kErrorRole for an entry that reports a fault.
    static constexpr int kSortRole = Qt::UserRole + 1;
    static constexpr int kErrorRole = Qt::UserRole + 2;

    explicit CNotifyListModel(CNotificationLog& log = CNotificationLog::Instance(),
                              QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Takes over the log's current number of entries and has the views re-read the rows (the log
    // drops its oldest entries when full, so rows may show other entries than before).
    void Refresh();

    // The "Time" text of an entry: the date in the user's short date format, a blank, and the time
    // in 24-hour form.
    static QString FormatTime(const platform::SystemTime& time);
    // Whether a log text reports a fault.
    static bool IsErrorText(const std::string& text);

private:
    CNotificationLog& m_log;
    int m_rowCount = 0;
};
