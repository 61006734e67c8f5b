#pragma once
// Where the crash handler's report and core file go, and how they are opened safely. The core
// file holds the whole memory of the process (passwords of open documents too), so:
//   - the primary files (next to the executable, or under $XDG_STATE_HOME/Tavrix/) are opened
//     without following a link and written only when they are plain files of this user's own
//     with no second name; the report is appended to, the core file replaced;
//   - when that fails, each file is created afresh (O_EXCL, 0600) under a name of its own,
//     "<program>-<pid>-<token>.report" / ".minidump", in a private folder: $XDG_STATE_HOME/Tavrix
//     when it is this user's and nobody else may write to it, else a 0700 folder of this user's
//     own in the temporary folder ("tavrix-<uid>", or a new "tavrix-<uid>-XXXXXX" when someone
//     else holds that name). Nothing is ever written into a name another user could have planted.
//
// Prepare runs when the handler is installed (it may allocate); everything else runs inside the
// signal handler and its child processes and is async-signal-safe: fixed buffers and system calls.

#include <climits>
#include <cstddef>
#include <string>
#include <sys/types.h>

class CCrashFiles {
public:
    // basePath: the primary files are basePath + ".report" and + ".minidump"; privateDir and
    // tempDir as described above.
    void Prepare(const std::string& basePath, const std::string& privateDir, const std::string& tempDir);

    // A new token for the fallback names, so that the report and the core file of one crash are
    // named alike. Called once per crash before either file is opened.
    void NewToken();

    // Descriptors for writing (-1 when neither place can be used). The report is positioned for
    // appending, the core file empty.
    int OpenReport() const;
    int OpenMinidump() const;

    const char* ReportPath() const { return m_reportPath; }
    const char* MinidumpPath() const { return m_dumpPath; }

private:
    int OpenFallback(const char* suffix) const;
    int OpenFallbackFolder() const;

    char m_reportPath[PATH_MAX] = {};
    char m_dumpPath[PATH_MAX] = {};
    char m_privateDir[PATH_MAX] = {};
    char m_tempDir[PATH_MAX] = {};
    char m_programName[NAME_MAX / 2] = {};
    char m_token[8] = {};
    pid_t m_pid = 0;
};
