#include "app/qt/FrameRateBox.h"

#include <QLineEdit>

#include <algorithm>

namespace {
const QString kUnit = QStringLiteral(" frames/s");
} // namespace

CFrameRateBox::CFrameRateBox(QWidget* parent) : QSpinBox(parent) {
    SetRates(1, kBestStored - 1, 0);
    setValue(maximum());
}

void CFrameRateBox::SetRates(int32_t minFps, int32_t maxFps, int32_t bestFps) {
    const bool best = value() == maximum();
    minFps = std::max(1, minFps);
    maxFps = std::clamp(maxFps, minFps, kBestStored - 1);
    m_bestFps = bestFps > 0 ? bestFps : 0;
    const int previous = value();
    setRange(minFps, maxFps + 1);
    setValue(best ? maximum() : std::clamp(previous, minFps, maxFps));
    // Typed text is validated against the texts below; the field's width follows the longest.
    updateGeometry();
}

void CFrameRateBox::SetStoredRate(int32_t storedFps) {
    if (storedFps >= kBestStored || storedFps <= 0) {
        m_storedBest = storedFps;
        setValue(maximum());
        return;
    }
    m_storedBest = kBestStored;
    if (storedFps < minimum()) {
        setMinimum(storedFps);
    } else if (storedFps >= maximum()) {
        setMaximum(storedFps + 1); // the best choice stays one step above
    }
    setValue(storedFps);
}

int32_t CFrameRateBox::StoredRate() const {
    return IsBestChosen() ? m_storedBest : value();
}

void CFrameRateBox::SetUnknownBestText(const QString& text) {
    m_unknownBestText = text;
    updateGeometry();
    lineEdit()->setText(textFromValue(value())); // the shown text follows
}

QString CFrameRateBox::BestText() const {
    return m_bestFps > 0 ? QString("Best: %1 frames/s").arg(m_bestFps) : m_unknownBestText;
}

QString CFrameRateBox::textFromValue(int value) const {
    return value == maximum() ? BestText() : QString::number(value) + kUnit;
}

int CFrameRateBox::valueFromText(const QString& text) const {
    QString number = text.trimmed();
    if (number.startsWith("Best", Qt::CaseInsensitive) || number == BestText()) {
        return maximum();
    }
    if (number.endsWith(kUnit.trimmed())) {
        number.chop(kUnit.trimmed().size());
    }
    bool ok = false;
    const int rate = number.trimmed().toInt(&ok);
    return ok ? rate : value();
}

QValidator::State CFrameRateBox::validate(QString& input, int&) const {
    const QString text = input.trimmed();
    if (text.isEmpty()) {
        return QValidator::Intermediate;
    }
    if (BestText().startsWith(text, Qt::CaseInsensitive)) {
        return text.compare(BestText(), Qt::CaseInsensitive) == 0 || text.compare("Best", Qt::CaseInsensitive) == 0
                   ? QValidator::Acceptable
                   : QValidator::Intermediate;
    }
    QString number = text;
    if (number.endsWith(kUnit.trimmed())) {
        number.chop(kUnit.trimmed().size());
    } else if (kUnit.trimmed().startsWith(number.section(' ', 1).trimmed()) && number.contains(' ')) {
        number = number.section(' ', 0, 0); // "15 fra" while typing
    }
    bool ok = false;
    const int rate = number.trimmed().toInt(&ok);
    if (!ok) {
        return QValidator::Invalid;
    }
    // The best choice is a text, not a number: typing its value means the highest rate.
    if (rate >= minimum() && rate < maximum()) {
        return QValidator::Acceptable;
    }
    return rate >= 0 && rate < maximum() ? QValidator::Intermediate : QValidator::Invalid;
}
