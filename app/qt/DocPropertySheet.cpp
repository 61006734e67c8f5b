#include "app/qt/DocPropertySheet.h"

#include "app/qt/DocGeneralPage.h"
#include "app/qt/EventActionPage.h"
#include "app/qt/TimeSchedulePage.h"

CDocPropertySheet::CDocPropertySheet(CTavrixDocData& copy, QWidget* parent)
    : CPropertySheet("Document Properties", parent) {
    AddPage(new CDocGeneralPage(copy, this));
    AddPage(new CTimeSchedulePage(copy, this));
    AddPage(new CEventActionPage(copy, this));
    resize(760, 520);
}

bool CDocPropertySheet::Edit(CTavrixDoc& document, QWidget* parent) {
    CTavrixDocData copy = document.GetData();
    CDocPropertySheet sheet(copy, parent);
    if (sheet.exec() != QDialog::Accepted) {
        return false;
    }
    document.SetData(copy);
    return true;
}
