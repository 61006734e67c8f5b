#include "app/qt/MotionGraph.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

CMotionGraph::CMotionGraph(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(60);
}

void CMotionGraph::AddValue(int value) {
    m_reason.clear();
    m_values.push_back(std::max(0, value));
    while (m_values.size() > kCapacity) {
        m_values.pop_front();
    }
    update();
}

void CMotionGraph::SetUnavailable(const QString& reason) {
    m_values.clear();
    m_reason = reason;
    update();
}

void CMotionGraph::SetThreshold(int threshold) {
    m_threshold = std::max(0, threshold);
    update();
}

int CMotionGraph::Scale() const {
    int largest = m_threshold;
    for (const int value : m_values) {
        largest = std::max(largest, value);
    }
    // Headroom above both, and never a scale of nothing.
    return std::max(10, largest + largest / 4);
}

QSize CMotionGraph::sizeHint() const {
    return {320, 90};
}

void CMotionGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(20, 24, 30));
    const QRect plot = rect().adjusted(2, fontMetrics().height() + 2, -2, -2);
    const double scale = Scale();
    const auto y = [&](int value) { return plot.bottom() - value / scale * plot.height(); };
    painter.setRenderHint(QPainter::Antialiasing);

    // The threshold.
    painter.setPen(QPen(QColor(230, 60, 60), 1, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), y(m_threshold)), QPointF(plot.right(), y(m_threshold)));

    if (!m_values.empty()) {
        const double step = plot.width() / static_cast<double>(kCapacity - 1);
        QPainterPath line;
        // The newest value at the right edge.
        const double start = plot.right() - step * static_cast<double>(m_values.size() - 1);
        for (size_t i = 0; i < m_values.size(); ++i) {
            const QPointF point(start + step * static_cast<double>(i), y(m_values[i]));
            i == 0 ? line.moveTo(point) : line.lineTo(point);
        }
        painter.setPen(QPen(QColor(90, 200, 120), 2));
        painter.drawPath(line);
    }

    painter.setPen(QColor(220, 220, 220));
    QString text;
    if (!m_reason.isEmpty()) {
        text = m_reason;
    } else if (!m_values.empty()) {
        text = QString("%1 changed pixels (threshold %2)").arg(m_values.back()).arg(m_threshold);
    }
    painter.drawText(rect().adjusted(4, 1, -4, 0), Qt::AlignLeft | Qt::AlignTop,
                     fontMetrics().elidedText(text, Qt::ElideRight, width() - 8));
}
