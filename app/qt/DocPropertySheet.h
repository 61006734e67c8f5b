#pragma once
// CDocPropertySheet: the document's properties, on one full copy of its content: the pages
// General, Time Schedule and Event Action. Edit assigns the copy back on OK and drops it on
// Cancel. GUI thread only.

#include "app/qt/PropertySheet.h"
#include "persistence/TavrixDoc.h"

class CDocPropertySheet : public CPropertySheet {
    Q_OBJECT
public:
    explicit CDocPropertySheet(CTavrixDocData& copy, QWidget* parent = nullptr);

    static bool Edit(CTavrixDoc& document, QWidget* parent);
};
