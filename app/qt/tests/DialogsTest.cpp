// The error dialog and its display across threads, the "Notifications" list over the log, the
// options dialog's validation and storing, and the hot key translations.

#include "app/qt/ErrorDialog.h"
#include "app/qt/HotKey.h"
#include "app/qt/HotKeyEdit.h"
#include "app/qt/NotifyBar.h"
#include "app/qt/NotifyFilterModel.h"
#include "app/qt/NotifyListModel.h"
#include "app/qt/OptionsDlg.h"
#include "app/qt/QtErrorDisplay.h"
#include "app/qt/UiMessages.h"
#include "foundation/ErrorReport.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFont>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

TEST(ErrorDialog, ShowsTheSixLabelledFieldsOfTheFirstRecord) {
    CErrorEntry entry;
    entry.message = "Unable to run preview graph.";
    entry.internal = "E_FAIL";
    entry.file = ".\\CameraView";
    entry.className = "CDirectXEx";
    entry.line = 812;
    entry.info = "more";
    CErrorDialog dialog(entry);
    EXPECT_EQ(dialog.windowTitle(), "Tavrix - Error");
    EXPECT_EQ(dialog.Field("Error")->text(), "Unable to run preview graph.");
    EXPECT_EQ(dialog.Field("Lowlevel Error")->text(), "E_FAIL");
    EXPECT_EQ(dialog.Field("Source File")->text(), ".\\CameraView");
    EXPECT_EQ(dialog.Field("Exception Class")->text(), "CDirectXEx");
    EXPECT_EQ(dialog.Field("Souce Line")->text(), "812");
    EXPECT_EQ(dialog.Field("Additional Info")->text(), "more");
    EXPECT_TRUE(dialog.Field("Error")->isReadOnly());
    EXPECT_TRUE(dialog.Field("Error")->font().bold());
    EXPECT_EQ(dialog.Field("Error")->font().pixelSize(), 12);
    EXPECT_FALSE(dialog.Field("Source File")->font().bold());
}

// Waits (processing events) until a modal dialog of the type is up; returns it or null.
template <class T>
T* WaitForModal(int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            return dialog;
        }
    }
    return nullptr;
}

TEST(QtErrorDisplay, WorkerThreadReportsReachTheGuiThreadWithoutWaiting) {
    CQtErrorDisplay display;
    CNotificationLog::Instance().Clear();
    bool sawDialog = false;
    QString shownMessage;
    // The dialog is closed from within its own event loop once it is up.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CErrorDialog*>(QApplication::activeModalWidget())) {
            sawDialog = true;
            shownMessage = dialog->Field("Error")->text();
            EXPECT_EQ(dialog->thread(), QApplication::instance()->thread());
            dialog->accept();
        }
    });
    closer.start(10);
    std::thread worker([] {
        try {
            THROW_GENERAL("Recording thread failed.");
        } catch (const CBaseException& e) {
            ReportException(e, "Doc", "Cam"); // returns at once: the dialog is only queued
        }
    });
    worker.join();
    EXPECT_FALSE(sawDialog);
    QElapsedTimer timer;
    timer.start();
    while (!sawDialog && timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(shownMessage, "Recording thread failed.");
    ASSERT_EQ(CNotificationLog::Instance().GetCount(), 1);
    EXPECT_EQ(CNotificationLog::Instance().GetEntry(0).camName, "Cam");
}

TEST(QtErrorDisplay, UnattendedModeShowsNothingButStillLogs) {
    CQtErrorDisplay display;
    CNotificationLog::Instance().Clear();
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    CNotificationSettings settings = config.GetNotificationSettings();
    settings.SetUnattendedMode(true);
    config.SetNotificationSettings(settings);
    try {
        THROW_GENERAL("Nobody is watching.");
    } catch (const CBaseException& e) {
        ReportException(e, "", "");
    }
    EXPECT_EQ(WaitForModal<CErrorDialog>(300), nullptr);
    EXPECT_EQ(CNotificationLog::Instance().GetCount(), 1);
    settings.SetUnattendedMode(false);
    config.SetNotificationSettings(settings);
}

TEST(NotifyListModel, ReadsTheLogWithoutCopyingAndFollowsItsRing) {
    CNotificationLog log;
    log.SetCapacity(4); // keeps 3 entries
    CNotifyListModel model(log);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Time");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Document");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Camera");
    EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), "Information");
    EXPECT_EQ(model.rowCount(), 0);

    log.AddEntry("Doc", "Cam", "first");
    log.AddEntry("Doc", "", "second");
    EXPECT_EQ(model.rowCount(), 0) << "rows follow the log on Refresh only";
    model.Refresh();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), "first");
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Doc");
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "Cam");
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), "");

    // The model reads the entries live: the ring drops "first" and "second" shifts up.
    log.AddEntry("", "", "third");
    log.AddEntry("", "", "fourth");
    model.Refresh();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), "second");
    EXPECT_EQ(model.data(model.index(2, 3)).toString(), "fourth");

    log.Clear();
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(NotifyListModel, TimeColumnHasDateBlankAnd24HourTime) {
    platform::SystemTime time;
    time.year = 2024;
    time.month = 3;
    time.day = 9;
    time.hour = 17;
    time.minute = 5;
    time.second = 7;
    const QString text = CNotifyListModel::FormatTime(time);
    EXPECT_TRUE(text.endsWith(" 17:05:07")) << text.toStdString();
    EXPECT_TRUE(text.startsWith(QLocale::system().toString(QDate(2024, 3, 9), QLocale::ShortFormat)));
}

TEST(NotifyBar, ScrollsToTheNewestEntryOnEveryChange) {
    CNotificationLog log;
    CNotifyBar bar(log);
    bar.resize(600, 150);
    bar.show();
    for (int i = 0; i < 200; ++i) {
        log.AddEntry("", "", "entry " + std::to_string(i));
    }
    bar.OnListChanged();
    QApplication::processEvents();
    EXPECT_EQ(bar.windowTitle(), "Notifications");
    EXPECT_EQ(bar.View()->model()->rowCount(), 200);
    QScrollBar* scroll = bar.View()->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_GE(bar.View()->columnWidth(0), 120);
    EXPECT_EQ(bar.View()->columnWidth(3), 1000);
}

TEST(NotifyBar, FiltersByDocumentCameraAndTextSortsAndMarksErrors) {
    CNotificationLog log;
    CNotifyBar bar(log);
    bar.resize(800, 300);
    bar.show();
    log.AddEntry("Home", "Porch", "Changed camera state from 'Inactive' to 'Idle'");
    log.AddEntry("Home", "Garage", "Started recording to '/rec/Garage.mp4'");
    log.AddEntry("Shop", "Door", "Changed camera state from 'Idle' to 'Unavailable'");
    log.AddEntry("Shop", "Porch", "An error occurred during saving the document: 'disk says no'");
    log.AddEntry("", "", "Tavrix started");
    bar.OnListChanged();
    bar.UpdateChoices();
    QAbstractItemModel* shown = bar.View()->model();
    const auto column = [shown](int column) {
        QStringList texts;
        for (int row = 0; row < shown->rowCount(); ++row) {
            texts << shown->index(row, column).data().toString();
        }
        return texts;
    };
    ASSERT_EQ(shown->rowCount(), 5);

    // The choices hold the names in the log after "All ...".
    ASSERT_EQ(bar.DocumentField()->count(), 3);
    EXPECT_EQ(bar.DocumentField()->itemText(0), "All documents");
    EXPECT_EQ(bar.DocumentField()->itemText(2), "Shop");
    EXPECT_EQ(bar.CameraField()->count(), 4);

    bar.DocumentField()->setCurrentIndex(bar.DocumentField()->findText("Shop"));
    EXPECT_EQ(column(CNotifyListModel::kCamera), (QStringList{"Door", "Porch"}));
    bar.CameraField()->setCurrentIndex(bar.CameraField()->findText("Porch"));
    EXPECT_EQ(shown->rowCount(), 1);
    bar.DocumentField()->setCurrentIndex(0);
    EXPECT_EQ(column(CNotifyListModel::kDocument), (QStringList{"Home", "Shop"}));
    bar.CameraField()->setCurrentIndex(0);

    // The search looks into every column, case ignored.
    bar.SearchField()->setText("RECORDING");
    EXPECT_EQ(column(CNotifyListModel::kCamera), QStringList{"Garage"});
    bar.SearchField()->setText("shop");
    EXPECT_EQ(shown->rowCount(), 2);
    bar.SearchField()->clear();

    // Faults stand out, and can be shown alone.
    EXPECT_TRUE(shown->index(2, 3).data(CNotifyListModel::kErrorRole).toBool());
    EXPECT_TRUE(shown->index(3, 3).data(CNotifyListModel::kErrorRole).toBool());
    EXPECT_FALSE(shown->index(0, 3).data(CNotifyListModel::kErrorRole).toBool());
    EXPECT_TRUE(shown->index(3, 1).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(shown->index(0, 1).data(Qt::BackgroundRole).isValid());
    bar.ErrorsOnlyField()->setChecked(true);
    EXPECT_EQ(column(CNotifyListModel::kCamera), (QStringList{"Door", "Porch"}));
    bar.ErrorsOnlyField()->setChecked(false);

    // Sorted by camera, then back by time, newest first.
    bar.View()->sortByColumn(CNotifyListModel::kCamera, Qt::AscendingOrder);
    EXPECT_EQ(column(CNotifyListModel::kCamera), (QStringList{"", "Door", "Garage", "Porch", "Porch"}));
    bar.View()->sortByColumn(CNotifyListModel::kTime, Qt::DescendingOrder);
    EXPECT_EQ(column(CNotifyListModel::kInformation).first(), "Tavrix started");

    // New entries arrive through the filter, the columns' widths survive a restart.
    log.AddEntry("Shop", "Door", "Capturing device re-connected.");
    bar.OnListChanged();
    EXPECT_EQ(shown->rowCount(), 6);
    EXPECT_EQ(column(CNotifyListModel::kInformation).first(), "Capturing device re-connected.");
    bar.View()->setColumnWidth(CNotifyListModel::kCamera, 177);
    const QByteArray columns = bar.SaveColumns();
    CNotifyBar again(log);
    EXPECT_TRUE(again.RestoreColumns(columns));
    EXPECT_EQ(again.View()->columnWidth(CNotifyListModel::kCamera), 177);
    EXPECT_FALSE(again.RestoreColumns("nonsense"));
}

class OptionsDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = QDir::tempPath().toStdString() + "/tavrix-options-" + std::to_string(::getpid()) + ".conf";
        std::remove(m_path.c_str());
        m_config = std::make_unique<CConfigMgrImpl>(m_path);
        UiMessages::SetHook([this](const QString& text) {
            m_messages << text;
            return true;
        });
    }
    void TearDown() override {
        UiMessages::SetHook({});
        std::remove(m_path.c_str());
    }
    std::string m_path;
    std::unique_ptr<CConfigMgrImpl> m_config;
    QStringList m_messages;
};

TEST_F(OptionsDlgTest, ProposesControlShiftAltCAndRequiresAHotKey) {
    COptionsDlg dialog(*m_config);
    EXPECT_EQ(dialog.HotKeyField()->GetHotKey(), CHotKey(67, 7));
    // Backspace empties the field; OK then refuses with the message and stays open.
    QTest::keyClick(dialog.HotKeyField(), Qt::Key_Backspace);
    EXPECT_TRUE(dialog.HotKeyField()->GetHotKey().IsEmpty());
    dialog.show();
    dialog.accept();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], "You must enter a hotkey");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(m_config->GetMiscSettings().GetHotKeyVirtualKeyCode(), 0) << "nothing stored";

    // Ctrl+Alt+F5 typed into the field is taken whole.
    QTest::keyClick(dialog.HotKeyField(), Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(dialog.HotKeyField()->GetHotKey(), CHotKey(0x74, CHotKey::kControl | CHotKey::kAlt));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_config->GetMiscSettings().GetHotKeyVirtualKeyCode(), 0x74);
    EXPECT_EQ(m_config->GetMiscSettings().GetHotKeyModifiers(), 6);
}

TEST_F(OptionsDlgTest, LogLengthTakesUpToFourDigits) {
    COptionsDlg dialog(*m_config);
    EXPECT_EQ(dialog.LogLengthField()->text(), "1000");
    dialog.LogLengthField()->clear();
    QTest::keyClicks(dialog.LogLengthField(), "123456");
    EXPECT_EQ(dialog.LogLengthField()->text(), "1234");
    QString message;
    EXPECT_TRUE(dialog.Validate(message));
    dialog.LogLengthField()->setText("");
    EXPECT_FALSE(dialog.Validate(message));
    EXPECT_FALSE(message.isEmpty());
}

TEST_F(OptionsDlgTest, StoresEverySettingWithTheDatabaseAsAFullPath) {
    CMiscSettings misc;
    misc.SetMinimizeMode(7); // a value that does nothing survives the dialog untouched
    m_config->SetMiscSettings(misc);
    COptionsDlg dialog(*m_config);
    EXPECT_EQ(dialog.MinimizeModeField()->currentData().toInt(), 7);
    dialog.LogLengthField()->setText("250");
    dialog.DatabasePathField()->setText("relative/Tavrix.db");
    dialog.UnattendedField()->setChecked(true);
    dialog.MinimizeOnStartupField()->setChecked(true);
    dialog.DisableMDField()->setChecked(true);
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted) << m_messages.join("|").toStdString();
    const CNotificationSettings notification = m_config->GetNotificationSettings();
    EXPECT_EQ(notification.GetMaximumLogLength(), 250);
    EXPECT_EQ(notification.GetUserDbPath(),
              QDir::current().absoluteFilePath("relative/Tavrix.db").toStdString());
    EXPECT_TRUE(notification.GetUnattendedMode());
    const CMiscSettings stored = m_config->GetMiscSettings();
    EXPECT_EQ(stored.GetMinimizeMode(), 7);
    EXPECT_TRUE(stored.GetMinimizeOnStartup());
    EXPECT_TRUE(stored.GetDisableMDWhenInactive());
    EXPECT_EQ(stored.GetHotKeyVirtualKeyCode(), 67);
    EXPECT_EQ(stored.GetHotKeyModifiers(), 7);
}

TEST(HotKey, TranslatesBetweenVirtualKeysQtAndX11) {
    const CHotKey proposed(67, 7);
    EXPECT_EQ(proposed.ToQt().key(), Qt::Key_C);
    EXPECT_EQ(proposed.ToQt().keyboardModifiers(), Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(proposed.ToKeySym(), 0x63u); // XK_c
    EXPECT_EQ(proposed.ToX11Modifiers(), 1u | 4u | 8u);
    EXPECT_EQ(proposed.ToText(), "Ctrl+Alt+Shift+C");

    struct Row {
        int qtKey;
        uint16_t virtualKey;
        uint32_t keySym;
    };
    const Row rows[] = {{Qt::Key_A, 'A', 0x61},       {Qt::Key_7, '7', 0x37},
                        {Qt::Key_F1, 0x70, 0xFFBE},   {Qt::Key_F12, 0x7B, 0xFFC9},
                        {Qt::Key_Home, 0x24, 0xFF50}, {Qt::Key_Delete, 0x2E, 0xFFFF},
                        {Qt::Key_Space, 0x20, 0x20},  {Qt::Key_Slash, 0xBF, 0x2F}};
    for (const Row& row : rows) {
        const CHotKey key = CHotKey::FromQt(row.qtKey, Qt::ControlModifier);
        EXPECT_EQ(key.GetVirtualKey(), row.virtualKey) << row.qtKey;
        EXPECT_EQ(key.GetModifiers(), CHotKey::kControl);
        EXPECT_EQ(key.ToQt().key(), row.qtKey);
        EXPECT_EQ(key.ToKeySym(), row.keySym);
    }
    EXPECT_TRUE(CHotKey::FromQt(Qt::Key_MediaPlay, Qt::NoModifier).IsEmpty());
    EXPECT_EQ(CHotKey(0xE7, 2).ToKeySym(), 0u);
    EXPECT_EQ(CHotKey(0xE7, 2).ToText(), "Key 0xe7");
}

} // namespace
