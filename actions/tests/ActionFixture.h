#pragma once
// A document with one camera for the action tests, event records of that camera, and the
// notification log entries the actions write.

#include "actions/CSEventRecord.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"

#include "PeerProcess.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

class CActionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = MakeTempDir("actions-doc-");
        ASSERT_TRUE(m_document.OnNewDocument(m_dir + "/Lobby.tvrx"));
        SetCamera("Door", false);
        CNotificationLog::Instance().Clear();
    }
    void TearDown() override {
        m_document.OnCloseDocument();
        CNotificationLog::Instance().Clear();
        RemoveTree(m_dir);
    }

    void SetCamera(const std::string& name, bool wmv) {
        m_document.Edit([&](CTavrixDocData& data) {
            CCamera* camera = data.m_cameras.Find(0);
            camera->m_camName = name;
            camera->m_wmvActive = wmv;
            camera->m_recordContainer = 0; // AVI or WMV as wmv says
        });
    }
    // 5 March 2007, 14:07:09 local time.
    static int64_t Moment() {
        struct tm local {};
        local.tm_year = 107;
        local.tm_mon = 2;
        local.tm_mday = 5;
        local.tm_hour = 14;
        local.tm_min = 7;
        local.tm_sec = 9;
        local.tm_isdst = -1;
        return static_cast<int64_t>(mktime(&local));
    }
    CSEventRecord Record(int32_t kind, const std::string& fileName = {}) {
        CSEventRecord record;
        record.document = &m_document;
        record.cameraId = 0;
        record.time = Moment();
        record.kind = kind;
        record.fileName = fileName;
        return record;
    }
    // Texts of the log entries; every one must carry the document title and the camera name.
    std::vector<std::string> LogTexts(const std::string& cameraName = "Door") const {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            EXPECT_EQ(entry.docName, "Lobby") << entry.text;
            EXPECT_EQ(entry.camName, cameraName) << entry.text;
            texts.push_back(entry.text);
        }
        return texts;
    }
    bool LogContains(const std::string& secret) const {
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            if (entry.text.find(secret) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::string m_dir;
    CTavrixDoc m_document;
};
