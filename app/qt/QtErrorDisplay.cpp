#include "app/qt/QtErrorDisplay.h"

#include "app/qt/ErrorDialog.h"

#include <QMessageBox>
#include <QMetaObject>

CQtErrorDisplay::CQtErrorDisplay(QObject* parent) : QObject(parent) {
    SetErrorDisplay(this);
}

CQtErrorDisplay::~CQtErrorDisplay() {
    SetErrorDisplay(nullptr); // waits for reports in progress on other threads
}

void CQtErrorDisplay::ShowErrorDialog(const CErrorEntry& entry) {
    QMetaObject::invokeMethod(
        this,
        [this, entry] {
            CErrorDialog dialog(entry, m_parentWindow);
            dialog.exec();
        },
        Qt::QueuedConnection);
}

void CQtErrorDisplay::ShowMessageBox(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, message = QString::fromStdString(text)] {
            QMessageBox box(QMessageBox::Warning, "Tavrix", message, QMessageBox::Ok, m_parentWindow);
            box.exec();
        },
        Qt::QueuedConnection);
}
