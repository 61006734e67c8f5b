#pragma once
// A document that uses every part of the format: two cameras (one with an area mask, compressor
// state, a schedule and a chain for every event), two schedules with rules, and a chain holding
// every kind of action with every property set, passwords included. For the tests of the JSON form.

#include "actions/CSEA_InvokeCommand.h"
#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_SendFTP.h"
#include "actions/CSEA_SendMail.h"
#include "actions/CSEA_SendSkype.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"

#include <memory>
#include <string>
#include <vector>

namespace richdoc {

constexpr const char* kMailPassword = "m@il-Secret";
constexpr const char* kFtpPassword = "ftp-Secret";
constexpr const char* kUrlPassword = "cam-Secret";

inline CTavrixDocData Make(const std::string& recordPath) {
    CTavrixDocData data;
    data.m_activateAtStartup = true;
    data.m_commonFilePath = recordPath;

    CTimeSchedule* nights = data.AddSchedule(); // id 0, one rule of a new rule's values
    nights->SetName("Nights");
    CTimeScheduleEntry weekend;
    weekend.DoW = 96;
    weekend.ValidTime = true;
    weekend.FromHour = 6;
    weekend.TillHour = 22;
    weekend.FromMinute = 30;
    weekend.ValidDay = true;
    weekend.FromDay = 2;
    weekend.TillDay = 30;
    weekend.ValidMonth = true;
    weekend.FromMonth = 3;
    weekend.TillMonth = 11;
    weekend.ValidYear = true;
    weekend.FromYear = 2026;
    weekend.TillYear = 2030;
    nights->AddEntry(weekend);
    data.AddSchedule()->SetName("Empty \"quoted\" schedule");
    data.m_schedules.Find(1)->RemoveEntry(0);

    CSEventActionChain* chain = data.AddChain(); // id 0
    chain->SetName("Everything");
    auto sound = std::make_unique<CSEA_PlaySnd>();
    sound->SetStringProp("SoundFile", "/usr/share/sounds/alarm.wav");
    chain->AddAction(std::move(sound));
    auto mail = std::make_unique<CSEA_SendMail>();
    mail->SetStringProp("Sender", "porch@example.org");
    mail->SetStringProp("Recipient", "me@example.org");
    mail->SetStringProp("Subject", "Motion at %c");
    mail->SetStringProp("SMTPServer", "mail.example.org");
    mail->SetIntegerProp("SMTPPort", 587);
    mail->SetStringProp("SMTPUser", "porch");
    mail->SetStringProp("SMTPPass", kMailPassword);
    mail->SetBoolProp("AttachFile", true);
    mail->SetIntegerProp("MaxAttachSize", 2048);
    chain->AddAction(std::move(mail));
    auto ftp = std::make_unique<CSEA_SendFTP>();
    ftp->SetStringProp("FTPServer", "ftp.example.org");
    ftp->SetIntegerProp("FTPPort", 2121);
    ftp->SetStringProp("FTPUser", "upload");
    ftp->SetStringProp("FTPPass", kFtpPassword);
    ftp->SetBoolProp("FTPPassive", false);
    chain->AddAction(std::move(ftp));
    auto command = std::make_unique<CSEA_InvokeCommand>();
    command->SetStringProp("Command", "/usr/bin/logger");
    command->SetStringProp("Parameters", "motion\tat %c\nline two");
    command->SetBoolProp("ShowWindow", true);
    chain->AddAction(std::move(command));
    auto chat = std::make_unique<CSEA_SendSkype>();
    chat->SetStringProp("Recipient", "guard");
    chat->SetStringProp("Text", "Motion: ümlaut ✓");
    chain->AddAction(std::move(chat));
    data.AddChain()->SetName("No actions"); // id 1

    CCamera* porch = data.m_cameras.Find(0) != nullptr ? data.m_cameras.Find(0) : data.AddCamera();
    porch->m_camName = "Porch";
    porch->m_videoDeviceDN = "test:ball";
    porch->m_motionGreyLevel = 1000;
    porch->m_motionShortTermPixelCount = 0;
    porch->m_motionPreEventDelay = 10000;
    porch->m_fps = 15;
    porch->m_videoSizeCx = 64;
    porch->m_videoSizeCy = 48;
    porch->m_timeScheduleId = 0;
    porch->m_compressorData = {0x00, 0x01, 0xfe, 0xff};
    porch->m_recordContainer = 2;
    porch->m_wmvActive = false;
    porch->m_areaMaskEnabled = true;
    porch->m_areaMaskImage.Create(64, 48);
    porch->m_areaMaskImage.Fill(false);
    for (int32_t y = 0; y < 48; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            porch->m_areaMaskImage.SetPixel(x, y, x < 20 || (x + y) % 7 == 0);
        }
    }
    for (int32_t kind = 1; kind <= 7; ++kind) {
        porch->SetChainId(kind, kind % 2 == 0 ? 1 : 0);
    }
    CCamera* gate = data.AddCamera();
    gate->m_camName = "Gate";
    gate->m_videoDeviceDN = std::string("rtsp://admin:") + kUrlPassword + "@192.0.2.7/stream";
    gate->m_fileNameTemplate = "%n/%y-%m-%d_%h%i%s.%t";
    return data;
}

// Every row of a document file, one text a row, in key order.
inline std::vector<std::string> Rows(const std::string& path) {
    sqlite3x::sqlite3_connection db(path);
    sqlite3x::sqlite3_command command(
        db, "select id || '|' || ifnull(int_value,'-') || '|' || ifnull(string_value,'-') || '|' || "
            "ifnull(hex(blob_value),'-') || '|' || typeof(int_value) || typeof(string_value) || "
            "typeof(blob_value) "
            "from t_config_data order by id;");
    sqlite3x::sqlite3_reader reader = command.executereader();
    std::vector<std::string> rows;
    while (reader.read()) {
        rows.push_back(reader.getstring(0));
    }
    return rows;
}

} // namespace richdoc
