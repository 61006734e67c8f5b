// The SMTP client's bounds against scripted servers that never let go: a reply trickled one byte at
// a time, a delivery that outlasts its deadline, a server that takes nothing of what is sent, one
// that never accepts the connection, and a cut of the running actions.
#include "actions/ActionAbort.h"
#include "actions/Smtp.h"
#include "foundation/Exceptions.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace mylib;

namespace {

// The longest a misbehaving script goes on before it gives up on the client.
constexpr int kScriptLimitMs = 30000;

MySMTPMessage Message(const std::string& body = "line\n") {
    MySMTPMessage message;
    message.SetFrom(MySMTPAddress("cam@example.org"));
    message.AddRecipient(MySMTPAddress("me@example.org"), MySMTPMessage::TO);
    message.SetSubject("Motion");
    message.SetBody(body);
    return message;
}

// Greeting, EHLO, MAIL, RCPT and DATA answered; the content read when readContent.
// The reads wait long: a client building a large message under a sanitizer takes seconds between
// its commands.
void UpToContent(CScriptedServer::Peer& peer, bool readContent) {
    peer.Send("220 ready\r\n");
    EXPECT_EQ(peer.ReadLine(kScriptLimitMs).rfind("EHLO ", 0), 0u);
    peer.Send("250 hello\r\n");
    EXPECT_EQ(peer.ReadLine(kScriptLimitMs).rfind("MAIL FROM:", 0), 0u);
    peer.Send("250 sender ok\r\n");
    EXPECT_EQ(peer.ReadLine(kScriptLimitMs).rfind("RCPT TO:", 0), 0u);
    peer.Send("250 recipient ok\r\n");
    EXPECT_EQ(peer.ReadLine(kScriptLimitMs), "DATA\r\n");
    peer.Send("354 go ahead\r\n");
    if (readContent) {
        EXPECT_FALSE(peer.ReadUntil("\r\n.\r\n", kScriptLimitMs).empty());
    }
}

struct CFailure {
    std::string message;
    int error = 0;
    std::string lastResponse;
};

template <typename F>
CFailure Failure(MySMTPConnection& connection, F&& f) {
    CFailure failure;
    failure.message = "(nothing thrown)";
    try {
        f();
    } catch (const CSMTPEx& e) {
        failure.message = e.GetMessage();
    }
    failure.error = connection.GetLastError();
    failure.lastResponse = connection.GetLastCommandResponse();
    return failure;
}

} // namespace

TEST(SmtpDeadlineTest, TrickledRepliesEndAtTheirDeadlineThoughEveryByteComesWithinTheIdleTime) {
    // The end-of-message reply: a byte every 300 ms keeps the 2000 ms idle time-out from ever
    // ending the wait; the reply's own deadline does.
    CScriptedServer afterData([](CScriptedServer::Peer& peer) {
        UpToContent(peer, true);
        EXPECT_TRUE(peer.Trickle("250 queued as 12345\r\n", 300, kScriptLimitMs)) << "the client gave up";
    });
    MySMTPConnection connection;
    MySMTPConnection::CTimeouts timeouts;
    timeouts.replyMs = 1500;
    connection.SetTimeouts(timeouts);
    ASSERT_TRUE(connection.Connect("127.0.0.1", afterData.Port(), "", ""));
    CFailure failure = Failure(connection, [&] { connection.SendMessage(Message()); });
    EXPECT_EQ(failure.message, "An unexpected end of message response was received");
    EXPECT_EQ(failure.error, ETIMEDOUT);
    EXPECT_EQ(failure.lastResponse.rfind("2", 0), 0u) << "the bytes that came: " << failure.lastResponse;
    EXPECT_EQ(failure.lastResponse.find("\r\n"), std::string::npos);
    connection.Disconnect();
    afterData.Join();

    // The whole delivery: each reply well within its own deadline, the greeting trickled past the
    // message deadline.
    CScriptedServer greeting([](CScriptedServer::Peer& peer) {
        EXPECT_TRUE(peer.Trickle("220 welcome to a very slow server\r\n", 300, kScriptLimitMs));
    });
    MySMTPConnection slow;
    timeouts.replyMs = 600000;
    timeouts.messageMs = 1500;
    slow.SetTimeouts(timeouts);
    failure = Failure(slow, [&] { slow.Connect("127.0.0.1", greeting.Port(), "", ""); });
    EXPECT_EQ(failure.message, "An unexpected SMTP login response was received");
    EXPECT_EQ(failure.error, ETIMEDOUT);
    EXPECT_EQ(failure.lastResponse.rfind("22", 0), 0u) << failure.lastResponse;
}

TEST(SmtpDeadlineTest, ServerThatTakesNothingEndsTheSendWithETimedOut) {
    // Far more than the socket buffers of both ends hold. Built before the server starts: under a
    // sanitizer on a busy machine, preparing this body took longer than the script waits for the
    // next command.
    const MySMTPMessage large = Message(std::string(48 << 20, 'x'));
    // The server reads nothing after DATA until the client is done (a closing client's FIN would wait
    // behind the unread data, so the test tells it).
    std::promise<void> clientDone;
    std::shared_future<void> done = clientDone.get_future().share();
    CScriptedServer deaf([done](CScriptedServer::Peer& peer) {
        UpToContent(peer, false);
        EXPECT_EQ(done.wait_for(std::chrono::milliseconds(kScriptLimitMs)), std::future_status::ready)
            << "the client held on";
    });
    MySMTPConnection connection;
    MySMTPConnection::CTimeouts timeouts;
    timeouts.sendMs = 500;
    connection.SetTimeouts(timeouts);
    ASSERT_TRUE(connection.Connect("127.0.0.1", deaf.Port(), "", ""));
    CFailure failure = Failure(connection, [&] { connection.SendMessage(large); });
    clientDone.set_value();
    EXPECT_EQ(failure.message,
              "Failed in call to send the header, GetLastError returns: " + std::to_string(ETIMEDOUT));
    EXPECT_EQ(failure.error, ETIMEDOUT);
    EXPECT_FALSE(connection.IsConnected()) << "no QUIT into a stalled stream";
    connection.Disconnect();
}

TEST(SmtpDeadlineTest, ServerThatNeverAcceptsEndsTheConnectWithETimedOut) {
    // A listening socket whose backlog is full: the next connection is never accepted.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(first, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    MySMTPConnection connection;
    MySMTPConnection::CTimeouts timeouts;
    timeouts.connectMs = 500;
    connection.SetTimeouts(timeouts);
    CFailure failure = Failure(connection, [&] { connection.Connect("127.0.0.1", port, "", ""); });
    EXPECT_EQ(failure.message, "Could not connect to the SMTP server 127.0.0.1 on port " +
                                   std::to_string(port) +
                                   ", GetLastError returns: " + std::to_string(ETIMEDOUT));
    close(first);
    close(listener);
}

TEST(SmtpDeadlineTest, CutOfTheRunningActionsEndsAnyWaitWithECanceled) {
    CActionAbort token;
    const CActionAbort::CScope scope(token);
    EXPECT_FALSE(ActionCutShort());

    // A server trickling its greeting slowly enough for no time-out to end it soon.
    CScriptedServer trickling([](CScriptedServer::Peer& peer) {
        EXPECT_TRUE(peer.Trickle("220 hello\r\n", 1500, kScriptLimitMs));
    });
    MySMTPConnection connection;
    connection.SetResponseTimeoutMs(600000);
    token.CutAt(CActionAbort::Clock::now() + std::chrono::milliseconds(300));
    CFailure failure =
        Failure(connection, [&] { connection.Connect("127.0.0.1", trickling.Port(), "", ""); });
    EXPECT_EQ(failure.message, "An unexpected SMTP login response was received");
    EXPECT_EQ(failure.error, ECANCELED);
    EXPECT_TRUE(CActionAbort::TakeNoticed());
    EXPECT_FALSE(CActionAbort::TakeNoticed()) << "taken once";
    trickling.Join();

    // Once cut, a new connection gives up at its first wait.
    CScriptedServer silent([](CScriptedServer::Peer& peer) { peer.WaitClosed(kScriptLimitMs); });
    failure = Failure(connection, [&] { connection.Connect("127.0.0.1", silent.Port(), "", ""); });
    EXPECT_EQ(failure.error, ECANCELED);
}
