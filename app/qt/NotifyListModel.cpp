#include "app/qt/NotifyListModel.h"

#include <QColor>
#include <QDate>
#include <QFont>
#include <QLocale>
#include <QTime>

CNotifyListModel::CNotifyListModel(CNotificationLog& log, QObject* parent)
    : QAbstractTableModel(parent), m_log(log), m_rowCount(log.GetCount()) {}

int CNotifyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int CNotifyListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CNotifyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rowCount) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role == kSortRole && index.column() == kTime) {
        return index.row(); // the log is in the order of its entries
    }
    const bool styled = role == Qt::ForegroundRole || role == Qt::BackgroundRole || role == Qt::FontRole;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != kSortRole && role != kErrorRole &&
        !styled) {
        return {};
    }
    const CLogEntry entry = m_log.GetEntry(index.row());
    if (role == kErrorRole || styled) {
        const bool error = IsErrorText(entry.text);
        if (role == kErrorRole) {
            return error;
        }
        if (!error) {
            return {};
        }
        if (role == Qt::ForegroundRole) {
            return QColor(150, 0, 0);
        }
        if (role == Qt::BackgroundRole) {
            return QColor(255, 228, 228);
        }
        QFont font;
        font.setBold(true);
        return font;
    }
    switch (index.column()) {
    case kTime:
        return entry.text.empty() && entry.time.year == 0 ? QString() : FormatTime(entry.time);
    case kDocument:
        return QString::fromStdString(entry.docName);
    case kCamera:
        return QString::fromStdString(entry.camName);
    case kInformation:
        return QString::fromStdString(entry.text);
    default:
        return {};
    }
}

QVariant CNotifyListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case kTime:
        return QStringLiteral("Time");
    case kDocument:
        return QStringLiteral("Document");
    case kCamera:
        return QStringLiteral("Camera");
    case kInformation:
        return QStringLiteral("Information");
    default:
        return {};
    }
}

void CNotifyListModel::Refresh() {
    const int count = m_log.GetCount();
    if (count > m_rowCount) {
        beginInsertRows(QModelIndex(), m_rowCount, count - 1);
        m_rowCount = count;
        endInsertRows();
    } else if (count < m_rowCount) {
        beginRemoveRows(QModelIndex(), count, m_rowCount - 1);
        m_rowCount = count;
        endRemoveRows();
    }
    if (m_rowCount > 0) {
        emit dataChanged(index(0, 0), index(m_rowCount - 1, kColumnCount - 1), {Qt::DisplayRole});
    }
}

QString CNotifyListModel::FormatTime(const platform::SystemTime& time) {
    const QDate date(time.year, time.month, time.day);
    const QTime clock(time.hour, time.minute, time.second);
    const QLocale locale = QLocale::system();
    return locale.toString(date, QLocale::ShortFormat) + " " + clock.toString("HH:mm:ss");
}

bool CNotifyListModel::IsErrorText(const std::string& text) {
    static const char* const kMarks[] = {
        "error",   "fail", "could not",    "cannot",           "unable",          "not allowed",
        "refused", "lost", "not writable", "to 'unavailable'", "to 'unable2rec'", "no longer exists"};
    const QString lower = QString::fromStdString(text).toLower();
    for (const char* mark : kMarks) {
        if (lower.contains(QLatin1String(mark))) {
            return true;
        }
    }
    return false;
}
