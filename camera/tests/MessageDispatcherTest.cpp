// The dispatcher that carries the worker threads' messages to the user-interface thread.

#include "camera/MessageDispatcher.h"

#include "camera/tests/PrivateXdgFolders.h"
#include "foundation/Exceptions.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct CRecorder : IMessageTarget {
    void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        received.push_back({message, wParam, lParam});
        if (onMessage) {
            onMessage();
        }
    }
    struct Message {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
        bool operator==(const Message&) const = default;
    };
    std::vector<Message> received;
    std::function<void()> onMessage;
};

TEST(MessageDispatcherTest, MessagesAndCallsArriveInOrderOnTheDeliveringThread) {
    CMessageDispatcher dispatcher;
    CRecorder view;
    const auto id = dispatcher.Register(&view);
    std::vector<int> order;
    const auto deliverer = std::this_thread::get_id();
    std::thread worker([&] {
        dispatcher.Post(id, ViewMessage::kCameraChanged, 4);
        dispatcher.PostCall([&] {
            EXPECT_EQ(std::this_thread::get_id(), deliverer);
            order.push_back(static_cast<int>(view.received.size()));
        });
        dispatcher.Post(id, ViewMessage::kCameraReconnected, 7, -1);
    });
    worker.join();
    EXPECT_TRUE(view.received.empty()) << "nothing is delivered before the delivering thread asks";
    EXPECT_EQ(dispatcher.GetQueuedCount(), 3u);
    EXPECT_EQ(dispatcher.DeliverPending(), 3u);
    EXPECT_EQ(view.received, (std::vector<CRecorder::Message>{{3024, 4, 0}, {3025, 7, -1}}));
    EXPECT_EQ(order, std::vector<int>{1}) << "the call ran between the two messages";
}

TEST(MessageDispatcherTest, MessagesToATargetThatWentAwayAreDropped) {
    CMessageDispatcher dispatcher;
    CRecorder first;
    CRecorder second;
    const auto firstId = dispatcher.Register(&first);
    const auto secondId = dispatcher.Register(&second);
    EXPECT_NE(firstId, secondId);
    dispatcher.Post(firstId, 3024, 1);
    dispatcher.Post(secondId, 3024, 2);
    dispatcher.Post(CMessageDispatcher::kNoTarget, 3024, 3);
    dispatcher.Unregister(firstId);
    dispatcher.DeliverPending();
    EXPECT_TRUE(first.received.empty());
    EXPECT_EQ(second.received.size(), 1u);
    // A handler that unregisters its target: the rest of the batch for it is dropped too.
    second.onMessage = [&] { dispatcher.Unregister(secondId); };
    dispatcher.Post(secondId, 3024, 4);
    dispatcher.Post(secondId, 3024, 5);
    dispatcher.DeliverPending();
    EXPECT_EQ(second.received.size(), 2u);
}

TEST(MessageDispatcherTest, RunDeliversUntilQuitAndRunForEndsAfterItsTime) {
    CMessageDispatcher dispatcher;
    CRecorder view;
    const auto id = dispatcher.Register(&view);
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            dispatcher.Post(id, 3024, static_cast<uintptr_t>(i));
        }
        dispatcher.PostCall([&] { dispatcher.Quit(); });
    });
    dispatcher.Run();
    worker.join();
    EXPECT_EQ(view.received.size(), 100u);
    EXPECT_TRUE(dispatcher.RunFor(0)) << "quit stays set";
    dispatcher.ResetQuit();
    EXPECT_FALSE(dispatcher.RunFor(20)) << "nothing came: the time ran out";
}

TEST(MessageDispatcherTest, TheWakeHookHearsOfEveryPostWithoutBlockingIt) {
    CMessageDispatcher dispatcher;
    std::atomic<int> wakes{0};
    dispatcher.SetWakeHook([&] {
        ++wakes;
        // The hook may post nothing but must be able to look at the queue.
        EXPECT_GE(dispatcher.GetQueuedCount(), 1u);
    });
    CRecorder view;
    const auto id = dispatcher.Register(&view);
    dispatcher.Post(id, 2024, 0);
    dispatcher.PostCall([] {});
    EXPECT_EQ(wakes.load(), 2);
    dispatcher.SetWakeHook({});
    dispatcher.Post(id, 2024, 0);
    EXPECT_EQ(wakes.load(), 2);
    EXPECT_EQ(dispatcher.DeliverPending(), 3u);
}

TEST(MessageDispatcherTest, AnExceptionThatEscapesAHandlerIsReportedAndDeliveryGoesOn) {
    CNotificationLog::Instance().Clear();
    CNotificationSettings settings = CConfigMgrImpl::Instance().GetNotificationSettings();
    settings.SetUnattendedMode(true);
    CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    CMessageDispatcher dispatcher;
    CRecorder view;
    const auto id = dispatcher.Register(&view);
    dispatcher.PostCall([] { THROW_GENERAL("Unable to start the preview graph."); });
    dispatcher.PostCall([] { throw std::runtime_error("bad"); });
    dispatcher.Post(id, 3024, 1);
    EXPECT_EQ(dispatcher.DeliverPending(), 3u);
    EXPECT_EQ(view.received.size(), 1u);
    const std::vector<CLogEntry> entries = CNotificationLog::Instance().GetEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "Unable to start the preview graph.");
    EXPECT_EQ(entries[0].docName, "");
    EXPECT_EQ(entries[1].text, "Unexpected error.;bad");
    settings.SetUnattendedMode(false);
    CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    CNotificationLog::Instance().Clear();
}

} // namespace
