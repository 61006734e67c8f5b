#include "actions/EventChainRunner.h"

#include "actions/EventActionContext.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <exception>
#include <vector>

namespace {

std::string ChainText(const CSEventActionChain& chain, const CSEventRecord& record) {
    return "Event action chain '" + chain.GetName() + "' for event '" + record.GetEventName() + "'";
}

} // namespace

CEventChainRunner::~CEventChainRunner() {
    Stop(Clock::now() + kStopGrace);
}

std::string CEventChainRunner::CutShortText(const std::string& actionName) {
    return actionName + " Event Action: Cut short, the document is closing";
}

void CEventChainRunner::Post(int32_t cameraId, CSEventActionChain chain, CSEventRecord record) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_stopping) {
            std::unique_ptr<CQueue>& queue = m_queues[cameraId];
            if (!queue) {
                queue = std::make_unique<CQueue>();
                try {
                    queue->thread = std::thread(&CEventChainRunner::Work, this, std::ref(*queue));
                } catch (...) {
                    m_queues.erase(cameraId);
                    throw;
                }
            }
            queue->jobs.push_back(CJob{std::move(chain), std::move(record)});
            m_changed.notify_all();
            return;
        }
    }
    TRACE("CEventChainRunner::Post() chain %d of camera %d after the stop", chain.GetId(), cameraId);
    CEventActionContext(record).Log(ChainText(chain, record) + " not run, the document is closing");
}

void CEventChainRunner::CutAt(Clock::time_point cutAt) {
    m_abort.CutAt(cutAt);
}

void CEventChainRunner::Stop(Clock::time_point cutAt) {
    m_abort.CutAt(cutAt);
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping) {
            return;
        }
        m_stopping = true;
        for (auto& entry : m_queues) {
            threads.push_back(std::move(entry.second->thread));
        }
        m_changed.notify_all();
    }
    TRACE("CEventChainRunner::Stop() waiting for %zu camera queue(s)", threads.size());
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopped = true;
}

bool CEventChainRunner::IdleLocked() const {
    for (const auto& entry : m_queues) {
        if (entry.second->busy || !entry.second->jobs.empty()) {
            return false;
        }
    }
    return true;
}

bool CEventChainRunner::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return IdleLocked(); });
}

void CEventChainRunner::Work(CQueue& queue) {
    const CActionAbort::CScope scope(m_abort);
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return !queue.jobs.empty() || m_stopping; });
        if (queue.jobs.empty()) {
            return; // stopping, and nothing is left
        }
        CJob job = std::move(queue.jobs.front());
        queue.jobs.pop_front();
        queue.busy = true;
        lock.unlock();
        RunJob(job);
        lock.lock();
        queue.busy = false;
        m_changed.notify_all();
    }
}

void CEventChainRunner::RunJob(CJob& job) {
    const CEventActionContext context(job.record);
    if (m_abort.IsCut()) {
        context.Log(ChainText(job.chain, job.record) + " not run, the document is closing");
        return;
    }
    TRACE("CEventChainRunner::RunJob() chain '%s' for camera %d", job.chain.GetName().c_str(),
          job.record.cameraId);
    const size_t count = job.chain.GetActionCount();
    for (size_t i = 0; i < count; ++i) {
        if (m_abort.IsCut()) {
            context.Log(ChainText(job.chain, job.record) + ": " + std::to_string(count - i) +
                        " action(s) not run, the document is closing");
            return;
        }
        CSEventAction& action = *job.chain.GetAction(i);
        CActionAbort::TakeNoticed();
        try {
            action.Execute(job.record);
        } catch (const CBaseException& e) {
            ReportException(e, context.GetDocumentTitle(), context.GetCameraName());
        } catch (const std::exception& e) {
            context.Log(action.GetName() + " Event Action: " + e.what());
        }
        if (CActionAbort::TakeNoticed()) {
            context.LogError(CutShortText(action.GetName()));
        }
    }
}
