#include "app/qt/RecordingsWindow.h"

#include "app/qt/BackgroundTask.h"
#include "app/qt/RecordingPlayer.h"
#include "library/RecordingCatalogue.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <set>

namespace {

constexpr int kRefreshMs = 15000;

QString SizeText(int64_t bytes) {
    if (bytes >= 1024LL * 1024 * 1024) {
        return QString::number(static_cast<double>(bytes) / (1024.0 * 1024 * 1024), 'f', 1) + " GiB";
    }
    if (bytes >= 1024 * 1024) {
        return QString::number(static_cast<double>(bytes) / (1024.0 * 1024), 'f', 1) + " MiB";
    }
    return QString::number(bytes / 1024) + " KiB";
}

QString DurationText(int64_t ms) {
    const int64_t seconds = (ms + 500) / 1000;
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

} // namespace

CRecordingsWindow::CRecordingsWindow(const QString& userDbPath, QWidget* parent)
    : QDockWidget("Recordings", parent), m_userDbPath(userDbPath),
      m_catalogue(std::make_shared<CRecordingCatalogue>()) {
    setObjectName("Recordings");
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    auto* filters = new QHBoxLayout;
    m_document = new QComboBox(body);
    m_document->addItem("All documents", QString());
    m_camera = new QComboBox(body);
    m_camera->addItem("All cameras", QString());
    m_dated = new QCheckBox("From", body);
    m_from = new QDateEdit(QDate::currentDate().addDays(-7), body);
    m_to = new QDateEdit(QDate::currentDate(), body);
    for (QDateEdit* date : {m_from, m_to}) {
        date->setCalendarPopup(true);
        date->setEnabled(false);
    }
    auto* refresh = new QPushButton("Refresh", body);
    filters->addWidget(new QLabel("Document", body));
    filters->addWidget(m_document);
    filters->addWidget(new QLabel("Camera", body));
    filters->addWidget(m_camera);
    filters->addWidget(m_dated);
    filters->addWidget(m_from);
    filters->addWidget(new QLabel("to", body));
    filters->addWidget(m_to);
    filters->addStretch(1);
    filters->addWidget(refresh);
    layout->addLayout(filters);

    m_table = new QTableWidget(0, kColumnCount, body);
    m_table->setHorizontalHeaderLabels({"Start", "Camera", "Duration", "Size", "Keep", "File"});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setIconSize(QSize(80, 60));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(64);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(kStart, 240);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(m_table);
    setWidget(body);
    connect(refresh, &QPushButton::clicked, this, &CRecordingsWindow::Refresh);
    ConnectControls();
}

void CRecordingsWindow::ConnectControls() {
    connect(m_document, &QComboBox::activated, this, &CRecordingsWindow::Refresh);
    connect(m_camera, &QComboBox::activated, this, &CRecordingsWindow::Refresh);
    connect(m_dated, &QCheckBox::toggled, this, [this](bool on) {
        m_from->setEnabled(on);
        m_to->setEnabled(on);
        Refresh();
    });
    connect(m_from, &QDateEdit::dateChanged, this, &CRecordingsWindow::Refresh);
    connect(m_to, &QDateEdit::dateChanged, this, &CRecordingsWindow::Refresh);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Play(row); });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == kKeep && item->row() < static_cast<int>(m_rows.size())) {
            const bool keep = item->checkState() == Qt::Checked;
            if (m_rows[item->row()].keep != keep) {
                SetKeep(item->row(), keep);
            }
        }
    });
    connect(m_table, &QWidget::customContextMenuRequested, this, &CRecordingsWindow::ShowContextMenu);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(kRefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            Refresh();
        }
    });
    m_refreshTimer->start();
}

CRecordingsWindow::~CRecordingsWindow() = default;

CRecordingsWindow* CRecordingsWindow::Install(QMainWindow* frame, QMenu* viewMenu, QTableView* notifications,
                                              const QString& userDbPath) {
    auto* window = new CRecordingsWindow(userDbPath, frame);
    frame->addDockWidget(Qt::BottomDockWidgetArea, window);
    window->hide();
    if (viewMenu != nullptr) {
        viewMenu->addAction(window->toggleViewAction());
    }
    if (notifications == nullptr) {
        return window;
    }
    const auto fileAt = [notifications](const QModelIndex& index) {
        const int columns = notifications->model()->columnCount();
        return RecordingOfNotification(
            notifications->model()->index(index.row(), columns - 1).data().toString());
    };
    QObject::connect(notifications, &QTableView::doubleClicked, window,
                     [window, fileAt](const QModelIndex& index) {
                         if (const QString file = fileAt(index); !file.isEmpty()) {
                             CRecordingPlayer::ShowRecording(file, window->m_userDbPath, window->window());
                         }
                     });
    notifications->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(notifications, &QWidget::customContextMenuRequested, window,
                     [window, notifications, fileAt](const QPoint& at) {
                         const QString file = fileAt(notifications->indexAt(at));
                         if (file.isEmpty()) {
                             return;
                         }
                         QMenu menu(notifications);
                         menu.addAction("Play", window, [window, file] {
                             CRecordingPlayer::ShowRecording(file, window->m_userDbPath, window->window());
                         });
                         menu.addAction("Open folder", window, [window, file] { window->OpenFolder(file); });
                         menu.addAction("Copy path", window, [file] { CopyPath(file); });
                         menu.exec(notifications->viewport()->mapToGlobal(at));
                     });
    return window;
}

QString CRecordingsWindow::RecordingOfNotification(const QString& text) {
    static const QRegularExpression pattern("^(?:Started|Finished) recording to '(.+)'$");
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

void CRecordingsWindow::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    Refresh();
}

CRecordingFilter CRecordingsWindow::CurrentFilter() const {
    CRecordingFilter filter;
    filter.documentPath = m_document->currentData().toString().toStdString();
    filter.cameraName = m_camera->currentData().toString().toStdString();
    if (m_dated->isChecked()) {
        filter.sinceUtcMs = QDateTime(m_from->date(), QTime(0, 0)).toMSecsSinceEpoch();
        filter.untilUtcMs = QDateTime(m_to->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
    filter.withThumbnails = true;
    filter.limit = kListLimit;
    return filter;
}

void CRecordingsWindow::Refresh() {
    if (m_loading) {
        m_reloadWanted = true;
        return;
    }
    m_loading = true;
    const CRecordingFilter filter = CurrentFilter();
    BackgroundTask::Run(
        this,
        [catalogue = m_catalogue, path = m_userDbPath.toStdString(), filter] {
            CListing listing;
            if (path.empty()) {
                return listing;
            }
            try {
                if (!catalogue->IsOpen()) {
                    catalogue->Open(path);
                }
                listing.rows = catalogue->List(filter);
            } catch (const CBaseException& e) {
                listing.error = QString::fromStdString(e.First().info);
                return listing;
            }
            for (CRecording& row : listing.rows) {
                QImage image;
                image.loadFromData(row.thumbnail.data(), static_cast<int>(row.thumbnail.size()), "JPG");
                listing.thumbnails.push_back(std::move(image));
                row.thumbnail.clear();
            }
            // The choices of the filters, from everything catalogued.
            CRecordingFilter all;
            all.limit = 5000;
            std::set<std::pair<std::string, std::string>> documents;
            std::set<std::string> cameras;
            std::vector<CRecording> everything;
            try {
                everything = catalogue->List(all);
            } catch (const CBaseException&) {
            }
            for (const CRecording& row : everything) {
                documents.emplace(row.documentPath, row.documentName);
                cameras.insert(row.cameraName);
            }
            for (const auto& [documentPath, title] : documents) {
                listing.documents.emplace_back(QString::fromStdString(documentPath),
                                               QString::fromStdString(title));
            }
            for (const std::string& camera : cameras) {
                listing.cameras.push_back(QString::fromStdString(camera));
            }
            return listing;
        },
        [](CRecordingsWindow& window, CListing listing) { window.Show(std::move(listing)); });
}

void CRecordingsWindow::Show(CListing listing) {
    m_loading = false;
    setWindowTitle(listing.error.isEmpty() ? "Recordings" : "Recordings (" + listing.error + ")");
    for (const auto& [path, title] : listing.documents) {
        if (m_document->findData(path) < 0) {
            m_document->addItem(title, path);
        }
    }
    for (const QString& camera : listing.cameras) {
        if (m_camera->findData(camera) < 0) {
            m_camera->addItem(camera, camera);
        }
    }
    m_rows = std::move(listing.rows);
    const QSignalBlocker block(m_table);
    m_table->setRowCount(static_cast<int>(m_rows.size()));
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        const CRecording& row = m_rows[i];
        auto* start = new QTableWidgetItem(QString::fromStdString(row.startLocal));
        if (!listing.thumbnails[i].isNull()) {
            start->setIcon(QIcon(QPixmap::fromImage(listing.thumbnails[i])));
        }
        m_table->setItem(i, kStart, start);
        m_table->setItem(i, kCamera, new QTableWidgetItem(QString::fromStdString(row.cameraName)));
        m_table->setItem(i, kDuration, new QTableWidgetItem(DurationText(row.durationMs)));
        m_table->setItem(i, kSize, new QTableWidgetItem(SizeText(row.sizeBytes)));
        auto* keep = new QTableWidgetItem;
        keep->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        keep->setCheckState(row.keep ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(i, kKeep, keep);
        QString file = QString::fromStdString(row.filePath);
        if (row.state == ERecordingState::Writing) {
            file += " (being written)";
        } else if (row.state == ERecordingState::Missing) {
            file += " (missing)";
        }
        m_table->setItem(i, kFile, new QTableWidgetItem(file));
    }
    emit Loaded();
    if (m_reloadWanted) {
        m_reloadWanted = false;
        Refresh();
    }
}

void CRecordingsWindow::Play(int row) {
    if (row >= 0 && row < static_cast<int>(m_rows.size())) {
        CRecordingPlayer::ShowRecording(QString::fromStdString(m_rows[row].filePath), m_userDbPath, window());
    }
}

bool CRecordingsWindow::SetKeep(int row, bool keep) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        return false;
    }
    try {
        if (!m_catalogue->IsOpen()) {
            m_catalogue->Open(m_userDbPath.toStdString());
        }
        if (m_catalogue->SetKeep(m_rows[row].id, keep)) {
            m_rows[row].keep = keep;
            return true;
        }
    } catch (const CBaseException& e) {
        QMessageBox::warning(this, "Tavrix", QString::fromStdString(e.First().info));
    }
    return false;
}

bool CRecordingsWindow::Delete(int row, bool ask) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        return false;
    }
    const CRecording recording = m_rows[row];
    const QString file = QString::fromStdString(recording.filePath);
    if (recording.state == ERecordingState::Writing) {
        QMessageBox::information(this, "Tavrix", "The recording is being written and cannot be deleted now.");
        return false;
    }
    try {
        if (!m_catalogue->IsOpen()) {
            m_catalogue->Open(m_userDbPath.toStdString());
        }
        if (!QFile::exists(file) || QFile::moveToTrash(file)) {
            m_catalogue->Remove(recording.id);
        } else {
            if (ask && QMessageBox::question(this, "Tavrix",
                                             "There is no trash for this file. Delete '" + file +
                                                 "' for good?") != QMessageBox::Yes) {
                return false;
            }
            std::string error;
            if (!m_catalogue->Delete(recording.id, &error, true)) {
                QMessageBox::warning(this, "Tavrix", QString::fromStdString(error));
                return false;
            }
        }
    } catch (const CBaseException& e) {
        QMessageBox::warning(this, "Tavrix", QString::fromStdString(e.First().info));
        return false;
    }
    m_rows.erase(m_rows.begin() + row);
    m_table->removeRow(row);
    return true;
}

void CRecordingsWindow::OpenFolder(const QString& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

void CRecordingsWindow::CopyPath(const QString& file) {
    QApplication::clipboard()->setText(file);
}

void CRecordingsWindow::ShowContextMenu(const QPoint& at) {
    const int row = m_table->rowAt(at.y());
    if (row < 0 || row >= static_cast<int>(m_rows.size())) {
        return;
    }
    const QString file = QString::fromStdString(m_rows[row].filePath);
    QMenu menu(this);
    menu.addAction("Play", this, [this, row] { Play(row); });
    QAction* keep = menu.addAction("Keep", this, [this, row] {
        if (SetKeep(row, !m_rows[row].keep)) {
            const QSignalBlocker block(m_table);
            m_table->item(row, kKeep)->setCheckState(m_rows[row].keep ? Qt::Checked : Qt::Unchecked);
        }
    });
    keep->setCheckable(true);
    keep->setChecked(m_rows[row].keep);
    menu.addAction("Delete", this, [this, row] { Delete(row); });
    menu.addSeparator();
    menu.addAction("Open folder", this, [this, file] { OpenFolder(file); });
    menu.addAction("Copy path", this, [file] { CopyPath(file); });
    menu.exec(m_table->viewport()->mapToGlobal(at));
}
