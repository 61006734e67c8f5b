#pragma once
// Shared by the camera view tests: private settings folders, GStreamer with the build's plugins,
// a real document file with its record folder, a document view whose messages the test thread
// delivers (it plays the user-interface thread), the notification log as it grows, and reading
// recordings back with ffprobe and ffmpeg.

#include "camera/TavrixViewCore.h"
#include "camera/tests/PrivateXdgFolders.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "recording/tests/GstTestSupport.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace camtest {

using namespace std::chrono_literals;

// Timing whose schedule clock reads Tuesday 8 December 2026 at the hour held in hour (which the
// test moves), its schedule evaluated every 20 ms.
inline CCameraViewTiming HourClockTiming(const std::atomic<int>& hour) {
    CCameraViewTiming timing;
    timing.schedulePassMs = 20;
    timing.scheduleClock = [&hour] {
        platform::SystemTime now;
        now.year = 2026;
        now.month = 12;
        now.day = 8;
        now.dayOfWeek = 2;
        now.hour = static_cast<uint16_t>(hour.load());
        return now;
    };
    return timing;
}

// Reported exceptions only go to the log (no error text on standard error) while it exists.
class CUnattended {
public:
    CUnattended() { Set(true); }
    ~CUnattended() { Set(false); }

private:
    static void Set(bool unattended) {
        CNotificationSettings settings = CConfigMgrImpl::Instance().GetNotificationSettings();
        settings.SetUnattendedMode(unattended);
        CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    }
};

// Every notification log entry since construction.
class CLogCapture {
public:
    CLogCapture() {
        CNotificationLog::Instance().Clear();
        m_listener = CNotificationLog::Instance().AddListener([this](const CLogEntry& entry) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_entries.push_back(entry);
        });
    }
    ~CLogCapture() { CNotificationLog::Instance().RemoveListener(m_listener); }

    std::vector<CLogEntry> Entries() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_entries;
    }
    // Texts of one camera's entries ("" for document-level entries), in order.
    std::vector<std::string> Texts(const std::string& camera) const {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : Entries()) {
            if (entry.camName == camera) {
                texts.push_back(entry.text);
            }
        }
        return texts;
    }
    // Entries whose text contains the fragment.
    int Count(const std::string& fragment, const std::string& camera = "*") const {
        int count = 0;
        for (const CLogEntry& entry : Entries()) {
            if ((camera == "*" || entry.camName == camera) &&
                entry.text.find(fragment) != std::string::npos) {
                ++count;
            }
        }
        return count;
    }
    std::string Dump() const {
        std::string text;
        for (const CLogEntry& entry : Entries()) {
            text += entry.docName + "\t" + entry.camName + "\t" + entry.text + "\n";
        }
        return text;
    }

private:
    mutable std::mutex m_lock;
    std::vector<CLogEntry> m_entries;
    int m_listener = 0;
};

// A document file in a folder of its own, with a record folder beside it.
class CTestDocument {
public:
    CTestDocument() {
        char folder[] = "/tmp/tavrix-camdoc-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            ADD_FAILURE() << "no temporary folder";
        }
        m_folder = folder;
        m_recordFolder = m_folder + "/records";
        std::filesystem::create_directories(m_recordFolder);
    }
    ~CTestDocument() {
        m_document.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    // A new document "Office" whose cameras the function sets up (camera 0 exists: "Default").
    CTavrixDoc& Create(const std::function<void(CTavrixDocData&)>& setUp) {
        m_document = std::make_unique<CTavrixDoc>();
        EXPECT_TRUE(m_document->OnNewDocument(m_folder + "/Office.tvrx"));
        m_document->Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_recordFolder;
            setUp(data);
        });
        EXPECT_TRUE(m_document->OnSaveDocument());
        return *m_document;
    }
    CTavrixDoc& Document() { return *m_document; }
    const std::string& Folder() const { return m_folder; }
    const std::string& RecordFolder() const { return m_recordFolder; }

    std::vector<std::string> Recordings() const { return FilesIn(m_recordFolder); }
    static std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            files.push_back(entry.path().string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

private:
    std::string m_folder;
    std::string m_recordFolder;
    std::unique_ptr<CTavrixDoc> m_document;
};

// A small camera: 160 x 120 at 10 frames a second, AVI without compression.
inline CCamera* SmallCamera(CTavrixDocData& data, int32_t id, const std::string& deviceName) {
    CCamera* camera = id == 0 ? data.m_cameras.Find(0) : data.AddCamera();
    camera->m_videoDeviceDN = deviceName;
    camera->m_videoSizeCx = 160;
    camera->m_videoSizeCy = 120;
    camera->m_fps = 10;
    camera->m_motionPreEventDelay = 1000;
    camera->m_motionStopDelay = 800;
    camera->m_wmvActive = false;
    camera->m_recordContainer = 0; // AVI or WMV as m_wmvActive says
    return camera;
}

// The document's view on the test thread, which delivers the messages of the camera views.
class CViewRun {
public:
    explicit CViewRun(CTavrixDoc& document, CCameraViewTiming timing = {},
                      CTavrixViewCore::CHooks hooks = {}) {
        m_view =
            std::make_unique<CTavrixViewCore>(document, m_dispatcher, std::move(timing), std::move(hooks));
    }
    ~CViewRun() { Close(); }

    CTavrixViewCore& View() { return *m_view; }
    CCameraView& Camera(int32_t id) { return *m_view->FindCameraView(id); }
    CMessageDispatcher& Dispatcher() { return m_dispatcher; }

    // Delivers messages for about ms milliseconds.
    void Pump(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            m_dispatcher.RunFor(10);
        }
    }
    // Delivers messages until the condition holds (true) or the time is up (false).
    bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            m_dispatcher.RunFor(10);
        }
        return true;
    }
    // Destroys the view: "Document closed", camera views torn down, recordings finished.
    void Close() {
        m_view.reset();
        m_dispatcher.DeliverPending();
    }

private:
    CMessageDispatcher m_dispatcher;
    std::unique_ptr<CTavrixViewCore> m_view;
};

// Decodes every frame of a recording into packed RGB (3 bytes a pixel, top row first).
inline std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& file, int width, int height) {
    const std::string bytes = rectest::RunCommand(
        "ffmpeg -v error -i '" + file + "' -fps_mode passthrough -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    const size_t frameBytes = static_cast<size_t>(width) * height * 3;
    std::vector<std::vector<uint8_t>> frames;
    for (size_t offset = 0; offset + frameBytes <= bytes.size(); offset += frameBytes) {
        frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                            bytes.begin() + static_cast<std::ptrdiff_t>(offset + frameBytes));
    }
    return frames;
}

// Whether two RGB frames are equal within rows [top, bottom).
inline bool SameRows(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, int top,
                     int bottom) {
    const size_t row = static_cast<size_t>(width) * 3;
    for (int y = top; y < bottom; ++y) {
        for (size_t x = 0; x < row; ++x) {
            if (a[y * row + x] != b[y * row + x]) {
                return false;
            }
        }
    }
    return true;
}

// Pixels of pure overlay green (0, 255, 0) within rows [top, bottom) of an RGB frame.
// (The same bytes in BGR and RGB order.)
inline int GreenPixels(const uint8_t* pixels, int width, int strideBytes, int top, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * strideBytes;
        for (int x = 0; x < width; ++x) {
            if (row[x * 3] == 0 && row[x * 3 + 1] == 255 && row[x * 3 + 2] == 0) {
                ++count;
            }
        }
    }
    return count;
}

// Pixels of the overlay's green as a recording keeps it: in recorded frames the colour goes
// through I420, whose chroma is shared by 2x2 pixels, so a thin stroke is a clear green rather
// than pure (0, 255, 0); brighter than the 75 % green of the colour bars. BGR or RGB order alike.
inline int GreenishPixels(const uint8_t* pixels, int width, int strideBytes, int top, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * strideBytes;
        for (int x = 0; x < width; ++x) {
            const int b = row[x * 3];
            const int g = row[x * 3 + 1];
            const int r = row[x * 3 + 2];
            if (g >= 225 && g - b >= 100 && g - r >= 100) {
                ++count;
            }
        }
    }
    return count;
}

// A small file system of its own (needs root, as in the build container).
class CSmallDisk {
public:
    explicit CSmallDisk(const std::string& size) {
        char folder[] = "/tmp/tavrix-smalldisk-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            return;
        }
        m_folder = folder;
        const std::string options = "size=" + size;
        m_mounted = geteuid() == 0 && mount("tmpfs", m_folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~CSmallDisk() {
        if (m_mounted) {
            umount2(m_folder.c_str(), MNT_DETACH);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    bool Mounted() const { return m_mounted; }
    const std::string& Folder() const { return m_folder; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

} // namespace camtest
