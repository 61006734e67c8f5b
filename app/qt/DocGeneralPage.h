#pragma once
// CDocGeneralPage: the document's "General" page: whether the cameras are activated when the
// document is opened, and the folder recordings are written to (with a folder chooser).
// GUI thread only.

#include "app/qt/PropertyPage.h"

class QCheckBox;
class QLineEdit;

class CDocGeneralPage : public CPropertyPage {
    Q_OBJECT
public:
    explicit CDocGeneralPage(CTavrixDocData& data, QWidget* parent = nullptr);

    QString Title() const override { return "General"; }
    bool Validate(QString& message) override;
    void Store() override;

    QCheckBox* ActivateField() const { return m_activate; }
    QLineEdit* FolderField() const { return m_folder; }

private:
    void Browse();

    QCheckBox* m_activate;
    QLineEdit* m_folder;
};
