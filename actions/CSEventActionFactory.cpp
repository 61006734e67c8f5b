#include "actions/CSEventActionFactory.h"

#include "actions/CSEA_InvokeCommand.h"
#include "actions/CSEA_MqttPublish.h"
#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_S3Upload.h"
#include "actions/CSEA_SendFTP.h"
#include "actions/CSEA_SendMail.h"
#include "actions/CSEA_SendSkype.h"
#include "actions/CSEA_Webhook.h"

CSEventActionFactory& CSEventActionFactory::Instance() {
    static CSEventActionFactory instance;
    return instance;
}

std::unique_ptr<CSEventAction> CSEventActionFactory::Create(int32_t classId) const {
    switch (classId) {
    case CSEA_PlaySnd::kClassId:
        return std::make_unique<CSEA_PlaySnd>();
    case CSEA_SendMail::kClassId:
        return std::make_unique<CSEA_SendMail>();
    case CSEA_SendFTP::kClassId:
        return std::make_unique<CSEA_SendFTP>();
    case CSEA_InvokeCommand::kClassId:
        return std::make_unique<CSEA_InvokeCommand>();
    case CSEA_SendSkype::kClassId:
        return std::make_unique<CSEA_SendSkype>();
    case CSEA_Webhook::kClassId:
        return std::make_unique<CSEA_Webhook>();
    case CSEA_MqttPublish::kClassId:
        return std::make_unique<CSEA_MqttPublish>();
    case CSEA_S3Upload::kClassId:
        return std::make_unique<CSEA_S3Upload>();
    default:
        return nullptr;
    }
}

std::unique_ptr<CSEventAction> CSEventActionFactory::Clone(const CSEventAction& action) const {
    auto copy = Create(action.GetClassId());
    if (copy) {
        copy->CopyPropertiesFrom(action);
    }
    return copy;
}

const int32_t* CSEventActionFactory::GetCreatableClasses() const {
    static const int32_t kClasses[] = {1, 2, 3, 5, 4, 6, 7, 8, -1};
    return kClasses;
}
