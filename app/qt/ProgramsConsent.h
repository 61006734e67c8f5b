#pragma once
// The desktop's question before a document runs programs that this user has not saved or allowed
// on this machine (ChainPrograms.h): the programs its chains start, each with its camera and
// event, and whether the document may open and start them. The answer "Yes" is remembered for the
// same programs in the settings file; "No" leaves the document unopened and is asked again next
// time. Saving a document in the desktop makes its programs this user's.
//
// GUI thread only.

#include "app/ChainPrograms.h"

#include <QString>

#include <vector>

class CTavrixDoc;
class QWidget;

namespace ProgramsConsent {

// At most this many programs are listed in the question; the rest are counted.
constexpr size_t kListedPrograms = 20;

// The application core's check of a document just read: true when it may run.
bool Check(QWidget* parent, const CTavrixDoc& document, const std::vector<CChainProgram>& programs);
// The question's text.
QString QuestionText(const CTavrixDoc& document, const std::vector<CChainProgram>& programs);
// The document was saved by this user: its programs need no question when it is opened again.
void RecordSaved(const CTavrixDoc& document);

} // namespace ProgramsConsent
