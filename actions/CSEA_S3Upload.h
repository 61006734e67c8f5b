#pragma once
// The "S3 Upload" event action (class id 8): stores the event's recording in S3-compatible storage
// (AWS, MinIO, Ceph RGW, Garage) under a key built from a template, signed with the access key and
// its secret (S3Uploader.h); files larger than one part go as a multipart upload; the size limit
// is the FTP upload's. The secret is masked in the chain editor and never logged.
//
// Execute runs on the thread that runs the event's chain and keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_S3Upload : public CSEventAction {
public:
    static constexpr int32_t kClassId = 8;

    CSEA_S3Upload();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "S3 Upload"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
