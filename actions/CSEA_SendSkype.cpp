#include "actions/CSEA_SendSkype.h"

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
    return ExecuteNotAvailable(record);
}
