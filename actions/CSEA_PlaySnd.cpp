#include "actions/CSEA_PlaySnd.h"

#include "actions/EventActionContext.h"
#include "actions/SoundPlayer.h"

#include <sys/stat.h>

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
    const std::string soundFile = GetStringProp("SoundFile");
    struct stat status {};
    if (!soundFile.empty() && ::stat(soundFile.c_str(), &status) == 0) {
        // Played on the player's own thread; whether it can be heard does not change the result.
        CSoundPlayer::Instance().Play(soundFile);
        return true;
    }
    CEventActionContext(record).LogError("Play Sound Event Action: Sound file '" + soundFile + "' not found");
    return false;
}
