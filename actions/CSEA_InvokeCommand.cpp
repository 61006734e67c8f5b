#include "actions/CSEA_InvokeCommand.h"

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
    return ExecuteNotAvailable(record);
}
