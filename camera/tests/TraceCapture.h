#pragma once
// Switches tracing on into a temporary folder for the life of the object; Finish stops tracing
// and returns the text of every thread's trace file.

#include "foundation/Tracer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class CTraceCapture {
public:
    CTraceCapture() {
        char dirTemplate[] = "/tmp/tavrix-trace-XXXXXX";
        if (mkdtemp(dirTemplate) == nullptr) {
            ADD_FAILURE() << "no temporary folder for the trace files";
            return;
        }
        m_dir = dirTemplate;
        setenv("TAVRIX_TRACE", "yes", 1);
        CTracer::Instance().SetFilePrefixForTesting(m_dir + "/t.");
        EXPECT_TRUE(CTracer::Instance().Start());
    }
    ~CTraceCapture() { Finish(); }

    std::string Finish() {
        if (m_dir.empty()) {
            return m_text;
        }
        CTracer::Instance().Stop();
        unsetenv("TAVRIX_TRACE");
        CTracer::Instance().SetFilePrefixForTesting("");
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            std::ifstream file(entry.path());
            std::stringstream text;
            text << file.rdbuf();
            m_text += text.str();
        }
        std::filesystem::remove_all(m_dir);
        m_dir.clear();
        return m_text;
    }

private:
    std::string m_dir;
    std::string m_text;
};
