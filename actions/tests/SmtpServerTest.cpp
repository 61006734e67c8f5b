// The SMTP client delivering to a real SMTP server (aiosmtpd) on loopback; the server reads each
// mail back with Python's mail parser.
#include "actions/Smtp.h"
#include "foundation/Exceptions.h"

#include "PeerProcess.h"
#include "ReceivedMail.h"

#include <gtest/gtest.h>

using namespace mylib;

namespace {

class SmtpServerTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = MakeTempDir("smtp-server-"); }
    void TearDown() override {
        m_server.Stop();
        RemoveTree(m_dir);
    }
    int StartServer() { return m_server.StartServer({kSystemPython, PeerScript("smtp_server.py"), m_dir}); }
    MySMTPMessage Message() {
        MySMTPMessage message;
        message.SetFrom(MySMTPAddress("tavrix@example.org"));
        message.AddRecipient(MySMTPAddress("guard@example.org"), MySMTPMessage::TO);
        message.AddRecipient(MySMTPAddress("boss@example.org", "The Boss"), MySMTPMessage::CC);
        message.AddRecipient(MySMTPAddress("archive@example.org"), MySMTPMessage::BCC);
        message.SetSubject("Tavrix event occurred");
        message.SetBody("\nTavrix has recorded an event!\n\n.hidden dot line\nRatio=3D50%\n\n");
        return message;
    }

    std::string m_dir;
    CPeerProcess m_server;
};

} // namespace

TEST_F(SmtpServerTest, PlainMailArrivesWithItsHeaderAndBody) {
    int port = StartServer();
    ASSERT_NE(port, 0);
    MySMTPConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", port, "", ""));
    ASSERT_TRUE(connection.SendMessage(Message()));
    connection.Disconnect();

    CReceivedMail mail(m_dir, 1);
    ASSERT_TRUE(mail.found);
    EXPECT_EQ(mail.mailFrom, "tavrix@example.org");
    EXPECT_EQ(mail.rcptTos, "guard@example.org,boss@example.org,archive@example.org");
    EXPECT_EQ(mail.Header("From"), "tavrix@example.org");
    EXPECT_EQ(mail.Header("To"), "guard@example.org");
    EXPECT_EQ(mail.Header("Cc"), "The Boss<boss@example.org>");
    EXPECT_EQ(mail.Header("Subject"), "Tavrix event occurred");
    EXPECT_EQ(mail.Header("X-Mailer"), "MySMTPConnection v1.3");
    EXPECT_EQ(mail.Header("Bcc"), "");
    EXPECT_TRUE(mail.dateOk) << mail.Header("Date");
    EXPECT_FALSE(mail.multipart);
    EXPECT_EQ(mail.defects, "");
    // The end-of-data line always follows on a line of its own, so one empty line more arrives.
    EXPECT_EQ(mail.body, "\nTavrix has recorded an event!\n\n.hidden dot line\nRatio=3D50%\n\n\n");
}

TEST_F(SmtpServerTest, AttachmentArrivesAsBase64ThatDecodesToTheFile) {
    int port = StartServer();
    ASSERT_NE(port, 0);
    std::string content;
    for (int i = 0; i < 200000; ++i) {
        content.push_back(static_cast<char>((i * 7919) >> 3));
    }
    WriteWholeFile(m_dir + "/Door_07122026_030509.avi", content);
    WriteWholeFile(m_dir + "/Front door; 2.avi", "small");
    MySMTPMessage message = Message();
    MySMTPAttachment first, second;
    first.LoadFromFile(m_dir + "/Door_07122026_030509.avi");
    second.LoadFromFile(m_dir + "/Front door; 2.avi");
    message.AddAttachment(first);
    message.AddAttachment(second);
    MySMTPConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", port, "", ""));
    ASSERT_TRUE(connection.SendMessage(message));
    connection.Disconnect();

    CReceivedMail mail(m_dir, 1);
    ASSERT_TRUE(mail.found);
    EXPECT_TRUE(mail.multipart);
    EXPECT_EQ(mail.defects, "");
    EXPECT_EQ(mail.body, "\nTavrix has recorded an event!\n\n.hidden dot line\nRatio=3D50%\n\n\n")
        << "the text part is decoded as the quoted-printable it declares";
    ASSERT_EQ(mail.attachments, 2);
    EXPECT_EQ(mail.AttachmentValue(0, "filename"), "Door_07122026_030509.avi");
    EXPECT_EQ(mail.AttachmentValue(0, "content_type"), "application/octet-stream");
    EXPECT_EQ(mail.AttachmentContent(0), content);
    EXPECT_EQ(mail.AttachmentValue(1, "filename"), "Front door; 2.avi");
    EXPECT_EQ(mail.AttachmentContent(1), "small");
    EXPECT_NE(mail.raw.find("boundary=\"" + message.GetBoundary() + "\""), std::string::npos);
    EXPECT_NE(mail.raw.find("\r\n--" + message.GetBoundary() + "--"), std::string::npos);
}
