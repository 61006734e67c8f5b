#include "actions/CSEA_S3Upload.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/S3Uploader.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"S3Endpoint", "Endpoint URL", SEAPropertyType::Text},
    {"S3Region", "Region", SEAPropertyType::Text},
    {"S3Bucket", "Bucket", SEAPropertyType::Text},
    {"S3Key", "Key (name in the bucket)", SEAPropertyType::Text},
    {"S3AccessKey", "Access key", SEAPropertyType::Text},
    {"S3Secret", "Secret key", SEAPropertyType::Password},
    {"MaxAttachSize", "Maximum Size (KB)", SEAPropertyType::Integer},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_S3Upload::CSEA_S3Upload() {
    SetStringProp("S3Endpoint", "");
    SetStringProp("S3Region", "us-east-1");
    SetStringProp("S3Bucket", "");
    SetStringProp("S3Key", "%o/%n/%n_%d%m%y_%h%i%s.%t");
    SetStringProp("S3AccessKey", "");
    SetStringProp("S3Secret", "");
    SetIntegerProp("MaxAttachSize", 102400);
}

const CSEAPropertyRow* CSEA_S3Upload::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_S3Upload::Execute(const CSEventRecord& record) {
    const CEventActionContext context(record);
    CS3UploadJob job;
    job.sourceFile = record.fileName;
    job.endpoint = GetStringProp("S3Endpoint");
    job.region = GetStringProp("S3Region").empty() ? "us-east-1" : GetStringProp("S3Region");
    job.bucket = context.Expand(GetStringProp("S3Bucket"));
    job.key = context.Expand(GetStringProp("S3Key"));
    while (!job.key.empty() && job.key.front() == '/') {
        job.key.erase(0, 1);
    }
    job.accessKey = GetStringProp("S3AccessKey");
    job.secret = GetStringProp("S3Secret");
    job.maxSizeKb = GetIntegerProp("MaxAttachSize");
    CS3Uploader uploader([&context](const std::string& text, bool error) {
        if (error) {
            context.LogError(text);
        } else {
            context.Log(text);
        }
    });
    return uploader.Upload(job);
}
