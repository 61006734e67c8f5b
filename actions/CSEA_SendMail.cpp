#include "actions/CSEA_SendMail.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/Smtp.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string CSEA_SendMail::BuildBody(const CSEventRecord& record, const std::string& documentTitle,
                                     const std::string& cameraName) {
    std::string body = "\nTavrix has recorded an event!\n\n";
    body += "Event      : " + std::string(record.GetEventName()) + "\n";
    body += "Document   : " + documentTitle + "\n";
    body += "Camera     : " + cameraName + "\n";
    if (!record.fileName.empty()) {
        body += "Filename   : " + record.fileName + "\n";
    }
    if (!record.errorText.empty()) {
        body += "Error Text : " + record.errorText + "\n";
    }
    body += "\n\n";
    return body;
}

std::string CSEA_SendMail::BuildSubject(const std::string& subject) {
    return subject.empty() ? "Tavrix event occurred" : subject;
}

namespace {

// Size of the file to be attached; throws when it cannot be opened as a file. O_NONBLOCK so that a
// named pipe cannot hold the raising thread in open().
int64_t AttachmentSize(const std::string& path) {
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status {};
    bool ok = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (fd >= 0) {
        ::close(fd);
    }
    if (!ok) {
        THROW_SMTP("Failed to open file to be attached");
    }
    return status.st_size;
}

// Says QUIT; a refused QUIT is of no interest once the outcome is known.
void Release(mylib::MySMTPConnection& connection) {
    try {
        connection.Disconnect();
    } catch (const CSMTPEx& e) {
        TRACE("CSEA_SendMail: QUIT refused: %s", e.GetMessage().c_str());
    }
}

} // namespace

bool CSEA_SendMail::Execute(const CSEventRecord& record) {
    const std::string sender = GetStringProp("Sender");
    const std::string recipient = GetStringProp("Recipient");
    const std::string server = GetStringProp("SMTPServer");
    const int32_t port = GetIntegerProp("SMTPPort");
    const std::string user = GetStringProp("SMTPUser");
    const std::string password = GetStringProp("SMTPPass");
    const bool attachFile = GetBoolProp("AttachFile");
    const int64_t maxAttachBytes = static_cast<int64_t>(GetIntegerProp("MaxAttachSize")) * 1024;
    const CEventActionContext context(record);

    mylib::MySMTPConnection connection;
    try {
        mylib::MySMTPMessage message;
        message.SetFrom(mylib::MySMTPAddress(sender));
        message.AddRecipient(mylib::MySMTPAddress(recipient), mylib::MySMTPMessage::TO);
        message.SetSubject(BuildSubject(GetStringProp("Subject")));
        message.SetBody(BuildBody(record, context.GetDocumentTitle(), context.GetCameraName()));
        if (attachFile) {
            if (record.kind == EventKind::RecordFinish) {
                if (AttachmentSize(record.fileName) > maxAttachBytes) {
                    context.Log("Send Mail Event Action: File to be attached beyond size limit.");
                } else {
                    mylib::MySMTPAttachment attachment;
                    attachment.LoadFromFile(record.fileName);
                    message.AddAttachment(std::move(attachment));
                }
            } else {
                context.Log("Send Mail Event Action: Attach files only possible for 'Record finish' event.");
            }
        }
        context.Log("Send Mail Event Action: Start sending a mail to : '" + recipient + "'");
        connection.Connect(server, port, user, password);
        connection.SendMessage(message);
        context.Log("Send Mail Event Action: Successfully sent a mail to : '" + recipient + "'");
    } catch (const CSMTPEx& e) {
        context.LogError("Send Mail Event Action: Error while sending a mail: " + e.GetMessage());
        context.LogError("Send Mail Event Action: Last command response: '" +
                         connection.GetLastCommandResponse() + "'");
        Release(connection);
        return false;
    }
    // The server took the mail with its 250; a refused QUIT afterwards does not undo that.
    Release(connection);
    return true;
}
