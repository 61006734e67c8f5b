#include "app/qt/TimeSchedulePage.h"

#include "app/qt/ScheduleWeekGrid.h"
#include "app/qt/UiMessages.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kDayNames[] = {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};

QString TimeText(int hour, int minute) {
    return QString("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
}

QSpinBox* MakeSpin(QWidget* parent, int minimum, int maximum) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    return spin;
}

// Sets a spin box's value, widening its range for a stored value outside it.
void SetSpin(QSpinBox* spin, int value, int minimum, int maximum) {
    spin->setRange(std::min(minimum, value), std::max(maximum, value));
    spin->setValue(value);
}

} // namespace

CTimeSchedulePage::CTimeSchedulePage(CTavrixDocData& data, QWidget* parent) : CPropertyPage(data, parent) {
    // Schedules.
    m_schedules = new QListWidget(this);
    m_name = new QLineEdit(this);
    m_addSchedule = new QPushButton("&New", this);
    m_deleteSchedule = new QPushButton("&Delete", this);
    auto* scheduleButtons = new QHBoxLayout;
    scheduleButtons->addWidget(m_addSchedule);
    scheduleButtons->addWidget(m_deleteSchedule);
    auto* scheduleGroup = new QGroupBox("Schedules", this);
    auto* scheduleLayout = new QVBoxLayout(scheduleGroup);
    scheduleLayout->addWidget(m_schedules, 1);
    scheduleLayout->addWidget(new QLabel("Name:", scheduleGroup));
    scheduleLayout->addWidget(m_name);
    scheduleLayout->addLayout(scheduleButtons);

    // Rules.
    m_rules = new QListWidget(this);
    m_addRule = new QPushButton("&Add Rule", this);
    m_deleteRule = new QPushButton("Delete &Rule", this);
    auto* ruleButtons = new QHBoxLayout;
    ruleButtons->addWidget(m_addRule);
    ruleButtons->addWidget(m_deleteRule);

    m_ruleEditor = new QWidget(this);
    auto* grid = new QGridLayout(m_ruleEditor);
    auto* dayRow = new QHBoxLayout;
    for (int day = 0; day < 7; ++day) {
        m_days[static_cast<size_t>(day)] = new QCheckBox(kDayNames[day], m_ruleEditor);
        dayRow->addWidget(m_days[static_cast<size_t>(day)]);
    }
    dayRow->addStretch(1);
    grid->addWidget(new QLabel("Days:", m_ruleEditor), 0, 0);
    grid->addLayout(dayRow, 0, 1, 1, 4);
    m_validTime = new QCheckBox("&Time", m_ruleEditor);
    m_fromTime = new QLineEdit(m_ruleEditor);
    m_tillTime = new QLineEdit(m_ruleEditor);
    for (QLineEdit* field : {m_fromTime, m_tillTime}) {
        field->setInputMask("99:99");
        field->setMaximumWidth(field->fontMetrics().horizontalAdvance("000:000"));
    }
    m_validDay = new QCheckBox("Da&y", m_ruleEditor);
    m_fromDay = MakeSpin(m_ruleEditor, 1, 31);
    m_tillDay = MakeSpin(m_ruleEditor, 1, 31);
    m_validMonth = new QCheckBox("&Month", m_ruleEditor);
    m_fromMonth = MakeSpin(m_ruleEditor, 1, 12);
    m_tillMonth = MakeSpin(m_ruleEditor, 1, 12);
    m_validYear = new QCheckBox("&Year", m_ruleEditor);
    m_fromYear = MakeSpin(m_ruleEditor, kFirstYear, kLastYear);
    m_tillYear = MakeSpin(m_ruleEditor, kFirstYear, kLastYear);
    const auto addRange = [&](int row, QCheckBox* check, QWidget* from, QWidget* till) {
        grid->addWidget(check, row, 0);
        grid->addWidget(new QLabel("from", m_ruleEditor), row, 1);
        grid->addWidget(from, row, 2);
        grid->addWidget(new QLabel("till", m_ruleEditor), row, 3);
        grid->addWidget(till, row, 4);
    };
    addRange(1, m_validTime, m_fromTime, m_tillTime);
    addRange(2, m_validDay, m_fromDay, m_tillDay);
    addRange(3, m_validMonth, m_fromMonth, m_tillMonth);
    addRange(4, m_validYear, m_fromYear, m_tillYear);
    grid->setColumnStretch(5, 1);

    auto* ruleGroup = new QGroupBox("Rules (the camera is active while any rule matches)", this);
    auto* ruleLayout = new QVBoxLayout(ruleGroup);
    ruleLayout->addWidget(m_rules, 1);
    ruleLayout->addLayout(ruleButtons);
    ruleLayout->addWidget(m_ruleEditor);

    m_weekGrid = new CScheduleWeekGrid(this);
    auto* weekGroup = new QGroupBox("The week", this);
    auto* weekLayout = new QVBoxLayout(weekGroup);
    weekLayout->addWidget(m_weekGrid);

    auto* columns = new QHBoxLayout;
    columns->addWidget(scheduleGroup, 1);
    columns->addWidget(ruleGroup, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(weekGroup);

    connect(m_schedules, &QListWidget::currentRowChanged, this, &CTimeSchedulePage::OnScheduleRowChanged);
    connect(m_rules, &QListWidget::currentRowChanged, this, &CTimeSchedulePage::OnRuleRowChanged);
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (CTimeSchedule* schedule = CurrentSchedule()) {
            schedule->SetName(text.toStdString());
            if (QListWidgetItem* item = m_schedules->currentItem()) {
                item->setText(text);
            }
        }
    });
    connect(m_addSchedule, &QPushButton::clicked, this, &CTimeSchedulePage::AddSchedule);
    connect(m_deleteSchedule, &QPushButton::clicked, this, &CTimeSchedulePage::DeleteSchedule);
    connect(m_addRule, &QPushButton::clicked, this, &CTimeSchedulePage::AddRule);
    connect(m_deleteRule, &QPushButton::clicked, this, &CTimeSchedulePage::DeleteRule);
    for (QCheckBox* box : m_days) {
        connect(box, &QCheckBox::toggled, this, &CTimeSchedulePage::FieldsChanged);
    }
    for (QCheckBox* box : {m_validTime, m_validDay, m_validMonth, m_validYear}) {
        connect(box, &QCheckBox::toggled, this, &CTimeSchedulePage::FieldsChanged);
    }
    for (QLineEdit* field : {m_fromTime, m_tillTime}) {
        connect(field, &QLineEdit::textChanged, this, &CTimeSchedulePage::FieldsChanged);
    }
    for (QSpinBox* spin : {m_fromDay, m_tillDay, m_fromMonth, m_tillMonth, m_fromYear, m_tillYear}) {
        connect(spin, &QSpinBox::valueChanged, this, &CTimeSchedulePage::FieldsChanged);
    }

    FillSchedules(m_data.m_schedules.Empty() ? -1 : m_data.m_schedules.begin()->first);
}

CTimeSchedule* CTimeSchedulePage::CurrentSchedule() {
    return m_scheduleId < 0 ? nullptr : m_data.m_schedules.Find(m_scheduleId);
}

CTimeScheduleEntry* CTimeSchedulePage::CurrentRule() {
    CTimeSchedule* schedule = CurrentSchedule();
    return schedule && m_ruleIndex >= 0 ? schedule->GetEntry(static_cast<size_t>(m_ruleIndex)) : nullptr;
}

void CTimeSchedulePage::FillSchedules(int32_t selectId) {
    ShowSchedule(FillNamedList(m_schedules, m_data.m_schedules, selectId));
}

void CTimeSchedulePage::ShowSchedule(int32_t scheduleId) {
    m_scheduleId = scheduleId;
    CTimeSchedule* schedule = CurrentSchedule();
    m_name->setText(schedule ? QString::fromStdString(schedule->GetName()) : QString());
    m_name->setEnabled(schedule != nullptr);
    {
        const QSignalBlocker blocker(m_rules);
        m_rules->clear();
        if (schedule) {
            for (size_t i = 0; i < schedule->GetEntryCount(); ++i) {
                m_rules->addItem(QString::fromStdString(schedule->GetEntry(i)->Describe()));
            }
        }
        m_rules->setCurrentRow(schedule && schedule->GetEntryCount() > 0 ? 0 : -1);
    }
    ShowRule(m_rules->currentRow());
}

void CTimeSchedulePage::ShowRule(int index) {
    m_ruleIndex = index;
    const CTimeScheduleEntry* rule = CurrentRule();
    m_ruleEditor->setEnabled(rule != nullptr);
    const CTimeScheduleEntry shown = rule ? *rule : CTimeScheduleEntry();
    m_filling = true;
    for (int day = 0; day < 7; ++day) {
        m_days[static_cast<size_t>(day)]->setChecked((shown.DoW >> day) & 1);
    }
    m_validTime->setChecked(shown.ValidTime);
    m_fromTime->setText(TimeText(shown.FromHour, shown.FromMinute));
    m_tillTime->setText(TimeText(shown.TillHour, shown.TillMinute));
    m_validDay->setChecked(shown.ValidDay);
    SetSpin(m_fromDay, shown.FromDay, 1, 31);
    SetSpin(m_tillDay, shown.TillDay, 1, 31);
    m_validMonth->setChecked(shown.ValidMonth);
    SetSpin(m_fromMonth, shown.FromMonth, 1, 12);
    SetSpin(m_tillMonth, shown.TillMonth, 1, 12);
    m_validYear->setChecked(shown.ValidYear);
    SetSpin(m_fromYear, shown.FromYear, kFirstYear, kLastYear);
    SetSpin(m_tillYear, shown.TillYear, kFirstYear, kLastYear);
    m_filling = false;
    UpdateButtons();
    RefreshWeekGrid();
}

void CTimeSchedulePage::FieldsChanged() {
    CTimeScheduleEntry* rule = CurrentRule();
    if (m_filling || rule == nullptr) {
        return;
    }
    int32_t dow = 0;
    for (int day = 0; day < 7; ++day) {
        if (m_days[static_cast<size_t>(day)]->isChecked()) {
            dow |= 1 << day;
        }
    }
    rule->DoW = dow;
    rule->ValidTime = m_validTime->isChecked();
    int hour = 0;
    int minute = 0;
    // A time still being typed keeps the rule's previous value; the check on leaving catches it.
    if (ParseTime(m_fromTime->text(), hour, minute)) {
        rule->FromHour = hour;
        rule->FromMinute = minute;
    }
    if (ParseTime(m_tillTime->text(), hour, minute)) {
        rule->TillHour = hour;
        rule->TillMinute = minute;
    }
    rule->ValidDay = m_validDay->isChecked();
    rule->FromDay = m_fromDay->value();
    rule->TillDay = m_tillDay->value();
    rule->ValidMonth = m_validMonth->isChecked();
    rule->FromMonth = m_fromMonth->value();
    rule->TillMonth = m_tillMonth->value();
    rule->ValidYear = m_validYear->isChecked();
    rule->FromYear = m_fromYear->value();
    rule->TillYear = m_tillYear->value();
    if (QListWidgetItem* item = m_rules->item(m_ruleIndex)) {
        item->setText(QString::fromStdString(rule->Describe()));
    }
    RefreshWeekGrid();
}

void CTimeSchedulePage::RefreshWeekGrid() {
    m_weekGrid->SetSchedule(CurrentSchedule(), m_ruleIndex);
}

bool CTimeSchedulePage::ParseTime(const QString& text, int& hour, int& minute) {
    const QStringList parts = text.split(':');
    if (parts.size() != 2) {
        return false;
    }
    bool hourOk = false;
    bool minuteOk = false;
    const QString hourText = parts[0].trimmed();
    const QString minuteText = parts[1].trimmed();
    if (hourText.size() != 2 || minuteText.size() != 2) {
        return false;
    }
    hour = hourText.toInt(&hourOk);
    minute = minuteText.toInt(&minuteOk);
    return hourOk && minuteOk && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

bool CTimeSchedulePage::ValidateCurrentRule(QString& message) const {
    auto* self = const_cast<CTimeSchedulePage*>(this);
    const CTimeScheduleEntry* rule = self->CurrentRule();
    if (rule == nullptr) {
        return true;
    }
    int hour = 0;
    int minute = 0;
    if (rule->ValidTime &&
        (!ParseTime(m_fromTime->text(), hour, minute) || !ParseTime(m_tillTime->text(), hour, minute))) {
        message = "Please enter the times as hours and minutes from 00:00 to 23:59.";
        return false;
    }
    std::string text;
    if (!rule->Validate(text)) {
        message = QString::fromStdString(text);
        return false;
    }
    return true;
}

bool CTimeSchedulePage::LeaveRule() {
    QString message;
    if (ValidateCurrentRule(message)) {
        return true;
    }
    UiMessages::ShowWarning(this, message);
    return false;
}

void CTimeSchedulePage::OnScheduleRowChanged(int row) {
    const int32_t id = row >= 0 ? m_schedules->item(row)->data(Qt::UserRole).toInt() : -1;
    if (id == m_scheduleId) {
        return;
    }
    if (!LeaveRule()) {
        // Back to the schedule and rule being edited.
        const QSignalBlocker blocker(m_schedules);
        for (int i = 0; i < m_schedules->count(); ++i) {
            if (m_schedules->item(i)->data(Qt::UserRole).toInt() == m_scheduleId) {
                m_schedules->setCurrentRow(i);
            }
        }
        return;
    }
    ShowSchedule(id);
}

void CTimeSchedulePage::OnRuleRowChanged(int row) {
    if (row == m_ruleIndex) {
        return;
    }
    if (!LeaveRule()) {
        const QSignalBlocker blocker(m_rules);
        m_rules->setCurrentRow(m_ruleIndex);
        return;
    }
    ShowRule(row);
}

void CTimeSchedulePage::AddSchedule() {
    if (!LeaveRule()) {
        return;
    }
    CTimeSchedule* schedule = m_data.AddSchedule();
    if (schedule) {
        FillSchedules(schedule->GetId());
    }
}

void CTimeSchedulePage::DeleteSchedule() {
    CTimeSchedule* schedule = CurrentSchedule();
    if (schedule == nullptr) {
        return;
    }
    std::string message;
    if (!m_data.DeleteSchedule(schedule->GetId(), message)) {
        if (!message.empty()) {
            UiMessages::ShowWarning(this, QString::fromStdString(message));
        }
        return;
    }
    m_scheduleId = -1;
    m_ruleIndex = -1;
    FillSchedules(m_data.m_schedules.Empty() ? -1 : m_data.m_schedules.begin()->first);
}

void CTimeSchedulePage::AddRule() {
    CTimeSchedule* schedule = CurrentSchedule();
    if (schedule == nullptr || !LeaveRule()) {
        return;
    }
    const size_t index = schedule->AddEntry();
    m_rules->addItem(QString::fromStdString(schedule->GetEntry(index)->Describe()));
    const QSignalBlocker blocker(m_rules);
    m_rules->setCurrentRow(static_cast<int>(index));
    ShowRule(static_cast<int>(index));
}

void CTimeSchedulePage::DeleteRule() {
    CTimeSchedule* schedule = CurrentSchedule();
    // A schedule edited here always keeps at least one rule.
    if (schedule == nullptr || m_ruleIndex < 0 || schedule->GetEntryCount() <= 1) {
        return;
    }
    schedule->RemoveEntry(static_cast<size_t>(m_ruleIndex));
    const int next = std::min(m_ruleIndex, static_cast<int>(schedule->GetEntryCount()) - 1);
    {
        const QSignalBlocker blocker(m_rules);
        delete m_rules->takeItem(m_ruleIndex);
        m_rules->setCurrentRow(next);
    }
    ShowRule(next);
}

void CTimeSchedulePage::UpdateButtons() {
    const CTimeSchedule* schedule = CurrentSchedule();
    m_deleteSchedule->setEnabled(schedule != nullptr);
    m_addRule->setEnabled(schedule != nullptr);
    m_deleteRule->setEnabled(schedule != nullptr && m_ruleIndex >= 0 && schedule->GetEntryCount() > 1);
}

bool CTimeSchedulePage::Validate(QString& message) {
    if (!ValidateCurrentRule(message)) {
        return false;
    }
    for (const auto& [id, schedule] : m_data.m_schedules) {
        if (QString::fromStdString(schedule->GetName()).trimmed().isEmpty()) {
            message = "Please give every schedule a name.";
            return false;
        }
    }
    return true;
}
