#include "actions/CSEA_InvokeCommand.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/ProcessLauncher.h"
#include "foundation/Tracer.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"Command", "Command", SEAPropertyType::FilePath},
    {"Parameters", "Parameters", SEAPropertyType::Text},
    {"ShowWindow", "Show Window", SEAPropertyType::Bool},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_InvokeCommand::CSEA_InvokeCommand() {
    SetStringProp("Command", "");
    SetStringProp("Parameters", "");
    SetBoolProp("ShowWindow", true);
}

const CSEAPropertyRow* CSEA_InvokeCommand::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_InvokeCommand::Execute(const CSEventRecord& record) {
    const std::string command = GetStringProp("Command");
    const std::string parameters = GetStringProp("Parameters");
    // "ShowWindow" stays stored for the documents' sake: a program started detached, with its
    // standard streams on /dev/null, opens no console window that could be shown or hidden.
    const CEventActionContext context(record);
    const std::string expanded = context.Expand(parameters);
    // The words are split before their placeholders are expanded, so that a camera or file name
    // with blanks, quotes or ";" stays one argument of data.
    const std::vector<std::string> arguments = CProcessLauncher::BuildArguments(
        parameters, [&](const std::string& word) { return context.Expand(word); });
    TRACE("CSEA_InvokeCommand::Execute() '%s' with %zu arguments", command.c_str(), arguments.size());
    const int error = CProcessLauncher::Start(command, arguments);
    if (error != 0) {
        context.LogError("Invoke Command Event Action: Unable to start: '" +
                         CProcessLauncher::SystemErrorText(error) + "'");
        return false;
    }
    context.Log("Invoke Command Event Action: Started '" + command + "' '" + expanded + "'");
    return true;
}
