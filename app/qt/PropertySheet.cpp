#include "app/qt/PropertySheet.h"

#include "app/qt/PropertyPage.h"
#include "app/qt/UiMessages.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

CPropertySheet::CPropertySheet(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    m_tabs = new QTabWidget(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CPropertySheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CPropertySheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    m_pages.push_back(page);
    m_tabs->addTab(page, page->Title());
}

CPropertyPage* CPropertySheet::Page(int index) const {
    return index >= 0 && index < PageCount() ? m_pages[static_cast<size_t>(index)] : nullptr;
}

void CPropertySheet::accept() {
    for (CPropertyPage* page : m_pages) {
        QString message;
        if (!page->Validate(message)) {
            m_tabs->setCurrentWidget(page);
            if (!message.isEmpty()) {
                UiMessages::ShowWarning(this, message);
            }
            return;
        }
    }
    for (CPropertyPage* page : m_pages) {
        page->Store();
    }
    QDialog::accept();
}

void CPropertySheet::done(int result) {
    for (CPropertyPage* page : m_pages) {
        page->Finish();
    }
    QDialog::done(result);
}
