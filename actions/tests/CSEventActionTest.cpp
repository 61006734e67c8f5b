#include "actions/CSEA_InvokeCommand.h"
#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_SendFTP.h"
#include "actions/CSEA_SendMail.h"
#include "actions/CSEA_SendSkype.h"
#include "actions/CSEventActionFactory.h"
#include "actions/CSEventRecord.h"
#include "persistence/NotificationLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <vector>

namespace {

using Row = std::tuple<std::string, std::string, int32_t>;

std::vector<Row> Table(const CSEventAction& action) {
    std::vector<Row> rows;
    for (const CSEAPropertyRow* row = action.GetPropertyTable(); row->key; ++row) {
        rows.emplace_back(row->key, row->label, row->type);
    }
    return rows;
}

} // namespace

TEST(CSEventActionTest, TheFactoryKnowsEveryKind) {
    const auto& factory = CSEventActionFactory::Instance();
    const std::pair<int32_t, const char*> kinds[] = {
        {1, "Play Sound"}, {2, "Send Mail"}, {3, "Send FTP"},     {4, "Invoke Command"},
        {5, "Send Skype"}, {6, "Webhook"},   {7, "MQTT Publish"}, {8, "S3 Upload"}};
    for (const auto& [id, name] : kinds) {
        auto action = factory.Create(id);
        ASSERT_TRUE(action) << id;
        EXPECT_EQ(action->GetClassId(), id);
        EXPECT_EQ(action->GetName(), name);
    }
    for (int32_t id : {0, 9, -1, 1000}) {
        EXPECT_EQ(factory.Create(id), nullptr) << id;
    }
    std::vector<int32_t> offered;
    for (const int32_t* id = factory.GetCreatableClasses(); *id != -1; ++id) {
        offered.push_back(*id);
    }
    EXPECT_EQ(offered, (std::vector<int32_t>{1, 2, 3, 5, 4, 6, 7, 8}));
}

TEST(CSEventActionTest, PropertyTablesAndDefaults) {
    using namespace SEAPropertyType;
    CSEA_PlaySnd sound;
    EXPECT_EQ(Table(sound), (std::vector<Row>{{"SoundFile", "Sound File", FilePath}}));
    EXPECT_EQ(sound.GetStringProps().at("SoundFile"), "");

    CSEA_InvokeCommand command;
    EXPECT_EQ(Table(command), (std::vector<Row>{{"Command", "Command", FilePath},
                                                {"Parameters", "Parameters", Text},
                                                {"ShowWindow", "Show Window", Bool}}));
    EXPECT_TRUE(command.GetBoolProp("ShowWindow"));

    CSEA_SendFTP ftp;
    EXPECT_EQ(Table(ftp), (std::vector<Row>{{"FTPPath", "Path on server", Text},
                                            {"FTPFilename", "Filename on server", Text},
                                            {"FTPServer", "FTP Server", Text},
                                            {"FTPPort", "FTP Port", Integer},
                                            {"FTPUser", "FTP User name", Text},
                                            {"FTPPass", "FTP Password", Password},
                                            {"FTPPassive", "Use passive FTP", Bool},
                                            {"MaxAttachSize", "Maximum Size (KB)", Integer}}));
    EXPECT_EQ(ftp.GetStringProp("FTPFilename"), "%n_%d%m%y_%h%i%s.%t");
    EXPECT_EQ(ftp.GetIntegerProp("FTPPort"), 21);
    EXPECT_EQ(ftp.GetIntegerProp("MaxAttachSize"), 512);
    EXPECT_FALSE(ftp.GetBoolProp("FTPPassive"));
    EXPECT_EQ(ftp.GetIntegerProps().count("FTPPassive"), 1u);

    CSEA_SendMail mail;
    EXPECT_EQ(Table(mail), (std::vector<Row>{{"Sender", "Sender Address", Text},
                                             {"Recipient", "Recipient Address", Text},
                                             {"Subject", "Subject String", Text},
                                             {"SMTPServer", "SMTP Server", Text},
                                             {"SMTPPort", "SMTP Port", Integer},
                                             {"SMTPUser", "SMTP User name", Text},
                                             {"SMTPPass", "SMTP Password", Password},
                                             {"AttachFile", "Attach File", Bool},
                                             {"MaxAttachSize", "Maximum Size (KB)", Integer}}));
    EXPECT_EQ(mail.GetIntegerProp("SMTPPort"), 25);
    EXPECT_EQ(mail.GetIntegerProp("MaxAttachSize"), 512);
    EXPECT_EQ(mail.GetIntegerProp("AttachFile"), 0);

    CSEA_SendSkype skype;
    EXPECT_EQ(Table(skype),
              (std::vector<Row>{{"Recipient", "Recipient Address", Text}, {"Text", "Text", Text}}));
    EXPECT_TRUE(skype.GetStringProps().empty()) << "the chat action has no defaults";
    EXPECT_TRUE(skype.GetIntegerProps().empty());
}

TEST(CSEventActionTest, PropertyAccess) {
    CSEA_SendMail mail;
    EXPECT_EQ(mail.GetStringProp("NoSuchKey"), "");
    EXPECT_EQ(mail.GetIntegerProp("NoSuchKey"), 0);
    EXPECT_FALSE(mail.GetBoolProp("NoSuchKey"));
    mail.SetIntegerProp("AttachFile", 2);
    EXPECT_FALSE(mail.GetBoolProp("AttachFile")) << "only exactly 1 is true";
    mail.SetBoolProp("AttachFile", true);
    EXPECT_EQ(mail.GetIntegerProp("AttachFile"), 1);
    mail.SetStringProp("SMTPPass", "secret");
    EXPECT_EQ(mail.GetStringProp("SMTPPass"), "secret");
    EXPECT_TRUE(mail.HasProperty("SMTPPass"));
    EXPECT_FALSE(mail.HasProperty("FTPPass"));

    auto clone = mail.Clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetClassId(), 2);
    EXPECT_EQ(clone->GetStringProp("SMTPPass"), "secret");
    mail.SetStringProp("SMTPPass", "changed");
    EXPECT_EQ(clone->GetStringProp("SMTPPass"), "secret");
}

TEST(CSEventActionTest, EventKindNames) {
    const char* names[] = {"Illegal",     "Activate",     "Deacticvate",   "Motion Start",
                           "Motion Stop", "Record Begin", "Record Finish", "Error Occurred"};
    for (int32_t kind = 0; kind <= 7; ++kind) {
        EXPECT_STREQ(GetEventKindName(kind), names[kind]);
    }
    EXPECT_STREQ(GetEventKindName(8), "Illegal");
    EXPECT_STREQ(GetEventKindName(-1), "Illegal");
    CSEventRecord record;
    EXPECT_EQ(record.document, nullptr);
    EXPECT_EQ(record.cameraId, -1);
    EXPECT_EQ(record.GetDocumentTitle(), "");
    EXPECT_EQ(record.GetCameraName(), "");
}

TEST(CSEventActionTest, EveryActionWithItsDefaultsFailsWithItsOwnLogLine) {
    // No session bus anywhere, so that the chat action fails at once instead of waiting for one.
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string savedBus = bus ? bus : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavrix-test-bus", 1);
    CNotificationLog::Instance().Clear();
    CSEventRecord record;
    for (int32_t id = 1; id <= 8; ++id) {
        auto action = CSEventActionFactory::Instance().Create(id);
        EXPECT_FALSE(action->Execute(record)) << action->GetName();
        const CLogEntry entry =
            CNotificationLog::Instance().GetEntry(CNotificationLog::Instance().GetCount() - 1);
        EXPECT_EQ(entry.text.rfind(action->GetName() + " Event Action: ", 0), 0u) << entry.text;
    }
    CNotificationLog::Instance().Clear();
    if (bus) {
        setenv("DBUS_SESSION_BUS_ADDRESS", savedBus.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}
