#pragma once
// Turns the tracer on into a temporary folder for one test and hands back everything traced, so
// that tests can show what the trace holds (and what it never holds: passwords).

#include "foundation/Tracer.h"

#include "PeerProcess.h"

#include <cstdlib>
#include <filesystem>

class CTraceCapture {
public:
    CTraceCapture() {
        m_dir = MakeTempDir("actions-trace-");
        setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        setenv("TAVRIX_TRACE", "yes", 1);
        CTracer::Instance().SetFilePrefixForTesting(m_dir + "/trace.");
        m_started = CTracer::Instance().Start();
    }
    ~CTraceCapture() {
        Finish();
        RemoveTree(m_dir);
    }
    bool Started() const { return m_started; }
    // Stops tracing and returns the text of every trace file.
    std::string Finish() {
        if (m_started) {
            CTracer::Instance().Stop();
            CTracer::Instance().SetFilePrefixForTesting("");
            unsetenv("TAVRIX_TRACE");
            unsetenv("XDG_CONFIG_HOME");
            m_started = false;
            for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
                if (entry.path().filename().string().rfind("trace.", 0) == 0) {
                    m_text += ReadWholeFile(entry.path().string());
                }
            }
        }
        return m_text;
    }

private:
    std::string m_dir;
    std::string m_text;
    bool m_started = false;
};
