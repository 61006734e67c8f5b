#include "app/qt/ErrorDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CErrorDialog::CErrorDialog(const CErrorEntry& entry, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Tavrix - Error");
    setModal(true);
    auto* form = new QFormLayout;
    const auto addField = [&](const QString& label, const std::string& value, bool emphasised) {
        auto* caption = new QLabel(label, this);
        auto* field = new QLineEdit(QString::fromStdString(value), this);
        field->setReadOnly(true);
        field->setObjectName(label);
        field->setCursorPosition(0);
        field->setMinimumWidth(420);
        if (emphasised) {
            QFont font("Arial");
            font.setPixelSize(12);
            font.setBold(true);
            caption->setFont(font);
            field->setFont(font);
        }
        caption->setBuddy(field);
        form->addRow(caption, field);
    };
    addField("Error", entry.message, true);
    addField("Lowlevel Error", entry.internal, false);
    addField("Source File", entry.file, false);
    addField("Exception Class", entry.className, false);
    addField("Souce Line", QString::asprintf("%d", entry.line).toStdString(), false);
    addField("Additional Info", entry.info, false);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QLineEdit* CErrorDialog::Field(const QString& label) const {
    return findChild<QLineEdit*>(label);
}
