#include "actions/Smtp.h"
#include "foundation/Exceptions.h"

#include "PeerProcess.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

using namespace mylib;

namespace {

std::string Decode(std::string text) {
    std::string compact;
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            compact += c;
        }
    }
    gsize length = 0;
    guchar* data = g_base64_decode(compact.c_str(), &length);
    std::string out(reinterpret_cast<char*>(data), length);
    g_free(data);
    return out;
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        m_old = old ? old : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_had) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool m_had;
    std::string m_old;
};

} // namespace

TEST(SmtpBase64Test, LineRulesEndEveryTextWithALineBreak) {
    EXPECT_EQ(MySMTPAttachment::Encode(""), "\r\n");
    EXPECT_EQ(MySMTPAttachment::Encode("Man"), "TWFu\r\n");
    EXPECT_EQ(MySMTPAttachment::Encode("Ma"), "TWE=\r\n");
    EXPECT_EQ(MySMTPAttachment::Encode("M"), "TQ==\r\n");

    // 57 bytes fill exactly one 76-character line, which is followed by an empty line.
    std::string full = MySMTPAttachment::Encode(std::string(57, 'x'));
    ASSERT_EQ(full.size(), 76u + 4u);
    EXPECT_EQ(full.substr(76), "\r\n\r\n");
    std::string longer = MySMTPAttachment::Encode(std::string(58, 'x'));
    EXPECT_EQ(longer.substr(76), "\r\neA==\r\n");
}

TEST(SmtpBase64Test, EncodedTextDecodesToTheInputAtEverySize) {
    std::string data;
    for (int size = 0; size < 400; ++size) {
        std::string encoded = MySMTPAttachment::Encode(data);
        ASSERT_EQ(Decode(encoded), data) << "size " << size;
        // No line longer than 76 characters; every line ends in CRLF.
        size_t start = 0;
        while (start < encoded.size()) {
            size_t end = encoded.find("\r\n", start);
            ASSERT_NE(end, std::string::npos);
            ASSERT_LE(end - start, 76u);
            start = end + 2;
        }
        data.push_back(static_cast<char>((size * 37 + 11) & 0xFF));
    }
}

TEST(SmtpBase64Test, LoginLinesAreNeverBroken) {
    std::string user(100, 'u');
    std::string line = MySMTPAttachment::EncodeLine(user);
    EXPECT_EQ(line.find("\r\n"), line.size() - 2);
    EXPECT_EQ(Decode(line), user);
    EXPECT_EQ(MySMTPAttachment::EncodeLine(""), "\r\n") << "an empty password is a line holding only CRLF";
}

TEST(SmtpMessageTest, BodyIsDotStuffedWithCrLfLineEnds) {
    MySMTPMessage message;
    message.SetBody(".start\nmiddle\n. \nend.\r\n..two\n");
    EXPECT_EQ(message.GetBody(), "..start\r\nmiddle\r\n.. \r\nend.\r\n...two\r\n");
    message.SetBody("no dots here");
    EXPECT_EQ(message.GetBody(), "no dots here");
}

TEST(SmtpMessageTest, RecipientsAreOrderedByAddressAndKeptOnce) {
    MySMTPMessage message;
    message.AddRecipient(MySMTPAddress("zed@example.org"), MySMTPMessage::TO);
    message.AddRecipient(MySMTPAddress("amy@example.org", "Amy"), MySMTPMessage::TO);
    message.AddRecipient(MySMTPAddress("zed@example.org", "Zed again"), MySMTPMessage::TO);
    message.AddRecipient(MySMTPAddress("cc@example.org"), MySMTPMessage::CC);
    message.AddRecipient(MySMTPAddress("hidden@example.org"), MySMTPMessage::BCC);
    message.AddRecipient(MySMTPAddress("nowhere@example.org"), 7);
    ASSERT_EQ(message.GetRecipients(MySMTPMessage::TO).size(), 2u);
    EXPECT_EQ(message.GetRecipients(MySMTPMessage::TO).begin()->GetEmailAddress(), "amy@example.org");

    message.SetFrom(MySMTPAddress("cam@example.org"));
    message.SetSubject("Motion");
    std::string header = message.GetHeaderAt(0);
    EXPECT_NE(header.find("\r\nTo: Amy<amy@example.org>,zed@example.org\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("\r\nCc: cc@example.org\r\n"), std::string::npos);
    EXPECT_EQ(header.find("hidden"), std::string::npos) << "Bcc never appears in the header";
    EXPECT_EQ(header.find("nowhere"), std::string::npos);
}

TEST(SmtpMessageTest, HeaderCarriesTheFieldsInOrderWithTheLocalZone) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    MySMTPMessage message;
    message.SetFrom(MySMTPAddress("cam@example.org"));
    message.AddRecipient(MySMTPAddress("me@example.org"), MySMTPMessage::TO);
    message.SetSubject("Door");
    // 2007-03-05 13:07:09 UTC is 14:07:09 in Central European winter time.
    time_t moment = 1173100029;
    EXPECT_EQ(message.GetHeaderAt(moment),
              "From: cam@example.org\r\n"
              "To: me@example.org\r\n"
              "Subject: Door\r\n"
              "Date: Mon, 05 Mar 2007 14:07:09 +0100\r\n"
              "X-Mailer: MySMTPConnection v1.3\r\n"
              "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n"
              "\r\n");
    // Summer time and a zone west of Greenwich.
    EXPECT_NE(message.GetHeaderAt(1183633629).find("Date: Thu, 05 Jul 2007 13:07:09 +0200\r\n"),
              std::string::npos);
    ScopedTimeZone west("EST5");
    EXPECT_NE(message.GetHeaderAt(moment).find("Date: Mon, 05 Mar 2007 08:07:09 -0500\r\n"),
              std::string::npos);

    message.SetReplyTo(MySMTPAddress("desk@example.org", "Desk"));
    MySMTPAttachment attachment;
    message.AddAttachment(attachment);
    std::string header = message.GetHeaderAt(moment);
    EXPECT_NE(header.find("X-Mailer: MySMTPConnection v1.3\r\nReply-To: Desk<desk@example.org>\r\n"
                          "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"" +
                          message.GetBoundary() + "\"\r\n\r\n"),
              std::string::npos)
        << header;
}

TEST(SmtpMessageTest, EveryMessageDrawsABoundaryThatNoEncodedPartCanHold) {
    MySMTPMessage first, second;
    EXPECT_NE(first.GetBoundary(), second.GetBoundary());
    for (const std::string& boundary : {first.GetBoundary(), second.GetBoundary()}) {
        ASSERT_EQ(boundary.size(), 9u + 32u) << boundary;
        EXPECT_EQ(boundary.rfind("=_Tavrix_", 0), 0u) << boundary;
        EXPECT_EQ(boundary.find_first_not_of("0123456789abcdef", 9), std::string::npos) << boundary;
    }
    // Quoted-printable writes "=" only before two hexadecimal digits or a line break.
    EXPECT_EQ(MySMTPMessage::QuotedPrintable("--=_Tavrix_ and =_ and ==__\r\n").find("=_"),
              std::string::npos);
}

TEST(SmtpMessageTest, ConfiguredTextsCannotAddHeaderLines) {
    MySMTPMessage message;
    message.SetFrom(MySMTPAddress("cam@example.org"));
    message.SetSubject("Alarm\r\nBcc: intruder@example.org");
    std::string header = message.GetHeaderAt(0);
    EXPECT_NE(header.find("Subject: Alarm  Bcc: intruder@example.org\r\n"), std::string::npos) << header;
}

TEST(SmtpMessageTest, MultipartBodyIsQuotedPrintableAsItsPartDeclares) {
    EXPECT_EQ(MySMTPMessage::QuotedPrintable("a=b\r\ntrailing \r\n\xC3\xA4"),
              "a=3Db\r\ntrailing=20\r\n=C3=A4");
    std::string longLine(100, 'x');
    std::string encoded = MySMTPMessage::QuotedPrintable(longLine);
    EXPECT_EQ(encoded, std::string(75, 'x') + "=\r\n" + std::string(25, 'x'));

    MySMTPMessage message;
    message.SetBody("\nTavrix has recorded an event!\n.\nRatio=3D\n");
    EXPECT_EQ(message.GetMimeBody(), "\r\nTavrix has recorded an event!\r\n..\r\nRatio=3D3D\r\n");
}

TEST(SmtpMessageTest, MimeParametersAreQuotedOnlyWhenNeeded) {
    EXPECT_EQ(MimeParameter("Door_07122026_030509.avi"), "Door_07122026_030509.avi");
    EXPECT_EQ(MimeParameter("Front door; \"A\".avi"), "\"Front door; \\\"A\\\".avi\"");
}

TEST(SmtpAttachmentTest, LoadsTheWholeFileUnderItsLastPathComponent) {
    std::string dir = MakeTempDir("smtp-attach-");
    std::string content;
    for (int i = 0; i < 70000; ++i) {
        content.push_back(static_cast<char>(i * 7));
    }
    WriteWholeFile(dir + "/Door_07122026.avi", content);
    MySMTPAttachment attachment;
    attachment.LoadFromFile(dir + "/Door_07122026.avi");
    EXPECT_EQ(attachment.GetTitle(), "Door_07122026.avi");
    EXPECT_EQ(attachment.GetFileName(), "Door_07122026.avi");
    EXPECT_EQ(Decode(attachment.GetEncodedText()), content);

    try {
        attachment.LoadFromFile(dir + "/missing.avi");
        FAIL() << "a missing file must throw";
    } catch (const CSMTPEx& e) {
        EXPECT_EQ(e.GetMessage(),
                  "Failed to get the status for file " + dir + "/missing.avi, probably does not exist");
    }
    try {
        attachment.LoadFromFile(dir);
        FAIL() << "a directory must throw";
    } catch (const CSMTPEx& e) {
        EXPECT_EQ(e.GetMessage(), "Failed to open file to be attached");
    }
    RemoveTree(dir);
}
