#include "app/qt/UiMessages.h"

#include <QMessageBox>

namespace UiMessages {

namespace {
Hook& CurrentHook() {
    static Hook hook;
    return hook;
}

// The texts name cameras, files and programs from documents: shown as they are, never as markup.
QMessageBox::StandardButton Box(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, "Tavrix", text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
} // namespace

void ShowWarning(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        CurrentHook()(text);
        return;
    }
    Box(parent, QMessageBox::Warning, text, QMessageBox::Ok);
}

void ShowInformation(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        CurrentHook()(text);
        return;
    }
    Box(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

Answer AskYesNoCancel(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        return CurrentHook()(text) ? Answer::Yes : Answer::No;
    }
    const auto button =
        Box(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool AskYesNo(QWidget* parent, const QString& text) {
    if (CurrentHook()) {
        return CurrentHook()(text);
    }
    return Box(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void SetHook(Hook hook) {
    CurrentHook() = std::move(hook);
}

} // namespace UiMessages
