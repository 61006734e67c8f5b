#include "actions/CSEA_PlaySnd.h"

namespace {
const CSEAPropertyRow kProperties[] = {
    {"SoundFile", "Sound File", SEAPropertyType::FilePath},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_PlaySnd::CSEA_PlaySnd() {
    SetStringProp("SoundFile", "");
}

const CSEAPropertyRow* CSEA_PlaySnd::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_PlaySnd::Execute(const CSEventRecord& record) {
    return ExecuteNotAvailable(record);
}
