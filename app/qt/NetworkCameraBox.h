#pragma once
// CNetworkCameraBox: the part of the camera's Video page where a network camera or a video file is
// chosen as the capture device: the camera's address (rtsp://, http://, ...), its user and password
// apart (the password hidden), or a video file played as a camera, and "Test", which shows what
// the address serves (codec, size, rate, decoder) or why it serves nothing, without blocking the
// dialog. The display name it gives (DisplayName) holds user and password, percent-encoded; every
// text it shows has the password masked. An address pasted with "user:password@" in it is split
// into the fields.
//
// GUI thread only; the probe runs on a thread of its own and its result is posted back.

#include "network/StreamProbe.h"

#include <QGroupBox>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CNetworkCameraBox : public QGroupBox {
    Q_OBJECT
public:
    explicit CNetworkCameraBox(QWidget* parent = nullptr);

    // Whether a display name is one this box edits (rtsp://, rtsps://, http://, https://, file:).
    static bool IsNetworkName(const QString& displayName);
    // Fills the fields from a stored display name.
    void SetDisplayName(const QString& displayName);
    // The display name the fields make: the address with "user:password@" put in.
    QString DisplayName() const;
    // The same with the password masked, for anything shown.
    QString ShownName() const;
    // Empty when the fields make a name that can be used, else what is wrong.
    QString Problem() const;

    QLineEdit* AddressField() const { return m_address; }
    QLineEdit* UserField() const { return m_user; }
    QLineEdit* PasswordField() const { return m_password; }
    QCheckBox* LoopField() const { return m_loop; }
    QPushButton* TestButton() const { return m_test; }
    QPushButton* FileButton() const { return m_file; }
    QLabel* ResultLabel() const { return m_result; }
    // The last test's result, once it came.
    const CStreamProbeResult* LastResult() const { return m_hasResult ? &m_lastResult : nullptr; }

    // How long a test may take; tests on a busy machine allow more.
    void SetTestTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

signals:
    // The display name the fields make changed.
    void NameChanged();
    // A test's result is shown.
    void TestFinished();

private:
    void OnAddressEdited();
    void PickFile();
    void StartTest();
    void OnResult(uint64_t generation, const CStreamProbeResult& result);
    void UpdateFields();

    QLineEdit* m_address;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_loop;
    QPushButton* m_file;
    QPushButton* m_test;
    QLabel* m_result;
    CStreamProbe m_probe;
    uint64_t m_generation = 0; // of the test under way; results of older ones are dropped
    bool m_hasResult = false;
    CStreamProbeResult m_lastResult;
    std::chrono::milliseconds m_timeout = CStreamProbe::kDefaultTimeout;
};
