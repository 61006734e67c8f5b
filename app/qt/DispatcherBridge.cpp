#include "app/qt/DispatcherBridge.h"

#include <QCoreApplication>
#include <QMetaObject>

CDispatcherBridge::CDispatcherBridge(CMessageDispatcher& dispatcher) : m_state(std::make_shared<CState>()) {
    m_state->dispatcher = &dispatcher;
    const std::weak_ptr<CState> weak = m_state;
    dispatcher.SetWakeHook([weak] {
        const std::shared_ptr<CState> state = weak.lock();
        if (state && !state->pending.exchange(true)) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [weak] {
                    if (const std::shared_ptr<CState> alive = weak.lock()) {
                        alive->pending.store(false); // posts from here on queue another delivery
                        alive->dispatcher->DeliverPending();
                    }
                },
                Qt::QueuedConnection);
        }
    });
}

CDispatcherBridge::~CDispatcherBridge() {
    m_state->dispatcher->SetWakeHook({});
}
