#include "app/qt/UiMessages.h"

#include <QMessageBox>

namespace UiMessages {

namespace {
Hook& CurrentHook() {
    static Hook hook;
    return hook;
}
} // namespace

void ShowWarning(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        CurrentHook()(text);
        return;
    }
    QMessageBox::warning(parent, "Tavrix", text);
}

void ShowInformation(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        CurrentHook()(text);
        return;
    }
    QMessageBox::information(parent, "Tavrix", text);
}

Answer AskYesNoCancel(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        return CurrentHook()(text) ? Answer::Yes : Answer::No;
    }
    const auto button = QMessageBox::question(parent, "Tavrix", text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool AskYesNo(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        return CurrentHook()(text);
    }
    return QMessageBox::question(parent, "Tavrix", text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void SetHook(Hook hook) {
    CurrentHook() = std::move(hook);
}

} // namespace UiMessages
