#include "camera/CameraHub.h"

#include "camera/MessageDispatcher.h"

#include <algorithm>
#include <chrono>

CCameraHub& CCameraHub::Instance() {
    static CCameraHub hub;
    return hub;
}

int64_t CCameraHub::NowUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- the camera directory ----

void CCameraHub::RegisterCamera(ICameraControl* camera) {
    std::lock_guard<std::mutex> lock(m_cameraLock);
    if (std::find(m_cameras.begin(), m_cameras.end(), camera) == m_cameras.end()) {
        m_cameras.push_back(camera);
    }
}

void CCameraHub::UnregisterCamera(ICameraControl* camera) {
    std::lock_guard<std::mutex> lock(m_cameraLock);
    m_cameras.erase(std::remove(m_cameras.begin(), m_cameras.end(), camera), m_cameras.end());
}

void CCameraHub::ForEachCamera(const std::function<void(ICameraControl&)>& fn) {
    std::lock_guard<std::mutex> lock(m_cameraLock);
    for (ICameraControl* camera : m_cameras) {
        fn(*camera);
    }
}

bool CCameraHub::WithCamera(const std::string& document, int32_t cameraId,
                            const std::function<void(ICameraControl&)>& fn) {
    std::lock_guard<std::mutex> lock(m_cameraLock);
    for (ICameraControl* camera : m_cameras) {
        if (camera->GetCameraId() == cameraId &&
            (camera->GetDocumentName() == document || camera->GetDocumentPath() == document)) {
            fn(*camera);
            return true;
        }
    }
    return false;
}

void CCameraHub::RegisterDocument(IDocumentControl* document) {
    std::lock_guard<std::mutex> lock(m_documentLock);
    if (std::find(m_documents.begin(), m_documents.end(), document) == m_documents.end()) {
        m_documents.push_back(document);
    }
}

void CCameraHub::UnregisterDocument(IDocumentControl* document) {
    std::lock_guard<std::mutex> lock(m_documentLock);
    m_documents.erase(std::remove(m_documents.begin(), m_documents.end(), document), m_documents.end());
}

void CCameraHub::ForEachDocument(const std::function<void(IDocumentControl&)>& fn) {
    std::lock_guard<std::mutex> lock(m_documentLock);
    for (IDocumentControl* document : m_documents) {
        fn(*document);
    }
}

int CCameraHub::WithDocument(const std::string& document, const std::function<void(IDocumentControl&)>& fn) {
    std::lock_guard<std::mutex> lock(m_documentLock);
    IDocumentControl* found = nullptr;
    int matches = 0;
    for (IDocumentControl* candidate : m_documents) {
        const std::string path = candidate->GetDocumentPath();
        if (candidate->GetDocumentName() == document || (!path.empty() && path == document)) {
            found = candidate;
            ++matches;
        }
    }
    if (matches == 1) {
        fn(*found);
    }
    return matches;
}

void CCameraHub::RunOnUiThread(std::function<void()> fn) {
    CMessageDispatcher::Instance().PostCall(std::move(fn));
}

// ---- notes ----

void CCameraHub::Subscribe(ICameraHubListener* listener, bool frames) {
    std::unique_lock<std::shared_mutex> lock(m_listenerLock);
    for (const CListener& known : m_listeners) {
        if (known.listener == listener) {
            return;
        }
    }
    m_listeners.push_back({listener, frames});
    m_listenerCount.fetch_add(1);
    if (frames) {
        m_frameListenerCount.fetch_add(1);
    }
}

void CCameraHub::Unsubscribe(ICameraHubListener* listener) {
    // The exclusive lock waits for every delivery under way, which holds the lock shared.
    std::unique_lock<std::shared_mutex> lock(m_listenerLock);
    for (auto it = m_listeners.begin(); it != m_listeners.end(); ++it) {
        if (it->listener == listener) {
            if (it->frames) {
                m_frameListenerCount.fetch_sub(1);
            }
            m_listenerCount.fetch_sub(1);
            m_listeners.erase(it);
            return;
        }
    }
}

void CCameraHub::PublishEvent(const CCameraEventNote& note) {
    if (!HasListeners()) {
        return;
    }
    std::shared_lock<std::shared_mutex> lock(m_listenerLock);
    for (const CListener& entry : m_listeners) {
        entry.listener->OnCameraEvent(note);
    }
}

void CCameraHub::PublishState(const CCameraStateNote& note) {
    if (!HasListeners()) {
        return;
    }
    std::shared_lock<std::shared_mutex> lock(m_listenerLock);
    for (const CListener& entry : m_listeners) {
        entry.listener->OnCameraState(note);
    }
}

void CCameraHub::PublishFrame(const CCameraFrameNote& note) {
    if (!WantsFrames()) {
        return;
    }
    std::shared_lock<std::shared_mutex> lock(m_listenerLock);
    for (const CListener& entry : m_listeners) {
        if (entry.frames) {
            entry.listener->OnCameraFrame(note);
        }
    }
}
