#pragma once
// CNotifyFilterModel: the notifications list as the user narrows it: only one document's or one
// camera's entries (empty: all), only entries containing a text (in any column, case ignored),
// only faults; sorted by any column (the Time column by the entries' order). Sits between the
// log's model (CNotifyListModel) and the bar's table. GUI thread only.

#include <QSortFilterProxyModel>

class CNotifyFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit CNotifyFilterModel(QObject* parent = nullptr);

    void SetDocument(const QString& document);
    void SetCamera(const QString& camera);
    void SetSearchText(const QString& text);
    void SetErrorsOnly(bool errorsOnly);
    const QString& Document() const { return m_document; }
    const QString& Camera() const { return m_camera; }
    const QString& SearchText() const { return m_search; }
    bool ErrorsOnly() const { return m_errorsOnly; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QString m_document;
    QString m_camera;
    QString m_search;
    bool m_errorsOnly = false;
};
