#pragma once
// CRecordingsWindow: the "Recordings" bar of the main frame: the catalogued recordings newest
// first (at most the newest 1,000 that the filters let through), each with its thumbnail, start,
// camera, duration, size, "keep" and file; filters by document, camera and date range; Play
// (double-click), Keep, Delete (to the desktop's trash where there is one, else after a
// confirmation), Open folder and Copy path. The list is read off the GUI thread and refreshed
// while the bar is shown.
//
// Also the notifications list's recording actions: double-clicking a "Started recording to
// '...'" or "Finished recording to '...'" row plays that recording; its context menu offers
// "Play", "Open folder" and "Copy path".
//
// GUI thread only; the catalogue (its own connection, thread-safe) is also used by pool threads.

#include "library/Recording.h"

#include <QDockWidget>
#include <QImage>

#include <memory>
#include <vector>

class CRecordingCatalogue;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QMainWindow;
class QMenu;
class QTableView;
class QTableWidget;
class QTimer;

class CRecordingsWindow : public QDockWidget {
    Q_OBJECT
public:
    static constexpr int kListLimit = 1000;
    enum Column { kStart, kCamera, kDuration, kSize, kKeep, kFile, kColumnCount };

    CRecordingsWindow(const QString& userDbPath, QWidget* parent = nullptr);
    ~CRecordingsWindow() override;

    // Adds the bar (hidden) to the frame, its toggle to the view menu and the recording actions to
    // the notifications list. Returns the bar.
    static CRecordingsWindow* Install(QMainWindow* frame, QMenu* viewMenu, QTableView* notifications,
                                      const QString& userDbPath);
    // The recording a notification text names ("Started recording to '...'", "Finished recording
    // to '...'"); empty for any other text.
    static QString RecordingOfNotification(const QString& text);

    // Reads the list again (off the GUI thread); Loaded is emitted when it is shown.
    void Refresh();
    void Play(int row);
    bool SetKeep(int row, bool keep);
    // To the trash, else after the user confirmed (ask = false: confirmed already).
    bool Delete(int row, bool ask = true);
    void OpenFolder(const QString& file);
    static void CopyPath(const QString& file);

    QTableWidget* Table() const { return m_table; }
    const std::vector<CRecording>& Rows() const { return m_rows; }
    QComboBox* DocumentFilter() const { return m_document; }
    QComboBox* CameraFilter() const { return m_camera; }

signals:
    void Loaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct CListing {
        std::vector<CRecording> rows;
        std::vector<QImage> thumbnails;
        std::vector<std::pair<QString, QString>> documents; // path, title
        std::vector<QString> cameras;
        QString error; // the catalogue could not be read
    };
    // The filters, the list and the refresh timer answer the user (from the constructor).
    void ConnectControls();
    CRecordingFilter CurrentFilter() const;
    void Show(CListing listing);
    void ShowContextMenu(const QPoint& at);

    QString m_userDbPath;
    std::shared_ptr<CRecordingCatalogue> m_catalogue;
    std::vector<CRecording> m_rows;
    QComboBox* m_document;
    QComboBox* m_camera;
    QCheckBox* m_dated;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QTableWidget* m_table;
    QTimer* m_refreshTimer;
    bool m_loading = false;
    bool m_reloadWanted = false;
};
