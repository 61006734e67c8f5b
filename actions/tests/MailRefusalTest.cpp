// The mail action against a scripted server that refuses with 554 at one step of the delivery: the
// client's exact exception text for that step, the two log lines of the action with the server's
// own words, and the QUIT that still ends the session.
#include "actions/CSEA_SendMail.h"

#include "ActionFixture.h"
#include "ScriptedServer.h"

namespace {

enum class RefusedStep { Mail, Data, EndOfMessage };

class MailRefusalTest : public CActionFixture {
protected:
    // Runs the action against a server that answers 554 at step and expects QUIT afterwards.
    bool SendRefusedAt(RefusedStep step) {
        CScriptedServer server([step](CScriptedServer::Peer& peer) {
            peer.Send("220 ready\r\n");
            EXPECT_EQ(peer.ReadLine().rfind("EHLO ", 0), 0u);
            peer.Send("250 hello\r\n");
            EXPECT_EQ(peer.ReadLine(), "MAIL FROM:<tavrix@example.org>\r\n");
            if (step == RefusedStep::Mail) {
                peer.Send("554 5.7.1 sender refused\r\n");
            } else {
                peer.Send("250 sender ok\r\n");
                EXPECT_EQ(peer.ReadLine(), "RCPT TO:<guard@example.org>\r\n");
                peer.Send("250 recipient ok\r\n");
                EXPECT_EQ(peer.ReadLine(), "DATA\r\n");
                if (step == RefusedStep::Data) {
                    peer.Send("554 5.3.0 no data today\r\n");
                } else {
                    peer.Send("354 go ahead\r\n");
                    EXPECT_FALSE(peer.ReadUntil("\r\n.\r\n").empty());
                    peer.Send("554 5.6.0 message rejected\r\n");
                }
            }
            EXPECT_EQ(peer.ReadLine(), "QUIT\r\n");
            peer.Send("221 bye\r\n");
        });
        CSEA_SendMail action;
        action.SetStringProp("Sender", "tavrix@example.org");
        action.SetStringProp("Recipient", "guard@example.org");
        action.SetStringProp("SMTPServer", "127.0.0.1");
        action.SetIntegerProp("SMTPPort", server.Port());
        const bool sent = action.Execute(Record(EventKind::MotionStart));
        server.Join();
        return sent;
    }
};

const std::string P = "Send Mail Event Action: ";

} // namespace

TEST_F(MailRefusalTest, RefusedMailDataAndEndOfMessageLogTheirStepAndTheServersWords) {
    const std::string start = P + "Start sending a mail to : 'guard@example.org'";
    EXPECT_FALSE(SendRefusedAt(RefusedStep::Mail));
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{
                  start, P + "Error while sending a mail: An unexpected MAIL response was received",
                  P + "Last command response: '554 5.7.1 sender refused'"}));
    CNotificationLog::Instance().Clear();

    EXPECT_FALSE(SendRefusedAt(RefusedStep::Data));
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{
                  start, P + "Error while sending a mail: An unexpected DATA response was received",
                  P + "Last command response: '554 5.3.0 no data today'"}));
    CNotificationLog::Instance().Clear();

    EXPECT_FALSE(SendRefusedAt(RefusedStep::EndOfMessage));
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{
                  start, P + "Error while sending a mail: An unexpected end of message response was received",
                  P + "Last command response: '554 5.6.0 message rejected'"}));
}
