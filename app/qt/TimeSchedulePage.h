#pragma once
// CTimeSchedulePage: the document's "Time Schedule" page: the named schedules (add, rename,
// delete unless a camera uses it) and the rules of the chosen schedule (add, delete while more
// than one is left, edit). A rule is edited with the days of the week, a time range typed as
// "##:##", a day range 1..31, a month range 1..12 and a year range. Each rule is listed with its
// description. Leaving an edited rule, or pressing OK, checks it; a rule that fails keeps the
// selection and the message is shown. A time range from a later to an earlier time (22:00 till
// 06:00) runs overnight. Under the editor the week grid shows the hours the rules cover.
//
// Year ranges accept 2000..2099 (and any year a stored rule already holds).
// GUI thread only.

#include "app/qt/PropertyPage.h"

#include <array>

class CTimeScheduleEntry;
class CTimeSchedule;
class CScheduleWeekGrid;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

class CTimeSchedulePage : public CPropertyPage {
    Q_OBJECT
public:
    static constexpr int kFirstYear = 2000;
    static constexpr int kLastYear = 2099;

    explicit CTimeSchedulePage(CTavrixDocData& data, QWidget* parent = nullptr);

    QString Title() const override { return "Time Schedule"; }
    bool Validate(QString& message) override;
    void Store() override {} // every change is written into the copy as it is made

    // The checks of the rule being edited: the typed times, then the rule's own validation.
    bool ValidateCurrentRule(QString& message) const;

    QListWidget* ScheduleList() const { return m_schedules; }
    QListWidget* RuleList() const { return m_rules; }
    QLineEdit* NameField() const { return m_name; }
    QPushButton* AddScheduleButton() const { return m_addSchedule; }
    QPushButton* DeleteScheduleButton() const { return m_deleteSchedule; }
    QPushButton* AddRuleButton() const { return m_addRule; }
    QPushButton* DeleteRuleButton() const { return m_deleteRule; }
    QCheckBox* DayField(int day) const { return m_days[static_cast<size_t>(day)]; } // 0 Monday .. 6 Sunday
    QCheckBox* TimeCheck() const { return m_validTime; }
    QLineEdit* FromTimeField() const { return m_fromTime; }
    QLineEdit* TillTimeField() const { return m_tillTime; }
    QCheckBox* DayCheck() const { return m_validDay; }
    QSpinBox* FromDayField() const { return m_fromDay; }
    QSpinBox* TillDayField() const { return m_tillDay; }
    QCheckBox* MonthCheck() const { return m_validMonth; }
    QSpinBox* FromMonthField() const { return m_fromMonth; }
    QSpinBox* TillMonthField() const { return m_tillMonth; }
    QCheckBox* YearCheck() const { return m_validYear; }
    QSpinBox* FromYearField() const { return m_fromYear; }
    QSpinBox* TillYearField() const { return m_tillYear; }
    CScheduleWeekGrid* WeekGrid() const { return m_weekGrid; }

    // "HH:MM" with 0 <= HH <= 23 and 0 <= MM <= 59.
    static bool ParseTime(const QString& text, int& hour, int& minute);

private:
    void FillSchedules(int32_t selectId);
    void ShowSchedule(int32_t scheduleId);
    void ShowRule(int index);
    void OnScheduleRowChanged(int row);
    void OnRuleRowChanged(int row);
    // Writes the editor's fields into the rule being edited and refreshes its description.
    void FieldsChanged();
    void AddSchedule();
    void DeleteSchedule();
    void AddRule();
    void DeleteRule();
    // False (message shown, selection kept) when the rule being edited must not be left.
    bool LeaveRule();
    CTimeSchedule* CurrentSchedule();
    CTimeScheduleEntry* CurrentRule();
    void UpdateButtons();
    void RefreshWeekGrid();

    QListWidget* m_schedules;
    QLineEdit* m_name;
    QPushButton* m_addSchedule;
    QPushButton* m_deleteSchedule;
    QListWidget* m_rules;
    QPushButton* m_addRule;
    QPushButton* m_deleteRule;
    std::array<QCheckBox*, 7> m_days{};
    QCheckBox* m_validTime;
    QLineEdit* m_fromTime;
    QLineEdit* m_tillTime;
    QCheckBox* m_validDay;
    QSpinBox* m_fromDay;
    QSpinBox* m_tillDay;
    QCheckBox* m_validMonth;
    QSpinBox* m_fromMonth;
    QSpinBox* m_tillMonth;
    QCheckBox* m_validYear;
    QSpinBox* m_fromYear;
    QSpinBox* m_tillYear;
    QWidget* m_ruleEditor;
    CScheduleWeekGrid* m_weekGrid;

    int32_t m_scheduleId = -1; // schedule shown, -1 none
    int m_ruleIndex = -1;      // rule being edited, -1 none
    bool m_filling = false;    // fields are being filled: their signals are not edits
};
