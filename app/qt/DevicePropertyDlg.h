#pragma once
// CDevicePropertyDlg: the capture device's own settings (brightness, contrast, white balance,
// exposure, ...): the controls that a V4L2 camera driver offers, each with an editor of its kind
// (slider for integers, check box for booleans, list for menus, button for actions). A change is
// applied to the device at once, as a driver's property page does. Test sources have no such
// settings.
//
// The device is opened, read and written on a worker thread of the dialog's own (one at a time,
// in order), never on the GUI thread. GUI thread only for the dialog itself.

#include <QDialog>
#include <QThreadPool>

#include <cstdint>
#include <string>
#include <vector>

class QFormLayout;
class QLabel;

class CDevicePropertyDlg : public QDialog {
    Q_OBJECT
public:
    // One control of the driver.
    struct Control {
        uint32_t id = 0;
        uint32_t type = 0; // V4L2_CTRL_TYPE_*
        std::string name;
        int32_t minimum = 0;
        int32_t maximum = 0;
        int32_t step = 1;
        int32_t value = 0;
        std::vector<std::pair<int32_t, std::string>> menu; // menu controls: index, name
    };

    CDevicePropertyDlg(const std::string& displayName, const QString& friendlyName,
                       QWidget* parent = nullptr);
    ~CDevicePropertyDlg() override;

    // Whether the device named by the display name has driver settings (a V4L2 camera).
    static bool Supports(const std::string& displayName);
    // Reads the controls of a V4L2 device node; throws CGeneralEx when it cannot be opened.
    static std::vector<Control> ReadControls(const std::string& devicePath);

    QLabel* StatusLabel() const { return m_status; }
    // Adds an editor row per control (called with what the worker read, or the error): the
    // controls' names are shown as the driver wrote them.
    void ShowControls(const std::vector<Control>& controls, const QString& error);

signals:
    void ControlsRead();

private:
    void Apply(uint32_t id, int32_t value);

    std::string m_devicePath;
    QLabel* m_status;
    QFormLayout* m_form;
    QThreadPool m_worker; // one thread: reads and writes reach the device in order
};
