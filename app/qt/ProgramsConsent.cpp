#include "app/qt/ProgramsConsent.h"

#include "app/qt/UiMessages.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/TavrixDoc.h"

#include <QStringList>

namespace ProgramsConsent {

namespace {

CApprovedPrograms Approvals() {
    return CApprovedPrograms(CConfigMgrImpl::Instance().GetSettingsPath());
}

} // namespace

QString QuestionText(const CTavrixDoc& document, const std::vector<CChainProgram>& programs) {
    QStringList lines;
    for (const CChainProgram& program : programs) {
        const QString line = QString::fromStdString(ChainPrograms::DisplayLine(program));
        if (!lines.contains(line)) {
            lines << line;
        }
    }
    const qsizetype listed = std::min<qsizetype>(lines.size(), static_cast<qsizetype>(kListedPrograms));
    QString text = QString("The document '%1' was not saved by you on this computer. Its event action chains "
                           "start these programs:\n\n")
                       .arg(QString::fromStdString(document.GetPathName()));
    for (qsizetype i = 0; i < listed; ++i) {
        text += "    " + lines[i] + "\n";
    }
    if (lines.size() > listed) {
        text += QString("    ... and %1 more\n").arg(lines.size() - listed);
    }
    text += "\nOpen the document and let it start these programs?";
    return text;
}

bool Check(QWidget* parent, const CTavrixDoc& document, const std::vector<CChainProgram>& programs) {
    const std::string digest = ChainPrograms::Digest(programs);
    const CApprovedPrograms approvals = Approvals();
    if (approvals.IsApproved(digest)) {
        return true;
    }
    if (!UiMessages::AskYesNo(parent, QuestionText(document, programs))) {
        TRACE("ProgramsConsent::Check() '%s': not allowed", document.GetPathName().c_str());
        return false;
    }
    if (!approvals.Approve(digest)) {
        TRACE("ProgramsConsent::Check() the answer for '%s' could not be kept",
              document.GetPathName().c_str());
    }
    return true;
}

void RecordSaved(const CTavrixDoc& document) {
    const std::string digest = ChainPrograms::Digest(
        document.Read([](const CTavrixDocData& data) { return ChainPrograms::List(data); }));
    if (!Approvals().Approve(digest)) {
        TRACE("ProgramsConsent::RecordSaved() the programs of '%s' could not be kept",
              document.GetPathName().c_str());
    }
}

} // namespace ProgramsConsent
