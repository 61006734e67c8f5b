#include "camera/MessageDispatcher.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <chrono>

CMessageDispatcher& CMessageDispatcher::Instance() {
    static CMessageDispatcher instance;
    return instance;
}

CMessageDispatcher::TargetId CMessageDispatcher::Register(IMessageTarget* target) {
    std::lock_guard<std::mutex> lock(m_lock);
    const TargetId id = m_nextId++;
    if (m_nextId == kNoTarget) {
        m_nextId = 1;
    }
    m_targets[id] = target;
    return id;
}

void CMessageDispatcher::Unregister(TargetId target) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_targets.erase(target);
}

void CMessageDispatcher::Post(TargetId target, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (target == kNoTarget) {
        return;
    }
    Item item;
    item.target = target;
    item.message = message;
    item.wParam = wParam;
    item.lParam = lParam;
    Enqueue(std::move(item));
}

void CMessageDispatcher::PostCall(std::function<void()> call) {
    if (!call) {
        return;
    }
    Item item;
    item.call = std::move(call);
    Enqueue(std::move(item));
}

void CMessageDispatcher::Enqueue(Item item) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(std::move(item));
        hook = m_wakeHook;
    }
    m_wake.notify_all();
    if (hook) {
        hook();
    }
}

void CMessageDispatcher::SetWakeHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_wakeHook = std::move(hook);
}

void CMessageDispatcher::Deliver(Item& item) {
    // The message pump's boundary: an exception of the family that escapes a handler is reported
    // (without document or camera) and the next message is delivered.
    try {
        DeliverOne(item);
    } catch (const CBaseException& e) {
        ReportException(e, "", "");
    } catch (const std::exception& e) {
        ReportException(
            CGeneralEx(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__, "Unexpected error.", e.what()), "", "");
    }
}

void CMessageDispatcher::DeliverOne(Item& item) {
    if (item.target == kNoTarget) {
        item.call();
        return;
    }
    IMessageTarget* target = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_targets.find(item.target);
        if (found != m_targets.end()) {
            target = found->second;
        }
    }
    if (target == nullptr) {
        TRACE("CMessageDispatcher::Deliver() message %u for a closed target %u dropped", item.message,
              item.target);
        return;
    }
    target->OnMessage(item.message, item.wParam, item.lParam);
}

size_t CMessageDispatcher::DeliverPending() {
    std::deque<Item> batch;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        batch.swap(m_queue);
    }
    for (Item& item : batch) {
        Deliver(item);
    }
    return batch.size();
}

void CMessageDispatcher::Run() {
    while (!RunFor(60000)) {
    }
}

bool CMessageDispatcher::RunFor(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait_until(lock, deadline, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit) {
                return true;
            }
            if (m_queue.empty()) {
                return false;
            }
        }
        DeliverPending();
    }
}

void CMessageDispatcher::Quit() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
}

void CMessageDispatcher::ResetQuit() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_quit = false;
}

size_t CMessageDispatcher::GetQueuedCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.size();
}
