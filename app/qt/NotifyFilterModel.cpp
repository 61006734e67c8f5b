#include "app/qt/NotifyFilterModel.h"

#include "app/qt/NotifyListModel.h"

CNotifyFilterModel::CNotifyFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
}

void CNotifyFilterModel::SetDocument(const QString& document) {
    if (document != m_document) {
        m_document = document;
        invalidateRowsFilter();
    }
}

void CNotifyFilterModel::SetCamera(const QString& camera) {
    if (camera != m_camera) {
        m_camera = camera;
        invalidateRowsFilter();
    }
}

void CNotifyFilterModel::SetSearchText(const QString& text) {
    if (text != m_search) {
        m_search = text;
        invalidateRowsFilter();
    }
}

void CNotifyFilterModel::SetErrorsOnly(bool errorsOnly) {
    if (errorsOnly != m_errorsOnly) {
        m_errorsOnly = errorsOnly;
        invalidateRowsFilter();
    }
}

bool CNotifyFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QAbstractItemModel* source = sourceModel();
    const auto text = [&](int column) {
        return source->data(source->index(sourceRow, column, sourceParent), Qt::DisplayRole).toString();
    };
    if (!m_document.isEmpty() && text(CNotifyListModel::kDocument) != m_document) {
        return false;
    }
    if (!m_camera.isEmpty() && text(CNotifyListModel::kCamera) != m_camera) {
        return false;
    }
    if (m_errorsOnly && !source
                             ->data(source->index(sourceRow, CNotifyListModel::kInformation, sourceParent),
                                    CNotifyListModel::kErrorRole)
                             .toBool()) {
        return false;
    }
    if (!m_search.isEmpty()) {
        for (int column = 0; column < CNotifyListModel::kColumnCount; ++column) {
            if (text(column).contains(m_search, Qt::CaseInsensitive)) {
                return true;
            }
        }
        return false;
    }
    return true;
}

bool CNotifyFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (left.column() == CNotifyListModel::kTime) {
        return left.row() < right.row(); // the log's order is the order of time
    }
    const int order = QString::localeAwareCompare(left.data().toString(), right.data().toString());
    return order != 0 ? order < 0 : left.row() < right.row();
}
