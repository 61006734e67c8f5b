#include "actions/CSEA_SendMail.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"Sender", "Sender Address", SEAPropertyType::Text},
    {"Recipient", "Recipient Address", SEAPropertyType::Text},
    {"Subject", "Subject String", SEAPropertyType::Text},
    {"SMTPServer", "SMTP Server", SEAPropertyType::Text},
    {"SMTPPort", "SMTP Port", SEAPropertyType::Integer},
    {"SMTPUser", "SMTP User name", SEAPropertyType::Text},
    {"SMTPPass", "SMTP Password", SEAPropertyType::Password},
    {"AttachFile", "Attach File", SEAPropertyType::Bool},
    {"MaxAttachSize", "Maximum Size (KB)", SEAPropertyType::Integer},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_SendMail::CSEA_SendMail() {
    SetStringProp("Sender", "");
    SetStringProp("Recipient", "");
    SetStringProp("Subject", "");
    SetStringProp("SMTPServer", "");
    SetIntegerProp("SMTPPort", 25);
    SetStringProp("SMTPUser", "");
    SetStringProp("SMTPPass", "");
    SetBoolProp("AttachFile", false);
    SetIntegerProp("MaxAttachSize", 512);
}

const CSEAPropertyRow* CSEA_SendMail::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_SendMail::Execute(const CSEventRecord& record) {
    return ExecuteNotAvailable(record);
}
