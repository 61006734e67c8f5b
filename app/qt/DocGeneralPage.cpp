#include "app/qt/DocGeneralPage.h"

#include "app/qt/FormRows.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CDocGeneralPage::CDocGeneralPage(CTavrixDocData& data, QWidget* parent) : CPropertyPage(data, parent) {
    m_activate = new QCheckBox("&Activate all cameras when the document is opened", this);
    m_activate->setChecked(m_data.m_activateAtStartup);
    m_folder = new QLineEdit(QString::fromStdString(m_data.m_commonFilePath), this);
    auto* browse = new QPushButton("&Browse...", this);
    connect(browse, &QPushButton::clicked, this, &CDocGeneralPage::Browse);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(m_activate);
    FormRows::AddRow(form, "&Record folder:", folderRow, m_folder);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch(1);
}

void CDocGeneralPage::Browse() {
    const QString folder = QFileDialog::getExistingDirectory(this, "Record folder", m_folder->text());
    if (!folder.isEmpty()) {
        m_folder->setText(QDir::toNativeSeparators(folder));
    }
}

bool CDocGeneralPage::Validate(QString& message) {
    const QString folder = m_folder->text().trimmed();
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        message = "Please choose the record folder with its full path.";
        return false;
    }
    return true;
}

void CDocGeneralPage::Store() {
    m_data.m_activateAtStartup = m_activate->isChecked();
    m_data.m_commonFilePath = QDir::cleanPath(m_folder->text().trimmed()).toStdString();
}
