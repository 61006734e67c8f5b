#pragma once
// The warning and question boxes of the dialogs (validation messages, refused deletions). Tests of
// the dialogs install a hook that takes the text (and gives the answer) instead of a modal box, so
// that a dialog's own flow can be driven without a user. GUI thread only.

#include <QString>

#include <functional>

class QWidget;

namespace UiMessages {

// A warning box with the text and an OK button.
void ShowWarning(QWidget* parent, const QString& text);
// An information box with the text and an OK button.
void ShowInformation(QWidget* parent, const QString& text);
// A Yes/No question; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text);
// A Yes/No/Cancel question (the save prompt).
enum class Answer { Yes, No, Cancel };
Answer AskYesNoCancel(QWidget* parent, const QString& text);

// Replaces the boxes: the hook receives each text and returns the answer to a question, true for
// Yes (its value is ignored for warnings and information). An empty hook restores the boxes.
using Hook = std::function<bool(const QString& text)>;
void SetHook(Hook hook);

} // namespace UiMessages
