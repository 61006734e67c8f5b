#pragma once
// CPropertySheet: a tab dialog of property pages over one copy of a document's content. OK checks
// every page (the first failing page is brought forward and its message shown; the sheet stays
// open), then lets every page store its values into the copy and closes. Cancel closes without
// storing. GUI thread only.

#include <QDialog>

#include <vector>

class CPropertyPage;
class QTabWidget;

class CPropertySheet : public QDialog {
    Q_OBJECT
public:
    explicit CPropertySheet(const QString& title, QWidget* parent = nullptr);

    void AddPage(CPropertyPage* page);
    CPropertyPage* Page(int index) const;
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    QTabWidget* Tabs() const { return m_tabs; }

    void accept() override;
    void done(int result) override;

private:
    QTabWidget* m_tabs;
    std::vector<CPropertyPage*> m_pages;
};
