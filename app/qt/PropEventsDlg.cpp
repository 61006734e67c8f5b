#include "app/qt/PropEventsDlg.h"

#include <QComboBox>
#include <QFormLayout>

namespace {
const char* const kEventLabels[] = {"&Activate:",     "&Deactivate:",    "&Motion start:",  "Motion s&top:",
                                    "&Record begin:", "Record &finish:", "&Error occurred:"};
} // namespace

CPropEventsDlg::CPropEventsDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent)
    : CCameraPage(data, cameraId, parent) {
    auto* form = new QFormLayout(this);
    const CCamera& camera = Camera();
    for (int kind = 1; kind <= 7; ++kind) {
        auto* combo = new QComboBox(this);
        combo->addItem(kNoChain, -1);
        for (const auto& [id, chain] : m_data.m_chains) {
            combo->addItem(QString::fromStdString(chain->GetName()), id);
        }
        const int32_t chainId = camera.GetChainId(kind);
        int index = combo->findData(chainId);
        if (index < 0) {
            // A chain id the document does not hold (a damaged file): kept until another is picked.
            combo->addItem(QString("<Unknown chain %1>").arg(chainId), chainId);
            index = combo->count() - 1;
        }
        combo->setCurrentIndex(index);
        form->addRow(kEventLabels[kind - 1], combo);
        m_events[static_cast<size_t>(kind - 1)] = combo;
    }
}

void CPropEventsDlg::Store() {
    CCamera& camera = Camera();
    for (int kind = 1; kind <= 7; ++kind) {
        camera.SetChainId(kind, EventField(kind)->currentData().toInt());
    }
}
