// The document's property sheet: copy-on-edit with OK and Cancel on a real document file, the
// schedule editor's limits and validation messages, the deletion guards of schedules and chains,
// and the chain editor's action menu and typed property editors.

#include "actions/CSEventActionFactory.h"
#include "app/qt/ActionPropertyEditor.h"
#include "app/qt/DocGeneralPage.h"
#include "app/qt/DocPropertySheet.h"
#include "app/qt/EventActionPage.h"
#include "app/qt/ScheduleWeekGrid.h"
#include "app/qt/TimeSchedulePage.h"
#include "app/qt/UiMessages.h"
#include "persistence/TavrixDoc.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Collects the texts of warning boxes instead of showing them.
class MessageCatcher {
public:
    MessageCatcher() {
        UiMessages::SetHook([this](const QString& text) {
            m_texts << text;
            return true;
        });
    }
    ~MessageCatcher() { UiMessages::SetHook({}); }
    QStringList Take() { return std::exchange(m_texts, {}); }

private:
    QStringList m_texts;
};

TEST(DocPropertySheet, EditsACopyThatOnlyOkAssignsBack) {
    QTemporaryDir dir;
    CTavrixDoc document;
    ASSERT_TRUE(document.OnNewDocument(dir.filePath("edit.tvrx").toStdString()));
    ASSERT_TRUE(document.OnSaveDocument());
    ASSERT_FALSE(document.IsModified());

    // Cancel: whatever was changed in the sheet is dropped.
    QTimer::singleShot(0, [] {
        auto* sheet = qobject_cast<CDocPropertySheet*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        static_cast<CDocGeneralPage*>(sheet->Page(0))->ActivateField()->setChecked(true);
        sheet->reject();
    });
    EXPECT_FALSE(CDocPropertySheet::Edit(document, nullptr));
    EXPECT_FALSE(document.GetActivateAtStartup());
    EXPECT_FALSE(document.IsModified());

    // OK: the copy with its new schedule and setting goes back into the document.
    QTimer::singleShot(0, [] {
        auto* sheet = qobject_cast<CDocPropertySheet*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        static_cast<CDocGeneralPage*>(sheet->Page(0))->ActivateField()->setChecked(true);
        static_cast<CTimeSchedulePage*>(sheet->Page(1))->AddScheduleButton()->click();
        sheet->accept();
    });
    EXPECT_TRUE(CDocPropertySheet::Edit(document, nullptr));
    EXPECT_TRUE(document.GetActivateAtStartup());
    EXPECT_TRUE(document.IsModified());
    const auto schedule = document.FindSchedule(0);
    ASSERT_TRUE(schedule.has_value());
    EXPECT_EQ(schedule->GetName(), "Schedule_0");
    EXPECT_EQ(schedule->GetEntryCount(), 1u);
}

TEST(DocGeneralPage, RecordFolderMustBeAFullPath) {
    CTavrixDocData data;
    CDocGeneralPage page(data);
    QString message;
    page.FolderField()->setText("relative/folder");
    EXPECT_FALSE(page.Validate(message));
    page.FolderField()->setText("/srv/recordings/");
    EXPECT_TRUE(page.Validate(message));
    page.Store();
    EXPECT_EQ(data.m_commonFilePath, "/srv/recordings");
}

class TimeSchedulePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        CTimeSchedule* schedule = m_data.AddSchedule();
        schedule->AddEntry(); // two rules
        m_page = std::make_unique<CTimeSchedulePage>(m_data);
    }
    CTimeScheduleEntry& Rule(size_t index) { return *m_data.m_schedules.Find(0)->GetEntry(index); }

    MessageCatcher m_messages;
    CTavrixDocData m_data;
    std::unique_ptr<CTimeSchedulePage> m_page;
};

TEST_F(TimeSchedulePageTest, LeavingAnInvalidRuleShowsTheMessageAndKeepsTheSelection) {
    ASSERT_EQ(m_page->RuleList()->currentRow(), 0);
    m_page->TimeCheck()->setChecked(true);
    m_page->FromTimeField()->setText("10:00");
    m_page->TillTimeField()->setText("10:00");
    EXPECT_EQ(Rule(0).FromHour, 10);
    EXPECT_EQ(m_page->RuleList()->item(0)->text(), "MoTuWeThFrSaSu + time 10:00 - 10:00");

    m_page->RuleList()->setCurrentRow(1);
    EXPECT_EQ(m_messages.Take(), QStringList{"From Time must not be equal to Till Time."});
    EXPECT_EQ(m_page->RuleList()->currentRow(), 0);

    m_page->TillTimeField()->setText("24:00"); // typed out of range
    m_page->RuleList()->setCurrentRow(1);
    ASSERT_EQ(m_messages.Take().size(), 1);
    EXPECT_EQ(m_page->RuleList()->currentRow(), 0);

    m_page->TillTimeField()->setText("17:00");
    m_page->RuleList()->setCurrentRow(1);
    EXPECT_TRUE(m_messages.Take().isEmpty());
    EXPECT_EQ(m_page->RuleList()->currentRow(), 1);
}

TEST_F(TimeSchedulePageTest, OvernightRuleIsAcceptedAndTheWeekGridShowsItIntoTheNextMorning) {
    // The first rule: Fridays 22:00 until 06:00; the second a new rule (every day, all day).
    for (int day = 0; day < 7; ++day) {
        m_page->DayField(day)->setChecked(day == 4);
    }
    m_page->TimeCheck()->setChecked(true);
    m_page->FromTimeField()->setText("22:00");
    m_page->TillTimeField()->setText("06:00");
    EXPECT_EQ(m_page->RuleList()->item(0)->text(), "Fr + time 22:00 - 06:00 next day");
    QString message;
    EXPECT_TRUE(m_page->Validate(message)) << message.toStdString();

    CScheduleWeekGrid* grid = m_page->WeekGrid();
    // The rule being edited wins over the all-week rule where both cover a minute.
    EXPECT_EQ(grid->CoverageAt(4, 22 * 60), CScheduleWeekGrid::kSelected);
    EXPECT_EQ(grid->CoverageAt(5, 5 * 60 + 59), CScheduleWeekGrid::kSelected);
    EXPECT_EQ(grid->CoverageAt(5, 6 * 60), CScheduleWeekGrid::kOther);
    EXPECT_EQ(grid->CoverageAt(4, 3 * 60), CScheduleWeekGrid::kOther);

    // Without the all-week rule only the night remains; a month range hatches it.
    m_page->RuleList()->setCurrentRow(1);
    m_page->DeleteRuleButton()->click();
    EXPECT_TRUE(m_messages.Take().isEmpty());
    EXPECT_EQ(grid->CoverageAt(4, 21 * 60 + 59), CScheduleWeekGrid::kNone);
    EXPECT_EQ(grid->CoverageAt(4, 23 * 60), CScheduleWeekGrid::kSelected);
    EXPECT_EQ(grid->CoverageAt(5, 6 * 60), CScheduleWeekGrid::kNone);
    m_page->MonthCheck()->setChecked(true);
    EXPECT_EQ(grid->CoverageAt(5, 0), CScheduleWeekGrid::kSelectedSomeDates);
    EXPECT_FALSE(grid->grab().isNull());
}

TEST_F(TimeSchedulePageTest, EveryValidationMessageOfTheRuleEditor) {
    struct Case {
        std::function<void(CTimeSchedulePage&)> edit;
        QString message;
    };
    const Case cases[] = {
        {[](CTimeSchedulePage& p) {
             for (int day = 0; day < 7; ++day) {
                 p.DayField(day)->setChecked(false);
             }
         },
         "Empty entries are not allowed. Please select something or delete the entry."},
        {[](CTimeSchedulePage& p) {
             p.DayCheck()->setChecked(true);
             p.FromDayField()->setValue(20);
             p.TillDayField()->setValue(10);
         },
         "From Day must be smaller than Till Day."},
        {[](CTimeSchedulePage& p) {
             p.MonthCheck()->setChecked(true);
             p.FromMonthField()->setValue(9);
             p.TillMonthField()->setValue(4);
         },
         "From Month must be smaller than Till Month."},
        {[](CTimeSchedulePage& p) {
             p.YearCheck()->setChecked(true);
             p.FromYearField()->setValue(2030);
             p.TillYearField()->setValue(2025);
         },
         "From Year must be smaller than Till Year."},
    };
    for (const Case& c : cases) {
        CTavrixDocData data;
        data.AddSchedule();
        CTimeSchedulePage page(data);
        c.edit(page);
        QString message;
        EXPECT_FALSE(page.Validate(message));
        EXPECT_EQ(message, c.message);
    }
    // Equal bounds are accepted; a rule with only a time range and no day passes validation.
    m_page->DayCheck()->setChecked(true);
    m_page->FromDayField()->setValue(31);
    m_page->TillDayField()->setValue(31);
    QString message;
    EXPECT_TRUE(m_page->Validate(message)) << message.toStdString();
}

TEST_F(TimeSchedulePageTest, EditorLimitsDaysMonthsAndYears) {
    EXPECT_EQ(m_page->FromDayField()->minimum(), 1);
    EXPECT_EQ(m_page->TillDayField()->maximum(), 31);
    EXPECT_EQ(m_page->FromMonthField()->maximum(), 12);
    EXPECT_EQ(m_page->FromYearField()->minimum(), CTimeSchedulePage::kFirstYear);
    EXPECT_EQ(m_page->TillYearField()->maximum(), CTimeSchedulePage::kLastYear);
    EXPECT_EQ(m_page->FromTimeField()->inputMask(), "99:99");
    // A stored year outside the range is shown as it is, not clamped.
    Rule(1).ValidYear = true;
    Rule(1).FromYear = 1999;
    m_page->RuleList()->setCurrentRow(1);
    EXPECT_EQ(m_page->FromYearField()->value(), 1999);
    EXPECT_EQ(Rule(1).FromYear, 1999);
}

TEST_F(TimeSchedulePageTest, RulesCanBeDeletedOnlyWhileMoreThanOneIsLeft) {
    EXPECT_TRUE(m_page->DeleteRuleButton()->isEnabled());
    m_page->DeleteRuleButton()->click();
    EXPECT_EQ(m_data.m_schedules.Find(0)->GetEntryCount(), 1u);
    EXPECT_FALSE(m_page->DeleteRuleButton()->isEnabled());
    m_page->DeleteRuleButton()->click();
    EXPECT_EQ(m_data.m_schedules.Find(0)->GetEntryCount(), 1u);
    m_page->AddRuleButton()->click();
    EXPECT_EQ(m_data.m_schedules.Find(0)->GetEntryCount(), 2u);
    EXPECT_EQ(m_page->RuleList()->currentRow(), 1);
    EXPECT_EQ(m_page->RuleList()->item(1)->text(), "MoTuWeThFrSaSu");
}

TEST_F(TimeSchedulePageTest, DeletingAScheduleInUseIsRefused) {
    CCamera* camera = m_data.AddCamera();
    camera->m_timeScheduleId = 0;
    CTimeSchedulePage page(m_data);
    page.DeleteScheduleButton()->click();
    EXPECT_EQ(m_messages.Take(),
              QStringList{"The schedule cannot be deleted because it is used in a camera definition."});
    EXPECT_NE(m_data.m_schedules.Find(0), nullptr);
    camera->m_timeScheduleId = -1;
    page.DeleteScheduleButton()->click();
    EXPECT_TRUE(m_messages.Take().isEmpty());
    EXPECT_TRUE(m_data.m_schedules.Empty());
    EXPECT_EQ(page.ScheduleList()->count(), 0);
}

TEST_F(TimeSchedulePageTest, SheetOkIsRefusedWhileTheRuleIsInvalid) {
    CDocPropertySheet sheet(m_data);
    auto* page = static_cast<CTimeSchedulePage*>(sheet.Page(1));
    page->TimeCheck()->setChecked(true);
    page->FromTimeField()->setText("12:00");
    page->TillTimeField()->setText("12:00");
    sheet.show();
    sheet.accept();
    EXPECT_EQ(m_messages.Take(), QStringList{"From Time must not be equal to Till Time."});
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.Tabs()->currentWidget(), page);
    page->TillTimeField()->setText("18:00");
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

TEST(EventActionPage, OffersTheActionKindsInFactoryOrderByName) {
    CTavrixDocData data;
    data.AddChain();
    CEventActionPage page(data);
    QStringList names;
    QList<int> commands;
    for (QAction* action : page.AddActionMenu()->actions()) {
        names << action->text();
        commands << action->data().toInt();
    }
    EXPECT_EQ(names, (QStringList{"Play Sound", "Send Mail", "Send FTP", "Send Skype", "Invoke Command", "Webhook",
                                  "MQTT Publish", "S3 Upload"}));
    EXPECT_EQ(commands, (QList<int>{25001, 25002, 25003, 25005, 25004, 25006, 25007, 25008}));

    page.AddActionMenu()->actions()[1]->trigger(); // Send Mail
    page.AddActionMenu()->actions()[4]->trigger(); // Invoke Command
    const CSEventActionChain* chain = data.m_chains.Find(0);
    ASSERT_EQ(chain->GetActionCount(), 2u);
    EXPECT_EQ(chain->GetAction(0)->GetClassId(), 2);
    EXPECT_EQ(page.ActionList()->currentRow(), 1);
    page.UpButton()->click();
    EXPECT_EQ(chain->GetAction(0)->GetClassId(), 4);
    EXPECT_EQ(page.ActionList()->item(0)->text(), "Invoke Command");
    page.RemoveActionButton()->click();
    ASSERT_EQ(chain->GetActionCount(), 1u);
    EXPECT_EQ(chain->GetAction(0)->GetClassId(), 2);
}

TEST(ActionPropertyEditor, EachPropertyTypeGetsItsEditorWhichWritesThrough) {
    for (int32_t classId = 1; classId <= 5; ++classId) {
        auto action = CSEventActionFactory::Instance().Create(classId);
        ASSERT_TRUE(action);
        CActionPropertyEditor grid;
        grid.SetAction(action.get());
        int row = 0;
        for (const CSEAPropertyRow* property = action->GetPropertyTable(); property->key; ++property, ++row) {
            QWidget* editor = grid.Editor(row);
            ASSERT_NE(editor, nullptr) << property->key;
            EXPECT_EQ(grid.item(row, 0)->text(), QString::fromUtf8(property->label));
            const std::string key = property->key;
            switch (property->type) {
            case SEAPropertyType::Text: {
                auto* edit = qobject_cast<QLineEdit*>(editor);
                ASSERT_NE(edit, nullptr) << key;
                EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
                edit->setText("typed text");
                EXPECT_EQ(action->GetStringProp(key), "typed text");
                break;
            }
            case SEAPropertyType::Integer: {
                auto* spin = qobject_cast<QSpinBox*>(editor);
                ASSERT_NE(spin, nullptr) << key;
                EXPECT_EQ(spin->value(), action->GetIntegerProp(key));
                spin->setValue(-70000);
                EXPECT_EQ(action->GetIntegerProp(key), -70000);
                break;
            }
            case SEAPropertyType::FilePath: {
                auto* path = qobject_cast<CFilePathEdit*>(editor);
                ASSERT_NE(path, nullptr) << key;
                path->SetText("/tmp/alarm.wav");
                EXPECT_EQ(action->GetStringProp(key), "/tmp/alarm.wav");
                break;
            }
            case SEAPropertyType::Password: {
                auto* edit = qobject_cast<QLineEdit*>(editor);
                ASSERT_NE(edit, nullptr) << key;
                EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
                edit->setText("secret");
                EXPECT_EQ(action->GetStringProp(key), "secret");
                break;
            }
            case SEAPropertyType::Bool: {
                auto* box = qobject_cast<QCheckBox*>(editor);
                ASSERT_NE(box, nullptr) << key;
                box->setChecked(!action->GetBoolProp(key));
                const bool now = box->isChecked();
                EXPECT_EQ(action->GetBoolProp(key), now);
                EXPECT_EQ(action->GetIntegerProp(key), now ? 1 : 0);
                break;
            }
            default:
                ADD_FAILURE() << "unknown property type " << property->type;
            }
        }
        EXPECT_GT(row, 0);
    }
}

TEST(EventActionPage, DeletingAChainInUseIsRefused) {
    MessageCatcher messages;
    CTavrixDocData data;
    data.AddChain();
    data.AddCamera()->SetChainId(7, 0);
    CEventActionPage page(data);
    page.DeleteChainButton()->click();
    EXPECT_EQ(messages.Take(),
              QStringList{"The action chain cannot be deleted because it is used in a camera definition."});
    EXPECT_NE(data.m_chains.Find(0), nullptr);
    data.m_cameras.Find(0)->SetChainId(7, -1);
    page.DeleteChainButton()->click();
    EXPECT_TRUE(data.m_chains.Empty());
    page.AddChainButton()->click();
    ASSERT_EQ(page.ChainList()->count(), 1);
    EXPECT_EQ(page.ChainList()->item(0)->text(), "EventActionChain_1");
    QTest::keyClick(page.NameField(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(page.NameField(), Qt::Key_Backspace);
    QString message;
    EXPECT_FALSE(page.Validate(message));
    EXPECT_EQ(message, "Please give every action chain a name.");
    QTest::keyClicks(page.NameField(), "Alarm");
    EXPECT_EQ(data.m_chains.Find(1)->GetName(), "Alarm");
    EXPECT_EQ(page.ChainList()->item(0)->text(), "Alarm");
}

} // namespace

TEST(ActionPropertyEditor, ReturnInACellEditsTheNextRowAndNeverPressesOk) {
    CTavrixDocData data;
    CSEventActionChain* chain = data.AddChain();
    ASSERT_NE(chain, nullptr);
    CDocPropertySheet sheet(data);
    CEventActionPage* page = nullptr;
    for (int i = 0; i < sheet.PageCount(); ++i) {
        if (auto* found = qobject_cast<CEventActionPage*>(sheet.Page(i))) {
            page = found;
        }
    }
    ASSERT_NE(page, nullptr);
    sheet.Tabs()->setCurrentWidget(page);
    page->AddActionMenu()->actions()[1]->trigger(); // Send Mail: text rows first
    CActionPropertyEditor* grid = page->PropertyGrid();
    ASSERT_GT(grid->rowCount(), 2);
    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));

    auto* first = qobject_cast<QLineEdit*>(grid->Editor(0));
    ASSERT_NE(first, nullptr);
    first->setFocus();
    QTest::keyClicks(first, "x");
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible()) << "Return in a cell closed the sheet";
    EXPECT_EQ(grid->currentRow(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(grid->currentRow(), 2);

    // On the grid itself Return puts the cursor into the current row's editor.
    grid->setFocus();
    grid->setCurrentCell(0, 0);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(first->hasFocus());
    sheet.reject();
}
