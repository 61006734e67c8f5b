#include "actions/CSEA_SendSkype.h"

#include "actions/EventActionContext.h"
#include "actions/SkypeSession.h"
#include "foundation/Exceptions.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"Recipient", "Recipient Address", SEAPropertyType::Text},
    {"Text", "Text", SEAPropertyType::Text},
    {nullptr, nullptr, 0},
};
} // namespace

// The chat action has no defaults: both texts stay unset until the user enters them.
CSEA_SendSkype::CSEA_SendSkype() = default;

const CSEAPropertyRow* CSEA_SendSkype::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_SendSkype::Execute(const CSEventRecord& record) {
    const std::string text = GetStringProp("Text");
    const std::string recipient = GetStringProp("Recipient");
    const CEventActionContext context(record);
    const std::string message = context.Expand(text);
    context.Log("Send Skype Event Action: sending message '" + message + "' to '" + recipient + "'");
    CSkypeConnection connection;
    try {
        connection.Attach();
        const std::string chat = connection.CreateChat(recipient);
        const bool sent = connection.SendChatMessage(chat, message);
        connection.Close();
        if (!sent) {
            // The client answered the message with an error: that is no "Message sent".
            context.LogError("Send Skype Event Action: Error while sending a chat message: " +
                             connection.GetLastError());
            return false;
        }
    } catch (const CSkypeEx& e) {
        context.LogError("Send Skype Event Action: Error while sending a chat message: " + e.GetMessage());
        connection.Close();
        return false;
    }
    context.Log("Send Skype Event Action: Message sent");
    return true;
}
