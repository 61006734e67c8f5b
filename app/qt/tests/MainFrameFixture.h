#pragma once
// The main frame over the real application core for the desktop's tests: private settings (the
// test program's), the message boxes and questions taken by hooks, documents with test cameras.

#include "app/TavrixAppCore.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/DispatcherBridge.h"
#include "app/qt/MainFrame.h"
#include "app/qt/PropGeneralDlg.h"
#include "app/qt/RecentFileList.h"
#include "app/qt/UiMessages.h"
#include "foundation/ErrorReport.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrixtest {

// Takes the message boxes of the documents and the user database instead of showing them.
class MessageBoxes : public IErrorDisplay {
public:
    MessageBoxes() { SetErrorDisplay(this); }
    ~MessageBoxes() override { SetErrorDisplay(nullptr); }
    void ShowErrorDialog(const CErrorEntry& entry) override { texts.push_back("dialog: " + entry.message); }
    void ShowMessageBox(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class MainFrameFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CNotificationLog::Instance().Clear();
        UiMessages::SetHook([this](const QString& text) {
            m_questions << text;
            return m_answer;
        });
        CTavrixAppCore::COptions options;
        options.monitorLock = false;
        options.watchDevices = false;
        ASSERT_TRUE(m_core.InitInstance(options));
        m_recent = std::make_unique<CRecentFileList>(CConfigMgrImpl::Instance().GetSettingsPath());
        m_frame = std::make_unique<CMainFrame>(m_core, m_dispatcher, *m_recent);
        m_core.SetMainFrameTarget(m_frame->GetTargetId());
        m_frame->show();
    }
    void TearDown() override {
        m_answer = false;
        if (m_frame) {
            m_frame->CloseAllDocuments();
            m_core.SetMainFrameTarget(CMessageDispatcher::kNoTarget);
            m_frame.reset();
        }
        m_core.ExitInstance();
        UiMessages::SetHook({});
        QApplication::processEvents();
    }

    // A saved document with test cameras of a small size and frame rate.
    std::string MakeDocument(const QString& name, const std::vector<std::string>& devices) {
        const std::string path = m_dir.filePath(name).toStdString();
        CTavrixDoc document;
        EXPECT_TRUE(document.OnNewDocument(path));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_dir.path().toStdString();
            for (size_t i = 0; i < devices.size(); ++i) {
                const std::string& device = devices[i];
                CCamera* camera = i == 0 ? data.m_cameras.Find(0) : data.AddCamera();
                camera->m_videoDeviceDN = device;
                camera->m_videoSizeCx = 160;
                camera->m_videoSizeCy = 120;
                camera->m_fps = 10;
            }
        });
        EXPECT_TRUE(document.OnSaveDocument());
        return path;
    }
    static std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
    static bool Logged(const std::string& text) {
        const auto texts = LogTexts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    QTemporaryDir m_dir;
    CMessageDispatcher m_dispatcher;
    CDispatcherBridge m_bridge{m_dispatcher};
    CTavrixAppCore m_core{m_dispatcher};
    std::unique_ptr<CRecentFileList> m_recent;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_questions;
    bool m_answer = false;
};

// Answers the camera property sheet of a new document when it comes up.
inline void AnswerSheet(bool ok, const QString& name = QString()) {
    QTimer::singleShot(0, [ok, name] {
        auto* sheet = qobject_cast<CCameraPropertySheet*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        if (!name.isEmpty()) {
            static_cast<CPropGeneralDlg*>(sheet->Page(0))->NameField()->setText(name);
        }
        ok ? sheet->accept() : sheet->reject();
    });
}

} // namespace tavrixtest
