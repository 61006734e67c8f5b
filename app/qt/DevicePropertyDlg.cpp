#include "app/qt/DevicePropertyDlg.h"

#include "app/qt/BackgroundTask.h"
#include "app/qt/FormRows.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "recording/CaptureSourceName.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int Ioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

class CDeviceFile {
public:
    explicit CDeviceFile(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~CDeviceFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

std::string DevicePathOf(const std::string& displayName) {
    try {
        const CCaptureSourceName name = CCaptureSourceName::Parse(displayName);
        return name.kind == CCaptureSourceName::Kind::V4l2 ? name.devicePath : std::string();
    } catch (const CBaseException&) {
        return {};
    }
}

} // namespace

bool CDevicePropertyDlg::Supports(const std::string& displayName) {
    return !DevicePathOf(displayName).empty();
}

std::vector<CDevicePropertyDlg::Control> CDevicePropertyDlg::ReadControls(const std::string& devicePath) {
    CDeviceFile device(devicePath);
    if (device.Fd() < 0) {
        THROW_GENERAL("Unable to open the capture device '" + devicePath + "': " + std::strerror(errno));
    }
    std::vector<Control> controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Ioctl(device.Fd(), VIDIOC_QUERYCTRL, &query) == 0) {
        const bool usable = !(query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) &&
                            (query.type == V4L2_CTRL_TYPE_INTEGER || query.type == V4L2_CTRL_TYPE_BOOLEAN ||
                             query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_BUTTON);
        if (usable) {
            Control control;
            control.id = query.id;
            control.type = query.type;
            control.name = reinterpret_cast<const char*>(query.name);
            control.minimum = query.minimum;
            control.maximum = query.maximum;
            control.step = query.step > 0 ? query.step : 1;
            v4l2_control current{};
            current.id = query.id;
            control.value =
                Ioctl(device.Fd(), VIDIOC_G_CTRL, &current) == 0 ? current.value : query.default_value;
            if (query.type == V4L2_CTRL_TYPE_MENU) {
                for (int32_t index = query.minimum; index <= query.maximum; ++index) {
                    v4l2_querymenu item{};
                    item.id = query.id;
                    item.index = static_cast<uint32_t>(index);
                    if (Ioctl(device.Fd(), VIDIOC_QUERYMENU, &item) == 0) {
                        control.menu.emplace_back(index, reinterpret_cast<const char*>(item.name));
                    }
                }
            }
            controls.push_back(std::move(control));
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

CDevicePropertyDlg::CDevicePropertyDlg(const std::string& displayName, const QString& friendlyName,
                                       QWidget* parent)
    : QDialog(parent), m_devicePath(DevicePathOf(displayName)) {
    setWindowTitle(QString("%1 Properties").arg(friendlyName));
    m_worker.setMaxThreadCount(1);
    m_status = new QLabel("Reading the settings of the device...", this);
    m_status->setWordWrap(true);
    m_form = new QFormLayout;
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addLayout(m_form);
    layout->addWidget(buttons);

    if (m_devicePath.empty()) {
        m_status->setText("This device has no settings of its own.");
        return;
    }
    QPointer<CDevicePropertyDlg> guard(this);
    const std::string path = m_devicePath;
    m_worker.start([guard, path] {
        std::vector<Control> controls;
        QString error;
        try {
            controls = ReadControls(path);
        } catch (const CBaseException& e) {
            error = QString::fromStdString(e.GetMessage());
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, controls, error] {
                if (guard) {
                    guard->ShowControls(controls, error);
                }
            },
            Qt::QueuedConnection);
    });
}

CDevicePropertyDlg::~CDevicePropertyDlg() {
    m_worker.waitForDone();
}

void CDevicePropertyDlg::ShowControls(const std::vector<Control>& controls, const QString& error) {
    if (!error.isEmpty()) {
        m_status->setText(error);
    } else if (controls.empty()) {
        m_status->setText("The device offers no settings.");
    } else {
        m_status->clear();
        m_status->hide();
    }
    for (const Control& control : controls) {
        const QString name = FormRows::Literal(QString::fromStdString(control.name));
        const uint32_t id = control.id;
        switch (control.type) {
        case V4L2_CTRL_TYPE_BOOLEAN: {
            auto* box = new QCheckBox(this);
            box->setChecked(control.value != 0);
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { Apply(id, on ? 1 : 0); });
            m_form->addRow(name + ":", box);
            break;
        }
        case V4L2_CTRL_TYPE_MENU: {
            auto* combo = new QComboBox(this);
            for (const auto& [index, text] : control.menu) {
                combo->addItem(QString::fromStdString(text), index);
            }
            combo->setCurrentIndex(std::max(0, combo->findData(control.value)));
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [this, id, combo](int) { Apply(id, combo->currentData().toInt()); });
            m_form->addRow(name + ":", combo);
            break;
        }
        case V4L2_CTRL_TYPE_BUTTON: {
            auto* button = new QPushButton(name, this);
            connect(button, &QPushButton::clicked, this, [this, id] { Apply(id, 1); });
            m_form->addRow(button);
            break;
        }
        default: {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setRange(control.minimum, control.maximum);
            slider->setSingleStep(control.step);
            slider->setValue(control.value);
            auto* value = new QLabel(QString::number(control.value), this);
            connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                value->setText(QString::number(v));
                Apply(id, v);
            });
            auto* row = new QHBoxLayout;
            row->addWidget(slider, 1);
            row->addWidget(value);
            FormRows::AddRow(m_form, name + ":", row, slider);
            break;
        }
        }
    }
    emit ControlsRead();
}

void CDevicePropertyDlg::Apply(uint32_t id, int32_t value) {
    const std::string path = m_devicePath;
    m_worker.start([path, id, value] {
        CDeviceFile device(path);
        v4l2_control control{};
        control.id = id;
        control.value = value;
        if (device.Fd() < 0 || Ioctl(device.Fd(), VIDIOC_S_CTRL, &control) != 0) {
            TRACE("CDevicePropertyDlg::Apply() control %#x = %d on '%s' failed: %s", id, value, path.c_str(),
                  std::strerror(errno));
        }
    });
}
