#include "app/JournalLog.h"

#include "persistence/SecretText.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

void SendToJournal(const std::vector<std::string>& fields) {
    std::vector<iovec> vector;
    vector.reserve(fields.size());
    for (const std::string& field : fields) {
        vector.push_back({const_cast<char*>(field.data()), field.size()});
    }
    // A journal that is gone (stopped, or not reachable in a container) loses the entry, as
    // standard output would; the notification log keeps it.
    sd_journal_sendv(vector.data(), static_cast<int>(vector.size()));
}

} // namespace

bool CJournalLog::RunsUnderSystemd() {
    return IsSet("INVOCATION_ID") || IsSet("JOURNAL_STREAM");
}

bool CJournalLog::IsJournalStream(int fd) {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat status {};
    return ::fstat(fd, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

std::vector<std::string> CJournalLog::Fields(const CLogEntry& entry) {
    std::vector<std::string> fields = {"MESSAGE=" + SecretText::MaskUrlPasswords(entry.text),
                                       "PRIORITY=" + std::to_string(entry.error ? LOG_ERR : LOG_INFO),
                                       "SYSLOG_IDENTIFIER=tavrix"};
    if (!entry.docName.empty()) {
        fields.push_back("DOCUMENT=" + entry.docName);
    }
    if (!entry.camName.empty()) {
        fields.push_back("CAMERA=" + entry.camName);
    }
    return fields;
}

CJournalLog::CJournalLog(bool enabled, Sender sender) : m_sender(sender ? std::move(sender) : SendToJournal) {
    if (enabled) {
        // The listener holds its own copy of the sender: a call still running on another thread when
        // the listener is removed never reaches a destroyed object.
        m_listener = CNotificationLog::Instance().AddListener(
            [sender = m_sender](const CLogEntry& entry) { sender(Fields(entry)); });
    }
}

CJournalLog::~CJournalLog() {
    if (m_listener != 0) {
        CNotificationLog::Instance().RemoveListener(m_listener);
    }
}
