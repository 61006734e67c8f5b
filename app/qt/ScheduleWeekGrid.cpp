#include "app/qt/ScheduleWeekGrid.h"

#include "camera/TimeSchedule.h"

#include <QPainter>

#include <algorithm>

namespace {

const char* const kDayNames[] = {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};

} // namespace

CScheduleWeekGrid::CScheduleWeekGrid(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setToolTip("The hours of the week in which the schedule's rules make the camera active: the rule "
               "being edited in dark blue, the others lighter, hatched where a rule holds on some "
               "dates only.");
}

void CScheduleWeekGrid::SetSchedule(const CTimeSchedule* schedule, int selectedRule) {
    for (auto& day : m_coverage) {
        day.fill(kNone);
    }
    if (schedule != nullptr) {
        for (size_t index = 0; index < schedule->GetEntryCount(); ++index) {
            const CTimeScheduleEntry& rule = *schedule->GetEntry(index);
            const bool selected = static_cast<int>(index) == selectedRule;
            const Coverage mark = selected ? (rule.HasDateLimits() ? kSelectedSomeDates : kSelected)
                                           : (rule.HasDateLimits() ? kOtherSomeDates : kOther);
            for (int day = 0; day < 7; ++day) {
                for (int minute = 0; minute < kMinutes; ++minute) {
                    Coverage& cell = m_coverage[static_cast<size_t>(day)][static_cast<size_t>(minute)];
                    if (mark > cell && rule.CoversWeekMinute(day, minute)) {
                        cell = mark;
                    }
                }
            }
        }
    }
    update();
}

CScheduleWeekGrid::Coverage CScheduleWeekGrid::CoverageAt(int day, int minute) const {
    if (day < 0 || day > 6 || minute < 0 || minute >= kMinutes) {
        return kNone;
    }
    return m_coverage[static_cast<size_t>(day)][static_cast<size_t>(minute)];
}

QSize CScheduleWeekGrid::sizeHint() const {
    const int line = fontMetrics().height();
    return {fontMetrics().horizontalAdvance("Mo ") + 24 * line, line * 9};
}

QSize CScheduleWeekGrid::minimumSizeHint() const {
    const int line = fontMetrics().height();
    return {fontMetrics().horizontalAdvance("Mo ") + 24 * 8, line * 9};
}

void CScheduleWeekGrid::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int labelWidth = metrics.horizontalAdvance("Mo ") + 4;
    const int headerHeight = metrics.height() + 2;
    const int rowHeight = std::max(4, (height() - headerHeight - 1) / 7);
    const double hourWidth = std::max(1.0, (width() - labelWidth - 1) / 24.0);
    const auto x = [&](int minute) { return labelWidth + static_cast<int>(minute * hourWidth / 60.0); };

    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    // Hour labels every three hours.
    for (int hour = 0; hour < 24; hour += 3) {
        painter.drawText(QRect(x(hour * 60), 0, static_cast<int>(hourWidth * 3), headerHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, QString("%1").arg(hour, 2, 10, QLatin1Char('0')));
    }
    const QColor selected(30, 80, 170);
    const QColor other(130, 170, 230);
    for (int day = 0; day < 7; ++day) {
        const int top = headerHeight + day * rowHeight;
        painter.setPen(palette().text().color());
        painter.drawText(QRect(0, top, labelWidth, rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         kDayNames[day]);
        // Runs of equal coverage, drawn as one rectangle each.
        int start = 0;
        for (int minute = 1; minute <= kMinutes; ++minute) {
            const Coverage mark = CoverageAt(day, start);
            if (minute < kMinutes && CoverageAt(day, minute) == mark) {
                continue;
            }
            if (mark != kNone) {
                const QRect run(x(start), top + 1, std::max(1, x(minute) - x(start)), rowHeight - 1);
                const QColor colour = mark >= kSelectedSomeDates ? selected : other;
                const bool someDates = mark == kSelectedSomeDates || mark == kOtherSomeDates;
                painter.fillRect(run, someDates ? QBrush(colour, Qt::BDiagPattern) : QBrush(colour));
            }
            start = minute;
        }
    }
    // The hour lines.
    painter.setPen(QPen(palette().mid().color(), 0));
    for (int hour = 0; hour <= 24; ++hour) {
        painter.drawLine(x(hour * 60), headerHeight, x(hour * 60), headerHeight + 7 * rowHeight);
    }
    for (int day = 0; day <= 7; ++day) {
        const int y = headerHeight + day * rowHeight;
        painter.drawLine(labelWidth, y, x(kMinutes), y);
    }
}
