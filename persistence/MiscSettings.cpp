#include "persistence/MiscSettings.h"

#include <mutex>

namespace {
std::mutex g_probeLock;
CMiscSettings::LockNotificationProbe g_probe;
} // namespace

void CMiscSettings::SetLockNotificationProbe(LockNotificationProbe probe) {
    std::lock_guard<std::mutex> lock(g_probeLock);
    g_probe = std::move(probe);
}

void CMiscSettings::Save(CRegAccessInterface& access) const {
    access.WriteDword("MiminizeMode", static_cast<uint32_t>(m_minimizeMode));
    access.WriteDword("MinimizeOnStartup", m_minimizeOnStartup ? 1 : 0);
    access.WriteDword("DisableMDWhenInactive", m_disableMDWhenInactive ? 1 : 0);
    access.WriteDword("InvHK_VirtualKeyCode", m_hotKeyVirtualKeyCode);
    access.WriteDword("InvHK_Modifiers", m_hotKeyModifiers);
}

void CMiscSettings::Load(CRegAccessInterface& access) {
    uint32_t value = 0;
    access.ReadDword("MinimizeOnStartup", value);
    m_minimizeOnStartup = value != 0;
    access.ReadDword("DisableMDWhenInactive", value);
    m_disableMDWhenInactive = value != 0;
    access.ReadDword("MiminizeMode", value);
    m_minimizeMode = static_cast<int32_t>(value);
    // Only the low 16 bits of the hot key values are used.
    access.ReadDword("InvHK_VirtualKeyCode", value);
    m_hotKeyVirtualKeyCode = static_cast<uint16_t>(value & 0xFFFF);
    access.ReadDword("InvHK_Modifiers", value);
    m_hotKeyModifiers = static_cast<uint16_t>(value & 0xFFFF);
    ProbeLockNotification();
}

void CMiscSettings::ProbeLockNotification() {
    LockNotificationProbe probe;
    {
        std::lock_guard<std::mutex> lock(g_probeLock);
        probe = g_probe;
    }
    m_lockNotificationInstalled = probe ? probe() : false;
}
