#include "actions/CSEA_SendFTP.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/FtpUploader.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"FTPPath", "Path on server", SEAPropertyType::Text},
    {"FTPFilename", "Filename on server", SEAPropertyType::Text},
    {"FTPServer", "FTP Server", SEAPropertyType::Text},
    {"FTPPort", "FTP Port", SEAPropertyType::Integer},
    {"FTPUser", "FTP User name", SEAPropertyType::Text},
    {"FTPPass", "FTP Password", SEAPropertyType::Password},
    {"FTPPassive", "Use passive FTP", SEAPropertyType::Bool},
    {"MaxAttachSize", "Maximum Size (KB)", SEAPropertyType::Integer},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_SendFTP::CSEA_SendFTP() {
    SetStringProp("FTPPath", "");
    SetStringProp("FTPFilename", "%n_%d%m%y_%h%i%s.%t");
    SetStringProp("FTPServer", "");
    SetIntegerProp("FTPPort", 21);
    SetStringProp("FTPUser", "");
    SetStringProp("FTPPass", "");
    SetBoolProp("FTPPassive", false);
    SetIntegerProp("MaxAttachSize", 512);
}

const CSEAPropertyRow* CSEA_SendFTP::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_SendFTP::Execute(const CSEventRecord& record) {
    const CEventActionContext context(record);
    CFtpUploadJob job;
    job.remoteName = context.Expand(GetStringProp("FTPFilename"));
    job.remoteDirectory = context.Expand(GetStringProp("FTPPath"));
    job.sourceFile = record.fileName;
    job.server = GetStringProp("FTPServer");
    job.port = GetIntegerProp("FTPPort");
    job.user = GetStringProp("FTPUser");
    job.password = GetStringProp("FTPPass");
    job.passive = GetBoolProp("FTPPassive");
    job.maxSizeKb = GetIntegerProp("MaxAttachSize");
    CFtpUploader uploader([&context](const std::string& text, bool error) {
        if (error) {
            context.LogError(text);
        } else {
            context.Log(text);
        }
    });
    return uploader.Upload(job);
}
