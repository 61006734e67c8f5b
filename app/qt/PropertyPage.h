#pragma once
// The pages of the camera and document property sheets. Every page edits one full copy of the
// document's content that the sheet's caller took; the caller assigns the copy back to the
// document when the sheet ends with OK and drops it on Cancel. A page reads its values from the
// copy when it is created (Load), checks them when OK is pressed (Validate) and writes them back
// (Store) once every page has passed. GUI thread only.

#include "persistence/TavrixDoc.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    CPropertyPage(CTavrixDocData& data, QWidget* parent = nullptr) : QWidget(parent), m_data(data) {}

    virtual QString Title() const = 0;
    // False with a message when the sheet must not close.
    virtual bool Validate(QString& message) {
        (void)message;
        return true;
    }
    virtual void Store() = 0;
    // The sheet is closing (either way): stop what the page started.
    virtual void Finish() {}

protected:
    CTavrixDocData& m_data;
};

// A page of one camera of the copy.
class CCameraPage : public CPropertyPage {
    Q_OBJECT
public:
    CCameraPage(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr)
        : CPropertyPage(data, parent), m_cameraId(cameraId) {}

protected:
    // The camera in the copy; the sheet is only built for a camera the copy holds.
    CCamera& Camera() { return *m_data.m_cameras.Find(m_cameraId); }
    const int32_t m_cameraId;
};

// Lists the named elements of a document map (schedules, chains) in id order, each item carrying
// its id, and selects the one with selectId without signalling the change. Returns the id of the
// selected element, or -1 when there is none.
template <class Map>
int32_t FillNamedList(QListWidget* list, const Map& elements, int32_t selectId) {
    const QSignalBlocker blocker(list);
    list->clear();
    int row = -1;
    for (const auto& [id, element] : elements) {
        auto* item = new QListWidgetItem(QString::fromStdString(element->GetName()), list);
        item->setData(Qt::UserRole, id);
        if (id == selectId) {
            row = list->count() - 1;
        }
    }
    list->setCurrentRow(row);
    return row >= 0 ? selectId : -1;
}
