#pragma once
// CPropEventsDlg: the camera's "Events" page: for each of the seven camera events the event action
// chain it runs, or "<No Action>". GUI thread only.

#include "app/qt/PropertyPage.h"

#include <array>

class QComboBox;

class CPropEventsDlg : public CCameraPage {
    Q_OBJECT
public:
    static constexpr const char* kNoChain = "<No Action>";

    CPropEventsDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr);

    QString Title() const override { return "Events"; }
    void Store() override;

    // The choice for event kind 1 (Activate) .. 7 (Error Occurred).
    QComboBox* EventField(int kind) const { return m_events[static_cast<size_t>(kind - 1)]; }

private:
    std::array<QComboBox*, 7> m_events{};
};
