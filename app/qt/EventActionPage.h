#pragma once
// CEventActionPage: the document's "Event Action" page: the named event action chains (add,
// rename, delete unless a camera uses it), the actions of the chosen chain in order (add one of
// the five kinds, offered in the order Play Sound, Send Mail, Send FTP, Send Skype, Invoke
// Command; remove; move up or down) and the chosen action's properties in a typed grid.
// GUI thread only.

#include "app/qt/PropertyPage.h"

class CActionPropertyEditor;
class CSEventActionChain;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QToolButton;

class CEventActionPage : public CPropertyPage {
    Q_OBJECT
public:
    explicit CEventActionPage(CTavrixDocData& data, QWidget* parent = nullptr);

    QString Title() const override { return "Event Action"; }
    bool Validate(QString& message) override;
    void Store() override {} // every change is written into the copy as it is made

    QListWidget* ChainList() const { return m_chains; }
    QLineEdit* NameField() const { return m_name; }
    QPushButton* AddChainButton() const { return m_addChain; }
    QPushButton* DeleteChainButton() const { return m_deleteChain; }
    QListWidget* ActionList() const { return m_actions; }
    QMenu* AddActionMenu() const { return m_addMenu; }
    QPushButton* RemoveActionButton() const { return m_removeAction; }
    QPushButton* UpButton() const { return m_up; }
    QPushButton* DownButton() const { return m_down; }
    CActionPropertyEditor* PropertyGrid() const { return m_properties; }

private:
    void FillChains(int32_t selectId);
    void ShowChain(int32_t chainId);
    void FillActions(int selectRow);
    void ShowAction(int row);
    void AddChain();
    void DeleteChain();
    void AddAction(int32_t classId);
    void RemoveAction();
    void MoveAction(int delta);
    CSEventActionChain* CurrentChain();
    void UpdateButtons();

    QListWidget* m_chains;
    QLineEdit* m_name;
    QPushButton* m_addChain;
    QPushButton* m_deleteChain;
    QListWidget* m_actions;
    QToolButton* m_addAction;
    QMenu* m_addMenu;
    QPushButton* m_removeAction;
    QPushButton* m_up;
    QPushButton* m_down;
    CActionPropertyEditor* m_properties;
    int32_t m_chainId = -1;
};
