#pragma once
// CScheduleWeekGrid: the week of a time schedule at a glance, under the schedule editor: one row a
// day (Monday to Sunday), one column an hour, filled where the schedule's rules make the camera
// active. The rule being edited is drawn in a stronger colour than the others; rules limited to
// some dates (day, month or year ranges) are hatched, as they cover those hours only on some
// weeks. Overnight ranges run from the evening of their day into the next morning (Sunday night
// into Monday morning). GUI thread only.

#include <QWidget>

#include <array>
#include <cstdint>

class CTimeSchedule;

class CScheduleWeekGrid : public QWidget {
    Q_OBJECT
public:
    // What covers one minute of the week, in the order the grid lets it win.
    enum Coverage : uint8_t {
        kNone = 0,
        kOtherSomeDates,
        kOther,
        kSelectedSomeDates,
        kSelected,
    };

    explicit CScheduleWeekGrid(QWidget* parent = nullptr);

    // The schedule shown (null: an empty grid) and the index of the rule being edited (-1 none).
    // The schedule is read at once; call again after it changed.
    void SetSchedule(const CTimeSchedule* schedule, int selectedRule);

    // day 0 Monday .. 6 Sunday, minute 0..1439.
    Coverage CoverageAt(int day, int minute) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kMinutes = 24 * 60;
    std::array<std::array<Coverage, kMinutes>, 7> m_coverage{};
};
