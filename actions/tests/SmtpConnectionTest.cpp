// The SMTP client against scripted servers on loopback: the protocol cases a real server does not
// produce on demand (refusals, silence, replies in pieces).
#include "actions/Smtp.h"
#include "foundation/Exceptions.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace mylib;

namespace {

// Answers one whole mail dialogue after the greeting and EHLO.
void AcceptMail(CScriptedServer::Peer& peer, int recipients) {
    EXPECT_EQ(peer.ReadLine().substr(0, 10), "MAIL FROM:");
    peer.Send("250 OK\r\n");
    for (int i = 0; i < recipients; ++i) {
        EXPECT_EQ(peer.ReadLine().substr(0, 8), "RCPT TO:");
        peer.Send("250 OK\r\n");
    }
    EXPECT_EQ(peer.ReadLine(), "DATA\r\n");
    peer.Send("354 go ahead\r\n");
    EXPECT_FALSE(peer.ReadUntil("\r\n.\r\n").empty());
    peer.Send("250 queued\r\n");
    EXPECT_EQ(peer.ReadLine(), "QUIT\r\n");
    peer.Send("221 bye\r\n");
}

MySMTPMessage SimpleMessage() {
    MySMTPMessage message;
    message.SetFrom(MySMTPAddress("cam@example.org"));
    message.AddRecipient(MySMTPAddress("me@example.org"), MySMTPMessage::TO);
    message.AddRecipient(MySMTPAddress("me@example.org"), MySMTPMessage::TO);
    message.SetSubject("Motion");
    message.SetBody("line\n. \n");
    return message;
}

template <typename F>
std::string ThrownMessage(F&& f) {
    try {
        f();
    } catch (const CSMTPEx& e) {
        return e.GetMessage();
    }
    return "(nothing thrown)";
}

int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

} // namespace

TEST(SmtpConnectionTest, GreetingOf554IsRefusedWithTheGreetingAsLastResponse) {
    CScriptedServer server([](CScriptedServer::Peer& peer) { peer.Send("554 5.7.1 no service here\r\n"); });
    MySMTPConnection connection;
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", server.Port(), "", ""); }),
              "An unexpected SMTP login response was received");
    EXPECT_EQ(connection.GetLastCommandResponse(), "554 5.7.1 no service here");
    EXPECT_EQ(connection.GetLastResponseCode(), 554);
    EXPECT_FALSE(connection.IsConnected());
}

TEST(SmtpConnectionTest, SilentServerTimesOutWithETimedOut) {
    CScriptedServer server([](CScriptedServer::Peer& peer) { peer.SleepMs(900); });
    MySMTPConnection connection;
    EXPECT_EQ(connection.GetResponseTimeoutMs(), 2000u);
    connection.SetResponseTimeoutMs(300);
    try {
        connection.Connect("127.0.0.1", server.Port(), "", "");
        FAIL() << "silence must end the wait";
    } catch (const CSMTPEx& e) {
        EXPECT_EQ(e.GetMessage(), "An unexpected SMTP login response was received");
        EXPECT_NE(e.GetText(false).find("Connection timed out"), std::string::npos) << e.GetText(false);
    }
    EXPECT_EQ(connection.GetLastError(), ETIMEDOUT);
    EXPECT_EQ(connection.GetLastCommandResponse(), "");
}

TEST(SmtpConnectionTest, PartialLineThenSilenceKeepsTheReceivedText) {
    CScriptedServer server([](CScriptedServer::Peer& peer) {
        peer.Send("220 half a gree");
        peer.SleepMs(700);
    });
    MySMTPConnection connection;
    connection.SetResponseTimeoutMs(250);
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", server.Port(), "", ""); }),
              "An unexpected SMTP login response was received");
    EXPECT_EQ(connection.GetLastError(), ETIMEDOUT);
    EXPECT_EQ(connection.GetLastCommandResponse(), "220 half a gree");
}

TEST(SmtpConnectionTest, ClosedConnectionFailsAtOnceInsteadOfWaiting) {
    CScriptedServer server([](CScriptedServer::Peer&) {});
    MySMTPConnection connection;
    connection.SetResponseTimeoutMs(60000);
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", server.Port(), "", ""); }),
              "An unexpected SMTP login response was received");
    EXPECT_EQ(connection.GetLastError(), ECONNRESET);
}

TEST(SmtpConnectionTest, MultiLineRepliesInPiecesAreReadWholeAndDuplicateRecipientsSentOnce) {
    CScriptedServer server([](CScriptedServer::Peer& peer) {
        peer.Send("220-first greeting line\r\n");
        peer.SleepMs(60);
        peer.Send("220 ready\r\n");
        EXPECT_EQ(peer.ReadLine().substr(0, 5), "EHLO ");
        peer.Send("250-tavrix.test\r\n250-SI");
        peer.SleepMs(60);
        peer.Send("ZE 1000000\r\n");
        peer.SleepMs(60);
        peer.Send("250 HELP\r\n");
        AcceptMail(peer, 1);
    });
    MySMTPConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", server.Port(), "", ""));
    ASSERT_TRUE(connection.SendMessage(SimpleMessage()));
    connection.Disconnect();
    server.Join();
    std::string transcript = server.Transcript();
    EXPECT_EQ(transcript.find("AUTH"), std::string::npos) << "no user name, no login";
    size_t rcpt = transcript.find("RCPT TO:<me@example.org>\r\n");
    ASSERT_NE(rcpt, std::string::npos);
    EXPECT_EQ(transcript.find("RCPT TO:", rcpt + 1), std::string::npos) << "one RCPT for a repeated address";
    EXPECT_NE(transcript.find("\r\nline\r\n.. \r\n\r\n.\r\nQUIT\r\n"), std::string::npos) << transcript;
}

TEST(SmtpConnectionTest, RefusedRecipientThrowsWithTheServersText) {
    CScriptedServer server([](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        peer.ReadLine();
        peer.Send("250 hello\r\n");
        peer.ReadLine();
        peer.Send("250 sender ok\r\n");
        peer.ReadLine();
        peer.Send("550 5.1.1 <me@example.org>: no such user\r\n");
        EXPECT_EQ(peer.ReadLine(), "QUIT\r\n");
        peer.Send("221 bye\r\n");
    });
    MySMTPConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", server.Port(), "", ""));
    EXPECT_EQ(ThrownMessage([&] { connection.SendMessage(SimpleMessage()); }),
              "An unexpected RCPT response was received");
    EXPECT_EQ(connection.GetLastCommandResponse(), "550 5.1.1 <me@example.org>: no such user");
    EXPECT_EQ(connection.GetLastError(), EBADMSG);
    EXPECT_NO_THROW(connection.Disconnect());
}

TEST(SmtpConnectionTest, AuthLoginSendsBase64LinesAndAnEmptyPasswordAsCrLf) {
    CScriptedServer server([](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        peer.ReadLine();
        peer.Send("250-hello\r\n250 AUTH LOGIN\r\n");
        EXPECT_EQ(peer.ReadLine(), "AUTH LOGIN\r\n");
        peer.Send("334 VXNlcm5hbWU6\r\n");
        EXPECT_EQ(peer.ReadLine(), "Y2FtZXJh\r\n"); // "camera"
        peer.Send("334 UGFzc3dvcmQ6\r\n");
        EXPECT_EQ(peer.ReadLine(), "\r\n");
        peer.Send("535 5.7.8 authentication failed\r\n");
    });
    MySMTPConnection connection;
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", server.Port(), "camera", ""); }),
              "An unexpected AUTH LOGIN response was received");
    EXPECT_EQ(connection.GetLastCommandResponse(), "535 5.7.8 authentication failed");
    EXPECT_FALSE(connection.IsConnected());
}

TEST(SmtpConnectionTest, RefusedQuitThrowsFromDisconnectButNotFromTheDestructor) {
    CScriptedServer server([](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        peer.ReadLine();
        peer.Send("250 hello\r\n");
        EXPECT_EQ(peer.ReadLine(), "QUIT\r\n");
        peer.Send("500 what\r\n");
    });
    {
        MySMTPConnection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", server.Port(), "", ""));
        EXPECT_EQ(ThrownMessage([&] { connection.Disconnect(); }),
                  "An unexpected QUIT response was received");
        EXPECT_EQ(connection.GetLastCommandResponse(), "500 what");
        EXPECT_NO_THROW(connection.Disconnect()) << "nothing is left to close";
    }
    CScriptedServer second([](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        peer.ReadLine();
        peer.Send("250 hello\r\n");
        peer.ReadLine();
        peer.Send("500 what\r\n");
    });
    auto connection = std::make_unique<MySMTPConnection>();
    ASSERT_TRUE(connection->Connect("127.0.0.1", second.Port(), "", ""));
    EXPECT_NO_THROW(connection.reset());
}

TEST(SmtpConnectionTest, UnreachableServersAndMisuseGiveTheirMessages) {
    int port = UnusedPort();
    MySMTPConnection connection;
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", port, "", ""); }),
              "Could not connect to the SMTP server 127.0.0.1 on port " + std::to_string(port) +
                  ", GetLastError returns: " + std::to_string(ECONNREFUSED));
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("no-such-host.invalid", 25, "", ""); }),
              "Could not connect to the SMTP server no-such-host.invalid on port 25, GetLastError returns: " +
                  std::to_string(EINVAL));
    EXPECT_EQ(ThrownMessage([&] { connection.Connect("127.0.0.1", 70000, "", ""); }),
              "Could not connect to the SMTP server 127.0.0.1 on port 70000, GetLastError returns: " +
                  std::to_string(EINVAL));
    EXPECT_EQ(ThrownMessage([&] { connection.SendMessage(SimpleMessage()); }),
              "Failed to send the SMTP message, not connected!");
}
