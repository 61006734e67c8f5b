#pragma once
// CFrameRateBox: the Video page's frame-rate field. Besides the rates a user types or steps
// through, it offers the device's best rate as a choice of its own, one step above the highest
// number: shown "Best: 30 frames/s" (the device's highest rate, once known) and stored as the
// camera's default of 1000 frames a second, which the capture format turns into the fastest rate
// the device offers for the chosen size. So a new camera reads what it will really get rather than
// "1000 frames/s". GUI thread only.

#include <QSpinBox>

class CFrameRateBox : public QSpinBox {
    Q_OBJECT
public:
    // The stored rate that asks for the device's best (the camera's default).
    static constexpr int32_t kBestStored = 1000;

    explicit CFrameRateBox(QWidget* parent = nullptr);

    // The rates offered: minFps to maxFps, and the best choice above them. bestFps is the rate the
    // best choice stands for (0: not known, "Best the device offers").
    void SetRates(int32_t minFps, int32_t maxFps, int32_t bestFps);
    // Shows a stored rate: 1000 or more (or 0 and less, "as fast as it can") is the best choice;
    // another rate outside the range widens it so that nothing changes unless the user picks.
    void SetStoredRate(int32_t storedFps);
    // The rate to store: the one chosen, or (best chosen) the stored "best" rate as it was read.
    int32_t StoredRate() const;
    bool IsBestChosen() const { return value() == maximum(); }
    int32_t BestFps() const { return m_bestFps; }
    void ChooseBest() { setValue(maximum()); }
    // The best choice's text while its rate is not known ("Best the device offers"; a network
    // camera's is its stream's own rate).
    void SetUnknownBestText(const QString& text);

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
    QValidator::State validate(QString& input, int& pos) const override;

private:
    QString BestText() const;

    int32_t m_bestFps = 0;
    QString m_unknownBestText = QStringLiteral("Best the device offers");
    int32_t m_storedBest = kBestStored; // the stored value the best choice keeps
};
