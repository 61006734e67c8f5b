#include "app/qt/ActionPropertyEditor.h"

#include "actions/CSEventAction.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>
#include <limits>

CFilePathEdit::CFilePathEdit(QWidget* parent) : QWidget(parent) {
    m_edit = new QLineEdit(this);
    auto* browse = new QToolButton(this);
    browse->setText("...");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_edit, 1);
    layout->addWidget(browse);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, &CFilePathEdit::TextChanged);
    connect(browse, &QToolButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, "Choose a file", m_edit->text());
        if (!path.isEmpty()) {
            m_edit->setText(path);
        }
    });
}

QString CFilePathEdit::Text() const {
    return m_edit->text();
}

void CFilePathEdit::SetText(const QString& text) {
    m_edit->setText(text);
}

CActionPropertyEditor::CActionPropertyEditor(QWidget* parent) : QTableWidget(parent) {
    setColumnCount(2);
    setHorizontalHeaderLabels({"Property", "Value"});
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void CActionPropertyEditor::SetAction(CSEventAction* action) {
    m_action = action;
    clearContents();
    setRowCount(0);
    if (action == nullptr) {
        return;
    }
    int rows = 0;
    for (const CSEAPropertyRow* row = action->GetPropertyTable(); row && row->key; ++row) {
        ++rows;
    }
    setRowCount(rows);
    int index = 0;
    for (const CSEAPropertyRow* row = action->GetPropertyTable(); row && row->key; ++row, ++index) {
        auto* label = new QTableWidgetItem(QString::fromUtf8(row->label));
        label->setFlags(Qt::ItemIsEnabled);
        setItem(index, 0, label);
        QWidget* editor = CreatePropertyEditor(row->type, *action, row->key, this);
        setCellWidget(index, 1, editor);
        editor->installEventFilter(this);
        for (QWidget* child : editor->findChildren<QWidget*>()) {
            child->installEventFilter(this);
        }
    }
    resizeRowsToContents();
}

namespace {

bool IsReturn(const QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

bool CActionPropertyEditor::FocusEditor(int row) {
    QWidget* editor = Editor(row);
    if (editor == nullptr) {
        return false;
    }
    setCurrentCell(row, 1);
    editor->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(editor->focusProxy() ? editor->focusProxy() : editor)) {
        edit->selectAll();
    } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->selectAll();
    }
    return true;
}

int CActionPropertyEditor::RowOf(const QObject* widget) const {
    for (int row = 0; row < rowCount(); ++row) {
        for (const QObject* at = widget; at != nullptr && at != this; at = at->parent()) {
            if (at == Editor(row)) {
                return row;
            }
        }
    }
    return -1;
}

void CActionPropertyEditor::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(event)) {
        FocusEditor(std::max(0, currentRow()));
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

bool CActionPropertyEditor::eventFilter(QObject* watched, QEvent* event) {
    if (IsReturn(event)) {
        // Taken here, before the editor lets it on to the dialog: the edit is kept (every change
        // is written at once) and the next row is edited.
        event->accept();
        if (event->type() == QEvent::KeyPress) {
            const int row = RowOf(watched);
            if (row >= 0 && row + 1 < rowCount()) {
                FocusEditor(row + 1);
            }
        }
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}

QWidget* CActionPropertyEditor::CreatePropertyEditor(int32_t type, CSEventAction& action,
                                                     const std::string& key, QWidget* parent) {
    CSEventAction* target = &action;
    switch (type) {
    case SEAPropertyType::Text:
    case SEAPropertyType::Password: {
        auto* edit = new QLineEdit(QString::fromStdString(action.GetStringProp(key)), parent);
        if (type == SEAPropertyType::Password) {
            edit->setEchoMode(QLineEdit::Password);
        }
        QObject::connect(edit, &QLineEdit::textChanged, edit, [target, key](const QString& text) {
            target->SetStringProp(key, text.toStdString());
        });
        return edit;
    }
    case SEAPropertyType::Integer: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
        spin->setValue(action.GetIntegerProp(key));
        QObject::connect(spin, &QSpinBox::valueChanged, spin,
                         [target, key](int value) { target->SetIntegerProp(key, value); });
        return spin;
    }
    case SEAPropertyType::FilePath: {
        auto* edit = new CFilePathEdit(parent);
        edit->SetText(QString::fromStdString(action.GetStringProp(key)));
        QObject::connect(edit, &CFilePathEdit::TextChanged, edit, [target, key](const QString& text) {
            target->SetStringProp(key, text.toStdString());
        });
        return edit;
    }
    case SEAPropertyType::Bool: {
        auto* box = new QCheckBox(parent);
        box->setChecked(action.GetBoolProp(key));
        QObject::connect(box, &QCheckBox::toggled, box,
                         [target, key](bool on) { target->SetBoolProp(key, on); });
        return box;
    }
    default:
        return new QLabel(QString("(property type %1 cannot be edited)").arg(type), parent);
    }
}
