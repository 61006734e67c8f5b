#pragma once
// CTavrixViewCore: the logic of a document's view, shared by both shells. It writes "Document
// opened" and "Document closed", creates one camera view per camera of the document and keeps
// them in step with the document (after it was opened and after its cameras or their settings
// changed), activates the cameras at start-up when the document asks for it, rebuilds a camera
// whose device came back (message 3025) or whose re-connection watchdog asks to try its lost
// device again (3026), has the shell redraw a camera that changed (3024), and
// passes the application's broadcasts on to its camera views: view update hints 5 (activate all
// cameras), 6 (deactivate all), 7 (workstation locked) and 8 (unlocked).
//
// The shell adds the windows through hooks: a video output per camera, a window with an
// "Activate" button per camera view (the button calls OnCameraButton), a redraw on 3024.
//
// The view registers its document in the camera hub's document directory (CHubDocument) for as
// long as it exists, so that the web server can reach the open document.
//
// Threads: everything runs on the user-interface thread, which also delivers the dispatcher's
// messages; camera views post to it from their worker threads through the dispatcher.

#include "camera/CameraView.h"
#include "camera/HubDocument.h"
#include "camera/MessageDispatcher.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CCamera;
class CBaseException;
class CTavrixDoc;

class CTavrixViewCore final : public ICameraViewOwner, public IMessageTarget {
public:
    // What keeping a camera view in step with its camera needs.
    enum class RefreshAction {
        Rebuild, // another device, frame size or frame rate: a new pipeline
        Start,   // the pipeline fits: run it
    };
    static RefreshAction DecideRefresh(const std::string& deviceName, int32_t frameWidth, int32_t frameHeight,
                                       int32_t captureFps, const CCamera& camera);

    struct CHooks {
        // The video output of a camera's new pipeline (default: none, CNullVideoRenderer).
        std::function<std::unique_ptr<IVideoRenderer>(int32_t cameraId)> createRenderer;
        // A camera view was created (the shell adds its window and "Activate" button) or is about
        // to be destroyed (the shell removes them).
        std::function<void(CCameraView& cameraView)> cameraViewCreated;
        std::function<void(CCameraView& cameraView)> cameraViewDestroyed;
        // Message 3024: the camera changed; the shell redraws its window (title: GetStateText).
        std::function<void(CCameraView& cameraView)> cameraChanged;
    };

    CTavrixViewCore(CTavrixDoc& document, CMessageDispatcher& dispatcher, CCameraViewTiming timing = {},
                    CHooks hooks = {});
    // Destroys the camera views (each waits for its recordings to finish), then writes "Document
    // closed".
    ~CTavrixViewCore();
    CTavrixViewCore(const CTavrixViewCore&) = delete;
    CTavrixViewCore& operator=(const CTavrixViewCore&) = delete;

    // The view is shown for a freshly opened document: "Document opened", then the camera views.
    void OnInitialUpdate();
    // The document's cameras or their settings changed: the camera views follow.
    void RefreshCameraViews();
    // A view update hint of the application (5 to 8); other hints are ignored.
    void OnUpdate(int hint);
    // The "Activate" button of a camera's window.
    void OnCameraButton(int32_t cameraId);
    // The capture devices present now (display name -> friendly name), after a change: cameras
    // whose device went away or came back hear of it. Generated sources are always present.
    void OnDevicesChanged(const std::map<std::string, std::string>& devices);

    // Messages 3024, 3025 and 3026 from the camera views, through the dispatcher.
    void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    CCameraView* FindCameraView(int32_t cameraId);
    // The ids of the camera views, in the order the view holds them.
    std::vector<int32_t> GetCameraViewIds() const;
    CMessageDispatcher::TargetId GetTargetId() const { return m_targetId; }

    // ICameraViewOwner
    CTavrixDoc& GetDocument() override { return m_document; }
    void PostCameraMessage(uint32_t message, int32_t cameraId) override;
    std::unique_ptr<IVideoRenderer> CreateVideoRenderer(int32_t cameraId) override;

private:
    // The three steps that keep the camera views in step with the document.
    void UpdateCameraViews(bool justOpened);
    void Report(const CBaseException& exception, int32_t cameraId);
    // Runs one camera view operation, reporting an exception of the family.
    template <class F>
    void Guarded(int32_t cameraId, F&& operation);

    CTavrixDoc& m_document;
    CMessageDispatcher& m_dispatcher;
    const CCameraViewTiming m_timing;
    const CHooks m_hooks;
    CMessageDispatcher::TargetId m_targetId = CMessageDispatcher::kNoTarget;
    std::map<int32_t, std::unique_ptr<CCameraView>> m_cameraViews;
    // The document in the camera hub's document directory while this view shows it.
    CHubDocument m_hubDocument{m_document};
};
