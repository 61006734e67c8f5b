#include "app/qt/EventActionPage.h"

#include "actions/CSEventActionFactory.h"
#include "app/qt/ActionPropertyEditor.h"
#include "app/qt/UiMessages.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

CEventActionPage::CEventActionPage(CTavrixDocData& data, QWidget* parent) : CPropertyPage(data, parent) {
    m_chains = new QListWidget(this);
    m_name = new QLineEdit(this);
    m_addChain = new QPushButton("&New", this);
    m_deleteChain = new QPushButton("&Delete", this);
    auto* chainButtons = new QHBoxLayout;
    chainButtons->addWidget(m_addChain);
    chainButtons->addWidget(m_deleteChain);
    auto* chainGroup = new QGroupBox("Action chains", this);
    auto* chainLayout = new QVBoxLayout(chainGroup);
    chainLayout->addWidget(m_chains, 1);
    chainLayout->addWidget(new QLabel("Name:", chainGroup));
    chainLayout->addWidget(m_name);
    chainLayout->addLayout(chainButtons);

    m_actions = new QListWidget(this);
    m_addAction = new QToolButton(this);
    m_addAction->setText("&Add Action");
    m_addAction->setPopupMode(QToolButton::InstantPopup);
    m_addMenu = new QMenu(m_addAction);
    // The kinds in the factory's order, each by the name of a temporary instance.
    CSEventActionFactory& factory = CSEventActionFactory::Instance();
    for (const int32_t* classId = factory.GetCreatableClasses(); *classId != -1; ++classId) {
        const auto sample = factory.Create(*classId);
        if (!sample) {
            continue;
        }
        QAction* entry = m_addMenu->addAction(QString::fromStdString(sample->GetName()));
        entry->setData(CSEventActionFactory::kFirstCommandId + *classId);
        const int32_t id = *classId;
        connect(entry, &QAction::triggered, this, [this, id] { AddAction(id); });
    }
    m_addAction->setMenu(m_addMenu);
    m_removeAction = new QPushButton("&Remove", this);
    m_up = new QPushButton("&Up", this);
    m_down = new QPushButton("Do&wn", this);
    auto* actionButtons = new QHBoxLayout;
    actionButtons->addWidget(m_addAction);
    actionButtons->addWidget(m_removeAction);
    actionButtons->addWidget(m_up);
    actionButtons->addWidget(m_down);
    m_properties = new CActionPropertyEditor(this);
    auto* actionGroup = new QGroupBox("Actions (run one after the other)", this);
    auto* actionLayout = new QVBoxLayout(actionGroup);
    actionLayout->addWidget(m_actions, 1);
    actionLayout->addLayout(actionButtons);
    actionLayout->addWidget(m_properties, 2);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(chainGroup, 1);
    layout->addWidget(actionGroup, 2);

    connect(m_chains, &QListWidget::currentRowChanged, this,
            [this](int row) { ShowChain(row >= 0 ? m_chains->item(row)->data(Qt::UserRole).toInt() : -1); });
    connect(m_actions, &QListWidget::currentRowChanged, this, &CEventActionPage::ShowAction);
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (CSEventActionChain* chain = CurrentChain()) {
            chain->SetName(text.toStdString());
            if (QListWidgetItem* item = m_chains->currentItem()) {
                item->setText(text);
            }
        }
    });
    connect(m_addChain, &QPushButton::clicked, this, &CEventActionPage::AddChain);
    connect(m_deleteChain, &QPushButton::clicked, this, &CEventActionPage::DeleteChain);
    connect(m_removeAction, &QPushButton::clicked, this, &CEventActionPage::RemoveAction);
    connect(m_up, &QPushButton::clicked, this, [this] { MoveAction(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { MoveAction(1); });

    FillChains(m_data.m_chains.Empty() ? -1 : m_data.m_chains.begin()->first);
}

CSEventActionChain* CEventActionPage::CurrentChain() {
    return m_chainId < 0 ? nullptr : m_data.m_chains.Find(m_chainId);
}

void CEventActionPage::FillChains(int32_t selectId) {
    ShowChain(FillNamedList(m_chains, m_data.m_chains, selectId));
}

void CEventActionPage::ShowChain(int32_t chainId) {
    m_chainId = chainId;
    const CSEventActionChain* chain = CurrentChain();
    m_name->setText(chain ? QString::fromStdString(chain->GetName()) : QString());
    m_name->setEnabled(chain != nullptr);
    FillActions(chain && chain->GetActionCount() > 0 ? 0 : -1);
}

void CEventActionPage::FillActions(int selectRow) {
    m_properties->SetAction(nullptr);
    {
        const QSignalBlocker blocker(m_actions);
        m_actions->clear();
        if (const CSEventActionChain* chain = CurrentChain()) {
            for (size_t i = 0; i < chain->GetActionCount(); ++i) {
                m_actions->addItem(QString::fromStdString(chain->GetAction(i)->GetName()));
            }
        }
        m_actions->setCurrentRow(selectRow);
    }
    ShowAction(m_actions->currentRow());
}

void CEventActionPage::ShowAction(int row) {
    CSEventActionChain* chain = CurrentChain();
    m_properties->SetAction(chain && row >= 0 ? chain->GetAction(static_cast<size_t>(row)) : nullptr);
    UpdateButtons();
}

void CEventActionPage::AddChain() {
    if (CSEventActionChain* chain = m_data.AddChain()) {
        FillChains(chain->GetId());
    }
}

void CEventActionPage::DeleteChain() {
    const CSEventActionChain* chain = CurrentChain();
    if (chain == nullptr) {
        return;
    }
    std::string message;
    m_properties->SetAction(nullptr); // its action may be about to go
    if (!m_data.DeleteChain(chain->GetId(), message)) {
        if (!message.empty()) {
            UiMessages::ShowWarning(this, QString::fromStdString(message));
        }
        ShowAction(m_actions->currentRow());
        return;
    }
    m_chainId = -1;
    FillChains(m_data.m_chains.Empty() ? -1 : m_data.m_chains.begin()->first);
}

void CEventActionPage::AddAction(int32_t classId) {
    CSEventActionChain* chain = CurrentChain();
    if (chain == nullptr) {
        return;
    }
    if (chain->AddAction(CSEventActionFactory::Instance().Create(classId))) {
        FillActions(static_cast<int>(chain->GetActionCount()) - 1);
    }
}

void CEventActionPage::RemoveAction() {
    CSEventActionChain* chain = CurrentChain();
    const int row = m_actions->currentRow();
    if (chain == nullptr || row < 0) {
        return;
    }
    m_properties->SetAction(nullptr);
    chain->RemoveAction(static_cast<size_t>(row));
    FillActions(std::min(row, static_cast<int>(chain->GetActionCount()) - 1));
}

void CEventActionPage::MoveAction(int delta) {
    CSEventActionChain* chain = CurrentChain();
    const int row = m_actions->currentRow();
    const int target = row + delta;
    if (chain == nullptr || row < 0 || target < 0 || target >= static_cast<int>(chain->GetActionCount())) {
        return;
    }
    chain->MoveAction(static_cast<size_t>(row), static_cast<size_t>(target));
    FillActions(target);
}

void CEventActionPage::UpdateButtons() {
    const CSEventActionChain* chain = CurrentChain();
    const int row = m_actions->currentRow();
    const int count = chain ? static_cast<int>(chain->GetActionCount()) : 0;
    m_deleteChain->setEnabled(chain != nullptr);
    m_addAction->setEnabled(chain != nullptr);
    m_removeAction->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row + 1 < count);
}

bool CEventActionPage::Validate(QString& message) {
    for (const auto& [id, chain] : m_data.m_chains) {
        if (QString::fromStdString(chain->GetName()).trimmed().isEmpty()) {
            message = "Please give every action chain a name.";
            return false;
        }
    }
    return true;
}
