#pragma once
// A mail as the test SMTP server received it, read back from the files it wrote: what Python's own
// mail parser made of it (header fields, defects, body, attachments) and the raw text.

#include "PeerProcess.h"

#include <glib.h>

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

struct CReceivedMail {
    bool found = false;
    std::string raw;
    std::string body;
    std::string mailFrom, rcptTos, defects;
    bool authenticated = false, dateOk = false, multipart = false;
    int attachments = 0;
    GKeyFile* keys = nullptr;

    // Mail number n (from 1) in folder, waiting up to 5 s for it.
    CReceivedMail(const std::string& folder, int n) : m_base(folder + "/" + std::to_string(n)) {
        for (int i = 0; i < 500 && access((m_base + ".eml").c_str(), F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        keys = g_key_file_new();
        found = g_key_file_load_from_file(keys, (m_base + ".summary").c_str(), G_KEY_FILE_NONE, nullptr);
        if (!found) {
            return;
        }
        raw = ReadWholeFile(m_base + ".eml");
        body = ReadWholeFile(m_base + ".body");
        mailFrom = Value("mail", "mail_from");
        rcptTos = Value("mail", "rcpt_tos");
        defects = Value("mail", "defects");
        authenticated = Value("mail", "authenticated") == "1";
        dateOk = Value("mail", "date_ok") == "1";
        multipart = Value("mail", "multipart") == "1";
        attachments = std::atoi(Value("mail", "attachments").c_str());
    }
    ~CReceivedMail() { g_key_file_unref(keys); }
    CReceivedMail(const CReceivedMail&) = delete;
    CReceivedMail& operator=(const CReceivedMail&) = delete;

    std::string Value(const char* group, const char* key) const {
        gchar* value = g_key_file_get_value(keys, group, key, nullptr);
        std::string text = value ? value : "";
        g_free(value);
        return text;
    }
    std::string Header(const char* name) const { return Value("header", name); }
    std::string AttachmentValue(int index, const char* key) const {
        return Value(("attachment" + std::to_string(index)).c_str(), key);
    }
    std::string AttachmentContent(int index) const {
        return ReadWholeFile(m_base + ".att" + std::to_string(index));
    }

private:
    std::string m_base;
};
