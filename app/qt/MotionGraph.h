#pragma once
// CMotionGraph: the Motion page's live graph: the camera's changed-pixel count of the last
// seconds as a line moving from right to left, and the pixel-count threshold as a red dashed line
// across it, so that a user sees how often the picture's changes reach the threshold. Values come
// from the page's timer (AddValue); a gap (no live camera, or a camera that does not watch)
// clears the graph and shows why. GUI thread only.

#include <QString>
#include <QWidget>

#include <deque>

class CMotionGraph : public QWidget {
    Q_OBJECT
public:
    static constexpr size_t kCapacity = 120; // values kept: a minute at two a second

    explicit CMotionGraph(QWidget* parent = nullptr);

    void AddValue(int value);
    // No value to show, with the reason drawn instead of the line.
    void SetUnavailable(const QString& reason);
    void SetThreshold(int threshold);

    const std::deque<int>& Values() const { return m_values; }
    int Threshold() const { return m_threshold; }
    const QString& Reason() const { return m_reason; }
    // The count the vertical axis reaches: above the largest value and the threshold.
    int Scale() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::deque<int> m_values;
    int m_threshold = 0;
    QString m_reason;
};
