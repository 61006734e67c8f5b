#pragma once
// Settings group "MiscSettings": start minimised, motion detection of inactive cameras, what
// minimising the main window does, the global hot key that shows a hidden main window, and whether
// a source of session lock notifications is present (found at load, never stored).
//
// A plain value: the settings manager hands out copies to any thread.

#include "persistence/Settings.h"

#include <cstdint>
#include <functional>

class CMiscSettings : public CSettings {
public:
    std::string GetName() const override { return "MiscSettings"; }
    // Order: "MiminizeMode", "MinimizeOnStartup", "DisableMDWhenInactive", "InvHK_VirtualKeyCode",
    // "InvHK_Modifiers". The lock notification flag is not written.
    void Save(CRegAccessInterface& access) const override;
    // Order: "MinimizeOnStartup", "DisableMDWhenInactive", "MiminizeMode", "InvHK_VirtualKeyCode",
    // "InvHK_Modifiers", then the lock notification probe.
    void Load(CRegAccessInterface& access) override;

    bool GetMinimizeOnStartup() const { return m_minimizeOnStartup; }
    void SetMinimizeOnStartup(bool value) { m_minimizeOnStartup = value; }
    bool GetDisableMDWhenInactive() const { return m_disableMDWhenInactive; }
    void SetDisableMDWhenInactive(bool value) { m_disableMDWhenInactive = value; }
    // 0 ordinary minimise, 1 tray icon and hide, 2 hide (the hot key brings the window back).
    int32_t GetMinimizeMode() const { return m_minimizeMode; }
    void SetMinimizeMode(int32_t mode) { m_minimizeMode = mode; }
    uint16_t GetHotKeyVirtualKeyCode() const { return m_hotKeyVirtualKeyCode; }
    void SetHotKeyVirtualKeyCode(uint16_t code) { m_hotKeyVirtualKeyCode = code; }
    // 1 Shift, 2 Control, 4 Alt.
    uint16_t GetHotKeyModifiers() const { return m_hotKeyModifiers; }
    void SetHotKeyModifiers(uint16_t modifiers) { m_hotKeyModifiers = modifiers; }
    bool GetLockNotificationInstalled() const { return m_lockNotificationInstalled; }
    // Asks the probe below. Load calls it; the settings manager calls it also when the settings
    // file has no "MiscSettings" group yet, so that the first start knows it too.
    void ProbeLockNotification();

    // Hook for the session lock support: a function that answers whether a source of lock and
    // unlock notifications is present on this machine. Until one is installed the answer is false.
    // Installed once at start-up, before the settings are loaded.
    using LockNotificationProbe = std::function<bool()>;
    static void SetLockNotificationProbe(LockNotificationProbe probe);

private:
    bool m_minimizeOnStartup = false;
    bool m_disableMDWhenInactive = false;
    int32_t m_minimizeMode = 0;
    uint16_t m_hotKeyVirtualKeyCode = 0;
    uint16_t m_hotKeyModifiers = 0;
    bool m_lockNotificationInstalled = false;
};
