// The chat-client connection against a scripted client on a private D-Bus daemon.
#include "actions/SkypeSession.h"
#include "actions/ActionAbort.h"
#include "foundation/Exceptions.h"

#include "ScriptedChatClient.h"

#include <gtest/gtest.h>

#include <gio/gio.h>

#include <chrono>
#include <thread>

namespace {

using Answer = std::optional<std::string>;
using Commands = std::vector<std::string>;

class SkypeSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_bus = new CPrivateBus;
        s_busStarted = s_bus->Start();
    }
    static void TearDownTestSuite() {
        delete s_bus;
        s_bus = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_busStarted) << "no private dbus-daemon"; }

    std::unique_ptr<CScriptedChatClient> StartClient(CScriptedChatClient::Script script,
                                                     bool offerApi = true) {
        auto client = std::make_unique<CScriptedChatClient>(s_bus->Address(), std::move(script), offerApi);
        EXPECT_TRUE(client->Start());
        return client;
    }

    static inline CPrivateBus* s_bus = nullptr;
    static inline bool s_busStarted = false;
};

template <typename F>
std::string ThrownMessage(F&& f) {
    try {
        f();
    } catch (const CSkypeEx& e) {
        return e.GetMessage();
    }
    return "(nothing thrown)";
}

// A client that attaches anyone and talks in between, as the real one does.
Answer ChattyClient(CScriptedChatClient& client, const std::string& sender, const std::string& command) {
    if (command == "NAME Tavrix") {
        return "OK";
    }
    if (command.rfind("CHAT CREATE ", 0) == 0) {
        EXPECT_TRUE(client.Notify(sender, "USER alice ONLINESTATUS ONLINE"));
        EXPECT_TRUE(client.Notify(sender, "CHAT #short STATUS")); // three words: not the answer
        return "CHAT #alice/$tavrix;1 STATUS DIALOG";
    }
    if (command.rfind("CHATMESSAGE ", 0) == 0) {
        EXPECT_TRUE(client.Notify(sender, "CHAT #alice/$tavrix;1 ACTIVITY_TIMESTAMP 1173100029"));
        EXPECT_TRUE(client.Notify(sender, "ERRORS are not errors"));
        return "MESSAGE 42 STATUS SENDING";
    }
    return "ERROR 2 Unknown command";
}

} // namespace

TEST_F(SkypeSessionTest, AttachesCreatesTheChatAndSendsThroughInterleavedNotifications) {
    auto client = StartClient(ChattyClient);
    CSkypeConnection connection(5000);
    EXPECT_EQ(connection.GetAttachStatus(), -1);
    connection.Attach();
    EXPECT_EQ(connection.GetAttachStatus(), CSkypeConnection::kStatusAttached);
    EXPECT_EQ(connection.CreateChat("alice"), "#alice/$tavrix;1");
    EXPECT_TRUE(connection.SendChatMessage("#alice/$tavrix;1", "Motion at Door; \"porch\""));
    connection.Close();
    connection.Close();
    EXPECT_EQ(client->Commands(), (Commands{"NAME Tavrix", "CHAT CREATE alice",
                                            "CHATMESSAGE #alice/$tavrix;1 Motion at Door; \"porch\""}));
}

TEST_F(SkypeSessionTest, RefusedAndUnavailableAttachGiveTheirMessages) {
    {
        auto client = StartClient([](auto&, auto&, auto&) -> Answer { return "ERROR 68 Access denied"; });
        CSkypeConnection connection(5000);
        EXPECT_EQ(ThrownMessage([&] { connection.Attach(); }), "Connection refused from Skype");
        EXPECT_EQ(connection.GetAttachStatus(), CSkypeConnection::kStatusRefused);
    }
    {
        auto client = StartClient([](auto&, auto&, auto&) -> Answer { return "ERROR 2 Unknown command"; });
        CSkypeConnection connection(5000);
        EXPECT_EQ(ThrownMessage([&] { connection.Attach(); }), "Skype API not available");
        EXPECT_EQ(connection.GetAttachStatus(), CSkypeConnection::kStatusNotAvailable);
    }
    {
        // The name is taken by a program without the interface.
        auto client = StartClient([](auto&, auto&, auto&) -> Answer { return "OK"; }, false);
        CSkypeConnection connection(5000);
        EXPECT_EQ(ThrownMessage([&] { connection.Attach(); }), "Skype API not available");
    }
}

TEST_F(SkypeSessionTest, NoClientAndPendingAuthorisationTimeOut) {
    CSkypeConnection connection(300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ThrownMessage([&] { connection.Attach(); }), "Timeout attaching to Skype");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));

    // The user never answers the authorisation request: the status stays pending until the end.
    auto client = StartClient([](auto&, auto&, auto&) -> Answer { return std::nullopt; });
    CSkypeConnection pending(300);
    EXPECT_EQ(ThrownMessage([&] { pending.Attach(); }), "Timeout attaching to Skype");
    EXPECT_EQ(pending.GetAttachStatus(), CSkypeConnection::kStatusPending);
}

TEST_F(SkypeSessionTest, ClientStartedAfterTheRequestIsAskedAgainWhenItAppears) {
    std::unique_ptr<CScriptedChatClient> client;
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client = StartClient(ChattyClient);
    });
    CSkypeConnection connection(8000);
    EXPECT_NO_THROW(connection.Attach());
    late.join();
    EXPECT_EQ(connection.GetAttachStatus(), CSkypeConnection::kStatusAttached);
    EXPECT_EQ(client->Commands(), Commands{"NAME Tavrix"});
}

TEST_F(SkypeSessionTest, ErrorAnswersEndTheWaitsAtOnce) {
    auto client = StartClient([](auto&, auto&, const std::string& command) -> Answer {
        if (command == "NAME Tavrix") {
            return "OK";
        }
        if (command == "CHAT CREATE nobody") {
            return "ERROR 105 Invalid chat name";
        }
        if (command.rfind("CHAT CREATE", 0) == 0) {
            return "CHAT #c STATUS DIALOG";
        }
        return "ERROR 510 Invalid/unknown user";
    });
    CSkypeConnection connection(5000);
    connection.Attach();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ThrownMessage([&] { connection.CreateChat("nobody"); }),
              "Unable to create chat: ERROR 105 Invalid chat name");
    EXPECT_EQ(connection.CreateChat("bob"), "#c");
    EXPECT_FALSE(connection.SendChatMessage("#c", "hello"));
    EXPECT_EQ(connection.GetLastError(), "ERROR 510 Invalid/unknown user");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000)) << "no wait ran out";
}

TEST_F(SkypeSessionTest, UnansweredCommandsTimeOutWithTheirOwnMessages) {
    auto client = StartClient(
        [](CScriptedChatClient& self, const std::string& sender, const std::string& command) -> Answer {
            if (command == "NAME Tavrix") {
                return "OK";
            }
            self.Notify(sender, "USERSTATUS ONLINE");
            return "PONG"; // never the answer looked for
        });
    CSkypeConnection connection(300);
    connection.Attach();
    EXPECT_EQ(ThrownMessage([&] { connection.CreateChat("alice"); }), "Timeout waiting for CHAT response");
    EXPECT_EQ(ThrownMessage([&] { connection.SendChatMessage("#c", "x"); }),
              "Timeout waiting for CHATMESSAGE response");
}

TEST_F(SkypeSessionTest, ClientGoneAfterAttachIsADisconnection) {
    auto client = StartClient(ChattyClient);
    CSkypeConnection connection(3000);
    connection.Attach();
    client->Stop();
    EXPECT_EQ(ThrownMessage([&] { connection.CreateChat("alice"); }), "Disconnected from Skype during send");
    EXPECT_EQ(connection.GetAttachStatus(), -1);
}

TEST_F(SkypeSessionTest, NotificationsFromOtherProgramsAreRefused) {
    std::mutex lock;
    std::string application;
    auto client = StartClient([&](auto&, const std::string& sender, const std::string& command) -> Answer {
        std::lock_guard<std::mutex> guard(lock);
        application = sender;
        return command == "NAME Tavrix" ? "OK" : "CHAT #real STATUS DIALOG";
    });
    CSkypeConnection connection(3000);
    connection.Attach();
    std::string target;
    {
        std::lock_guard<std::mutex> guard(lock);
        target = application;
    }
    // A stranger on the bus pretends to be the client.
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        s_bus->Address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_NE(bus, nullptr);
    GVariant* result =
        g_dbus_connection_call_sync(bus, target.c_str(), "/com/Skype/Client", "com.Skype.API.Client",
                                    "Notify", g_variant_new("(s)", "CHAT #fake STATUS DIALOG"), nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &error);
    EXPECT_EQ(result, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(g_dbus_error_is_remote_error(error)) << error->message;
    g_clear_error(&error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    EXPECT_EQ(connection.CreateChat("alice"), "#real") << "the stranger's text never reached the queue";
}

TEST_F(SkypeSessionTest, CutOfTheRunningActionsEndsTheWaitsForTheClient) {
    CActionAbort token;
    const CActionAbort::CScope scope(token);
    token.CutAt(CActionAbort::Clock::now() + std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    // No client on the bus: the wait for it to appear ends with the cut, not after a minute.
    CSkypeConnection absent(60000);
    EXPECT_EQ(ThrownMessage([&] { absent.Attach(); }), "Timeout attaching to Skype");
    EXPECT_TRUE(CActionAbort::TakeNoticed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

    // A client that never gives the answer looked for.
    auto client = StartClient([](auto&, auto&, const std::string& command) -> Answer {
        return command == "NAME Tavrix" ? Answer("OK") : Answer("PONG");
    });
    CActionAbort later;
    const CActionAbort::CScope laterScope(later);
    CSkypeConnection connection(60000);
    connection.Attach();
    later.CutAt(CActionAbort::Clock::now() + std::chrono::milliseconds(300));
    EXPECT_EQ(ThrownMessage([&] { connection.CreateChat("alice"); }), "Timeout waiting for CHAT response");
    EXPECT_TRUE(CActionAbort::TakeNoticed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50));
}
